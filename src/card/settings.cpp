// The settings file "PS2M.cfg": the parallel port base on line 1 and the
// connection delay on line 2, both in decimal, each line ended by CR LF.
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "card/fileaccess.h"
#include "common/atomic_file.h"
#include "common/errors.h"

namespace travosk::card {

namespace {

constexpr const char* kDefaultPort = "888";  // 0x378, LPT1
constexpr const char* kDefaultDelay = "00000000";
// The file is two short lines; anything beyond this is not read.
constexpr std::streamsize kMaxSettingsBytes = 4096;
// How much of a bad line the error message quotes.
constexpr size_t kMaxQuoted = 64;

// The first two lines of the file, without their CR LF (a bare LF works too).
std::vector<std::string> ReadLines(std::ifstream& in) {
  std::string text(static_cast<size_t>(kMaxSettingsBytes), '\0');
  in.read(text.data(), kMaxSettingsBytes);
  text.resize(static_cast<size_t>(in.gcount()));
  std::vector<std::string> lines;
  size_t start = 0;
  while (lines.size() < 2 && start < text.size()) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? end : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// A decimal integer with an optional sign and surrounding blanks, within the
// 32-bit signed range; nothing when the text is anything else.
std::optional<int32_t> ParseDecimal(const std::string& text) {
  size_t i = 0;
  size_t end = text.size();
  while (i < end && IsBlank(text[i])) ++i;
  while (end > i && IsBlank(text[end - 1])) --end;
  bool negative = false;
  if (i < end && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == end) return std::nullopt;
  int64_t value = 0;
  for (; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{1} << 31) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return static_cast<int32_t>(value);
}

std::string Quoted(const std::string& text) {
  return text.size() <= kMaxQuoted ? text : text.substr(0, kMaxQuoted) + "...";
}

}  // namespace

void TPSfileaccess::LoadSettings() {
  std::string port_text = kDefaultPort;
  std::string delay_text = kDefaultDelay;
  if (SettingsFolder.empty()) SettingsFolder = "./";
  if (SettingsFolder.back() != '/') SettingsFolder += '/';

  const std::string path = SettingsPath();
  std::ifstream in(path, std::ios::binary);
  if (in) {
    std::vector<std::string> lines = ReadLines(in);
    if (lines.size() > 0) port_text = lines[0];
    if (lines.size() > 1) delay_text = lines[1];
  } else {
    // A missing file is created with the defaults. Failing to create it loses
    // nothing: the defaults hold for this run and the next one tries again.
    std::ofstream out(path, std::ios::binary);
    out << kDefaultPort << "\r\n" << kDefaultDelay << "\r\n";
  }
  if (port_text.empty()) port_text = kDefaultPort;
  if (delay_text.empty()) delay_text = kDefaultDelay;

  // A bad line takes its default and is reported once both settings are in
  // place, so the caller can show the error and go on with a working object.
  std::optional<std::string> bad_text;
  std::optional<int32_t> port = ParseDecimal(port_text);
  if (!port) {
    bad_text = port_text;
    port = ParseDecimal(kDefaultPort);
  }
  std::optional<int32_t> delay = ParseDecimal(delay_text);
  if (!delay) {
    if (!bad_text) bad_text = delay_text;
    delay = 0;
  }
  if (Com) {
    Com->PortBase = static_cast<uint16_t>(*port);
    Com->ConnectDelay = *delay;
  }
  if (bad_text) throw ConversionError(Quoted(*bad_text));
}

void TPSfileaccess::SaveSettings(uint16_t port_base, int32_t delay) {
  // Replaced through a temporary file, so a failed write never leaves a
  // half-written settings file behind; the failure is reported, not hidden.
  AtomicFile out(SettingsPath());
  out.stream() << port_base << "\r\n" << delay << "\r\n";
  out.Commit();
}

}  // namespace travosk::card
