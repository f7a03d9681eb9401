// The command line's commands; each answers an exit code.
#pragma once

#include <memory>
#include <string>

#include "cli/context.h"

namespace travosk::cli {

// Opens the source and checks that it answers and holds a PS2 file system
// card; on failure `code` holds the exit code.
std::unique_ptr<Source> OpenPS2(Context& c, int& code);

int Devices(Context& c);
int ListSaves(Context& c);
int ListSave(Context& c, const std::string& save);
int Extract(Context& c, const std::string& save_file, const std::string& out_path);
int DeleteSave(Context& c, const std::string& save);
int FormatCard(Context& c);
int MakeFileSystem(Context& c);
int BackupSave(Context& c, const std::string& save, const std::string& file,
               const std::string& format);
int BackupAll(Context& c, const std::string& folder, const std::string& format, bool overwrite);
// Save files between formats, and card images between layouts.
int Convert(Context& c, const std::string& in, const std::string& out, const std::string& format,
            bool overwrite);
int RestoreSave(Context& c, const std::string& file, bool overwrite, bool keep_both);
int PcFormat(Context& c, const std::string& size);
int ShowConfig(Context& c, int port, int delay);

int PS1List(Context& c);
// The writer is `format` (mcs, psx, raw) or else the one the file's name asks for.
int PS1Backup(Context& c, int entry, const std::string& file, const std::string& format = {});
int PS1Restore(Context& c, const std::string& file, bool overwrite, bool keep_both);
int PS1Delete(Context& c, int entry);
int PS1Dump(Context& c, const std::string& file);
int PS1Write(Context& c, const std::string& file);
int PS1Format(Context& c);

// `repair`: plan the mending of what the check found, show it, and commit it
// when confirmed.
int Check(Context& c, bool repair);
int WriteIcon(Context& c, const std::string& save, const std::string& out_path, int size,
              long long frame);

}  // namespace travosk::cli
