// What the command line writes to the PC: the format a name and --format ask
// for, which must agree, and the rule that an existing file is replaced only
// with --overwrite.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/context.h"
#include "formats/files.h"
#include "formats/images.h"

namespace travosk::cli {

// False, with the failure reported in `code`, when `path` is a folder, or
// is a file and `overwrite` was not given.
bool MayWrite(Context& c, const std::string& path, bool overwrite, int& code);

// The save format to write `path` in, out of `allowed` (the first the
// default of `kind`, "PS2 save" or "PS1 save"): --format when given, which
// the name's extension must not contradict, else the one the extension
// names. nullopt, with the failure in `code`, when neither says one of
// `allowed` or they disagree.
std::optional<formats::SaveFormat> ChooseSaveFormat(Context& c, const std::string& path,
                                                    const std::string& format_name,
                                                    const std::vector<formats::SaveFormat>& allowed,
                                                    const std::string& kind, int& code);

// The same for card images: a layout of the same card kind as `ps1` says,
// from --format or the extension; `keep` (when the input's extension is the
// output's) wins over the extension's default.
std::optional<formats::ImageFormat> ChooseImageFormat(Context& c, const std::string& path,
                                                      const std::string& format_name, bool ps1,
                                                      std::optional<formats::ImageFormat> keep,
                                                      int& code);

}  // namespace travosk::cli
