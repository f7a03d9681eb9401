#include "cli/outputs.h"

#include <algorithm>
#include <filesystem>

namespace travosk::cli {

namespace {

template <class T>
bool Has(const std::vector<T>& v, T x) {
  return std::find(v.begin(), v.end(), x) != v.end();
}

template <class T, class NameOf>
std::string Names(const std::vector<T>& v, NameOf name, const std::string& lead = "") {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i)
    out += (i == 0 ? "" : i + 1 == v.size() ? " or " : ", ") + lead + std::string(name(v[i]));
  return out;
}

}  // namespace

bool MayWrite(Context& c, const std::string& path, bool overwrite, int& code) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    code = c.Fail("\"" + path + "\" is a folder, not a file");
    return false;
  }
  if (!overwrite && std::filesystem::exists(path, ec)) {
    code = c.Fail("\"" + path + "\" exists: add --overwrite to replace it");
    return false;
  }
  return true;
}

std::optional<formats::SaveFormat> ChooseSaveFormat(Context& c, const std::string& path,
                                                    const std::string& format_name,
                                                    const std::vector<formats::SaveFormat>& allowed,
                                                    const std::string& kind, int& code) {
  const auto names = Names(allowed, formats::FormatName);
  const auto named = formats::SaveFormatsForPath(path);
  if (!format_name.empty()) {
    const auto chosen = formats::FormatByName(format_name);
    if (!chosen || !Has(allowed, *chosen)) {
      code = c.Fail("a " + kind + " is written as " + names + ", not " + format_name);
      return std::nullopt;
    }
    if (!named.empty() && !Has(named, *chosen)) {
      code = c.Fail("\"" + path + "\" is named as a ." + std::string(formats::FormatName(named[0])) +
                    " file, not " + format_name + ": give it a name that fits");
      return std::nullopt;
    }
    return chosen;
  }
  for (auto f : named)
    if (Has(allowed, f)) return f;
  code = c.Fail(named.empty() ? "\"" + path + "\" names no save format: end it in " +
                                    Names(allowed, formats::FormatName, ".") + ", or give --format"
                              : "a " + kind + " is written as " + names + ", not as \"" + path +
                                    "\"");
  return std::nullopt;
}

std::optional<formats::ImageFormat> ChooseImageFormat(Context& c, const std::string& path,
                                                      const std::string& format_name, bool ps1,
                                                      std::optional<formats::ImageFormat> keep,
                                                      int& code) {
  const std::string kind = ps1 ? "PS1 card image" : "PS2 card image";
  std::vector<formats::ImageFormat> allowed;
  for (auto f : {formats::ImageFormat::kPs2Raw, formats::ImageFormat::kPs2NoEcc,
                 formats::ImageFormat::kPs1Raw, formats::ImageFormat::kPs1Gme,
                 formats::ImageFormat::kPs1Vgs})
    if (formats::IsPs1Image(f) == ps1) allowed.push_back(f);
  const auto names = Names(allowed, formats::ImageFormatShortName);
  std::vector<formats::ImageFormat> named;
  for (auto f : formats::ImageFormatsForPath(path))
    if (Has(allowed, f)) named.push_back(f);
  if (!format_name.empty()) {
    const auto chosen = formats::ImageFormatByName(format_name);
    if (!chosen || !Has(allowed, *chosen)) {
      code = c.Fail("a " + kind + " is written as " + names + ", not " + format_name);
      return std::nullopt;
    }
    const bool contradicts = !formats::ImageFormatsForPath(path).empty() ||
                             !formats::SaveFormatsForPath(path).empty();
    if (contradicts && !Has(named, *chosen)) {
      code = c.Fail("\"" + path + "\" is no name for a " + format_name +
                    " image: give it a name that fits");
      return std::nullopt;
    }
    return chosen;
  }
  if (keep && Has(allowed, *keep)) return keep;
  if (!named.empty()) return named[0];
  code = c.Fail("\"" + path + "\" is no name for a " + kind + " (" + names +
                "): give it a card image's extension, or --format");
  return std::nullopt;
}

}  // namespace travosk::cli
