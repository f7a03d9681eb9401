#include <CLI/CLI.hpp>

#include <iostream>

#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/context.h"
#include "common/errors.h"

namespace travosk::cli {

namespace {

// Options that every command accepts, before or after its name.
void AddSourceOptions(CLI::App& app, Context& c) {
  app.add_option("--image", c.source.image, "a card image (PS1 by its size of 131,072 bytes, else PS2)");
  app.add_option("--sm-image", c.source.sm_image, "a SmartMedia image");
  app.add_option("--slot", c.source.slot, "card or smartmedia (the adapter's slot)")
      ->check(CLI::IsMember({"card", "smartmedia"}));
  app.add_option("--workdir", c.source.workdir, "folder of the settings and the cache's temp file");
  app.add_flag("--json", c.json, "print the facts as JSON");
  app.add_flag("--yes,-y", c.yes, "confirm destructive commands without asking");
}

}  // namespace

int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err, const Terminal& terminal) {
  Context c(in, out, err, terminal);
  CLI::App app{"travosk-cli: PS2 and PS1 memory cards and SmartMedia through the adapter"};
  app.require_subcommand(1);
  app.fallthrough();
  AddSourceOptions(app, c);

  std::string save, file, out_path, size, format, all_folder;
  bool overwrite = false, keep_both = false;
  int entry = -1, port = -1, delay = -1;
  std::function<int()> action;

  app.add_subcommand("devices", "list the adapters found and what their slots hold")
      ->callback([&] { action = [&] { return Devices(c); }; });
  auto* ls = app.add_subcommand("ls", "list the saves, or the files of one save");
  ls->add_option("SAVE", save, "a save folder");
  ls->callback([&] { action = [&] { return save.empty() ? ListSaves(c) : ListSave(c, save); }; });
  auto* extract = app.add_subcommand("extract", "copy one file of a save to a PC file");
  extract->add_option("SAVE/FILE", file)->required();
  extract->add_option("OUT", out_path)->required();
  extract->callback([&] { action = [&] { return Extract(c, file, out_path); }; });
  auto* del = app.add_subcommand("delete", "delete a save");
  del->add_option("SAVE", save)->required();
  del->callback([&] { action = [&] { return DeleteSave(c, save); }; });
  app.add_subcommand("format", "erase the whole card (the console then sees an unformatted card)")
      ->callback([&] { action = [&] { return FormatCard(c); }; });
  app.add_subcommand("mkfs", "write an empty PS2 file system")
      ->callback([&] { action = [&] { return MakeFileSystem(c); }; });
  auto* backup = app.add_subcommand(
      "backup", "back a save up to a .psu (or .max) file, or every save with --all DIR");
  backup->add_option("SAVE", save);
  backup->add_option("FILE", file);
  backup->add_option("--format", format, "psu or max (by default the file's extension)")
      ->check(CLI::IsMember({"psu", "max"}));
  backup->add_option("--all", all_folder, "write every save into this folder, one file each");
  backup->add_flag("--overwrite", overwrite, "with --all: replace files that exist");
  backup->callback([&] {
    action = [&] {
      if (!all_folder.empty()) {
        if (!save.empty()) return c.Fail("give --all DIR or SAVE FILE, not both");
        return BackupAll(c, all_folder, format, overwrite);
      }
      if (save.empty() || file.empty()) return c.Fail("give SAVE FILE, or --all DIR");
      return BackupSave(c, save, file, format);
    };
  });
  auto* convert = app.add_subcommand("convert",
                                     "convert a save file (.psu .psd .max .cbs .sps .xps .psv, PS1 "
                                     "saves) or a card image to another format");
  convert->add_option("IN", file)->required();
  convert->add_option("OUT", out_path)->required();
  convert->add_option("--format", format,
                      "psu, max, mcs, psx or raw for saves; ps2, ps2-noecc, ps1, gme or vgs for "
                      "card images "
                      "(by default the extension of OUT)");
  convert->add_flag("--overwrite", overwrite, "replace OUT when it exists");
  convert->callback(
      [&] { action = [&] { return Convert(c, file, out_path, format, overwrite); }; });
  auto* restore =
      app.add_subcommand("restore", "put a save (.psu .psd .max .cbs .sps .xps .psv) on the card");
  restore->add_option("FILE", file)->required();
  restore->add_flag("--overwrite", overwrite, "replace a save of the same name");
  restore->add_flag("--keep-both", keep_both, "keep a save of the same name beside the new one");
  restore->callback([&] { action = [&] { return RestoreSave(c, file, overwrite, keep_both); }; });
  auto* pcformat = app.add_subcommand("pcformat", "turn the SmartMedia into a PC card");
  pcformat->add_option("--size", size)->required()->check(CLI::IsMember({"4M", "8M", "16M", "32M"}));
  pcformat->callback([&] { action = [&] { return PcFormat(c, size); }; });
  auto* config = app.add_subcommand("config", "show or set the link settings");
  config->add_option("--port", port, "parallel port base (decimal)");
  config->add_option("--delay", delay, "connection delay in seconds");
  config->callback([&] { action = [&] { return ShowConfig(c, port, delay); }; });

  int icon_size = 128;
  long long icon_frame = 0;
  auto* icon = app.add_subcommand("icon", "render a save's own icon to a PNG file");
  icon->add_option("SAVE", save)->required();
  icon->add_option("OUT", out_path, "the PNG file")->required();
  icon->add_option("--size", icon_size, "pixels a side (default 128)")->check(CLI::Range(1, 4096));
  icon->add_option("--frame", icon_frame, "frame of the animation's loop (default 0)");
  icon->callback([&] { action = [&] { return WriteIcon(c, save, out_path, icon_size, icon_frame); }; });

  bool repair = false;
  auto* check =
      app.add_subcommand("check", "check the card's file system; exit 1 when anything is wrong");
  check->add_flag("--repair", repair,
                  "free lost clusters, correct entry counts and cut chains that run into free "
                  "clusters, after showing the plan");
  check->callback([&] { action = [&] { return Check(c, repair); }; });

  auto* ps1 = app.add_subcommand("ps1", "PS1 card commands");
  ps1->require_subcommand(1);
  ps1->fallthrough();
  ps1->add_subcommand("ls", "list the saves")->callback([&] { action = [&] { return PS1List(c); }; });
  auto* ps1b = ps1->add_subcommand("backup", "copy a save to a .PS1/.mcs, .psx or raw file");
  ps1b->add_option("N", entry, "the save's first block, 1..15")->required()->check(CLI::Range(1, 15));
  ps1b->add_option("FILE", file)->required();
  ps1b->add_option("--format", format, "mcs, psx or raw (by default the file's extension)");
  ps1b->callback([&] { action = [&] { return PS1Backup(c, entry, file, format); }; });
  auto* ps1r = ps1->add_subcommand(
      "restore", "put a PS1 save (.PS1 .mcs .psx .mcb .mcx .pda .psv, raw) on the card");
  ps1r->add_option("FILE", file)->required();
  ps1r->add_flag("--overwrite", overwrite, "replace a save of the same name");
  ps1r->add_flag("--keep-both", keep_both, "keep a save of the same name beside the new one");
  ps1r->callback([&] { action = [&] { return PS1Restore(c, file, overwrite, keep_both); }; });
  auto* ps1d = ps1->add_subcommand("delete", "delete a save");
  ps1d->add_option("N", entry, "the save's first block, 1..15")->required()->check(CLI::Range(1, 15));
  ps1d->callback([&] { action = [&] { return PS1Delete(c, entry); }; });
  auto* dump = ps1->add_subcommand("dump", "copy the whole card to a .pss image");
  dump->add_option("FILE", file)->required();
  dump->callback([&] { action = [&] { return PS1Dump(c, file); }; });
  auto* write = ps1->add_subcommand("write", "write a .pss image to the whole card");
  write->add_option("FILE", file)->required();
  write->callback([&] { action = [&] { return PS1Write(c, file); }; });
  ps1->add_subcommand("format", "erase the card's directory block")
      ->callback([&] { action = [&] { return PS1Format(c); }; });

  for (auto* sub : app.get_subcommands({})) sub->fallthrough();

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
      out << app.help();
      return kExitOk;
    }
    err << "travosk-cli: " << e.what() << "\n";
    return kExitUsage;
  }
  if (!c.source.image.empty() && !c.source.sm_image.empty()) {
    err << "travosk-cli: give --image or --sm-image, not both\n";
    return kExitUsage;
  }
  try {
    return action ? action() : kExitUsage;
  } catch (const InOutError& e) {
    return c.Fail(e.what());
  } catch (const CardError& e) {
    return c.Fail(e.what());
  } catch (const std::exception& e) {
    return c.Fail(e.what());
  }
}

}  // namespace travosk::cli
