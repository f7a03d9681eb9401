#include "cli/table.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <string>
#include <type_traits>

#include "cli/commands.h"
#include "cli/context.h"

namespace travosk::cli {

namespace {

// A row's `declare`: `define` adds the arguments to the command's parser,
// bound to an options value of the command's own, which `run` then takes.
template <class Options>
std::function<Runner(CLI::App&)> Declare(
    int (*run)(Context&, const Options&),
    std::type_identity_t<void (*)(CLI::App&, Options&)> define = nullptr) {
  return [run, define](CLI::App& app) {
    auto options = std::make_shared<Options>();
    if (define) define(app, *options);
    return Runner([run, options](Context& c) { return run(c, *options); });
  };
}

void AddRestoreOptions(CLI::App& app, RestoreOptions& o) {
  app.add_option("FILE", o.file)->required();
  app.add_flag("--overwrite", o.overwrite, "replace a save of the same name");
  app.add_flag("--keep-both", o.keep_both, "keep a save of the same name beside the new one");
}

void AddBlock(CLI::App& app, int& block) {
  app.add_option("N", block, "the save's first block, 1..15")->required()->check(CLI::Range(1, 15));
}

void AddImageFile(CLI::App& app, ImageFileOptions& o) {
  app.add_option("FILE", o.file)->required();
}

}  // namespace

const std::vector<Command>& Commands() {
  static const std::vector<Command> table = {
      {"devices", "list the adapters and PS1 card readers found and what their slots hold", Declare(Devices)},
      {"ls", "list the saves, or the files of one save",
       Declare<ListOptions>(List,
                            [](CLI::App& app, ListOptions& o) {
                              app.add_option("SAVE", o.save, "a save folder");
                            })},
      {"extract", "copy one file of a save to a PC file",
       Declare<ExtractOptions>(Extract,
                               [](CLI::App& app, ExtractOptions& o) {
                                 app.add_option("SAVE/FILE", o.save_file)->required();
                                 app.add_option("OUT", o.out)->required();
                               })},
      {"delete", "delete a save",
       Declare<DeleteOptions>(DeleteSave,
                              [](CLI::App& app, DeleteOptions& o) {
                                app.add_option("SAVE", o.save)->required();
                              })},
      {"erase", "erase the whole card (the console then sees an unformatted card)",
       Declare(FormatCard)},
      {"format", "format the card: an empty PS2 file system (every save is lost)",
       Declare(MakeFileSystem)},
      {"mkfs", "another name of format", Declare(MakeFileSystem)},
      {"backup", "back a save up to a .psu (or .max) file, or every save with --all DIR",
       Declare<BackupOptions>(
           Backup,
           [](CLI::App& app, BackupOptions& o) {
             app.add_option("SAVE", o.save);
             app.add_option("FILE", o.file);
             app.add_option("--format", o.format, "psu or max (by default the file's extension)")
                 ->check(CLI::IsMember({"psu", "max"}));
             app.add_option("--all", o.all_folder,
                            "write every save into this folder, one file each");
             app.add_flag("--overwrite", o.overwrite, "replace files that exist");
           })},
      {"convert",
       "convert a save file (.psu .psd .max .cbs .sps .xps .psv, PS1 saves) or a card image to "
       "another format",
       Declare<ConvertOptions>(
           Convert,
           [](CLI::App& app, ConvertOptions& o) {
             app.add_option("IN", o.in)->required();
             app.add_option("OUT", o.out)->required();
             app.add_option("--format", o.format,
                            "psu, max, mcs, psx or raw for saves; ps2, ps2-noecc, ps1, gme or vgs "
                            "for card images (by default the extension of OUT)");
             app.add_option("--size", o.size,
                            "1M, 2M, 4M, 8M, 16M, 32M or 64M: a PS2 card's saves onto a fresh "
                            "card of that size (by default the card keeps its size and bytes)")
                 ->check(CLI::IsMember({"1M", "2M", "4M", "8M", "16M", "32M", "64M"}));
             app.add_flag("--overwrite", o.overwrite, "replace OUT when it exists");
           })},
      {"new", "make a formatted blank card image (PS2 with or without ECC, PS1 raw, .gme, .vgs)",
       Declare<NewOptions>(
           NewImage,
           [](CLI::App& app, NewOptions& o) {
             app.add_option("FILE", o.file)->required();
             app.add_option("--kind", o.kind, "ps2 or ps1 (by default what the name says)")
                 ->check(CLI::IsMember({"ps2", "ps1"}));
             app.add_option("--size", o.size,
                            "1M, 2M, 4M, 8M, 16M, 32M or 64M, for a PS2 card (default 8M)")
                 ->check(CLI::IsMember({"1M", "2M", "4M", "8M", "16M", "32M", "64M"}));
             app.add_option("--format", o.format,
                            "ps2, ps2-noecc, ps1, gme or vgs (by default the extension of FILE)");
             app.add_flag("--overwrite", o.overwrite, "replace FILE when it exists");
           })},
      {"restore", "put a save (.psu .psd .max .cbs .sps .xps .psv) on the card",
       Declare<RestoreOptions>(RestoreSave, AddRestoreOptions)},
      {"pcformat", "turn the SmartMedia into a PC card",
       Declare<PcFormatOptions>(PcFormat,
                                [](CLI::App& app, PcFormatOptions& o) {
                                  app.add_option("--size", o.size)
                                      ->required()
                                      ->check(CLI::IsMember({"4M", "8M", "16M", "32M"}));
                                })},
      {"config", "show or set the link settings",
       Declare<ConfigOptions>(ShowConfig,
                              [](CLI::App& app, ConfigOptions& o) {
                                app.add_option("--port", o.port, "parallel port base (decimal)");
                                app.add_option("--delay", o.delay,
                                               "connection delay in seconds");
                              })},
      {"icon", "render a save's own icon to a PNG file",
       Declare<IconOptions>(WriteIcon,
                            [](CLI::App& app, IconOptions& o) {
                              app.add_option("SAVE", o.save)->required();
                              app.add_option("OUT", o.out, "the PNG file")->required();
                              app.add_option("--size", o.size, "pixels a side (default 128)")
                                  ->check(CLI::Range(1, 4096));
                              app.add_option("--frame", o.frame,
                                             "frame of the animation's loop (default 0)");
                            })},
      {"check", "check the card's file system; exit 1 when anything is wrong",
       Declare<CheckOptions>(Check,
                             [](CLI::App& app, CheckOptions& o) {
                               app.add_flag("--repair", o.repair,
                                            "free lost clusters, correct entry counts and cut "
                                            "chains that run into free clusters, after showing "
                                            "the plan");
                             })},
      {"library",
       "a folder of cards as one library: ls, find TEXT, split CARD, merge CARD... --into NEW, "
       "copy|move CARD SAVE TARGET (CARD and TARGET: a card of DIR, a card image or folder card "
       "elsewhere, or adapter: for the card in the adapter)",
       Declare<LibraryOptions>(
           LibraryCommand,
           [](CLI::App& app, LibraryOptions& o) {
             app.add_option("DIR", o.dir, "the folder of cards")->required();
             app.add_option("ACTION", o.action, "ls, find, split, merge, copy or move")->required();
             app.add_option("ARGS", o.args, "the action's cards, save or text");
             app.add_option("--by", o.by, "ls: group by card, game or flat")
                 ->check(CLI::IsMember({"card", "game", "flat"}));
             app.add_option("--layout", o.layout,
                            "split: per-game, memorycards, emulator, vmc or ps1-per-game");
             app.add_flag("--folder-cards", o.folder_cards,
                          "split: the new cards are folder cards (emulator layout, PS2)");
             app.add_option("--into", o.into,
                            "merge: the new card, in the library's folder; a folder card when "
                            "it ends in /");
           })},
      {"ps1", "PS1 card commands", nullptr},
      {"ps1 ls", "list the saves", Declare(PS1List)},
      {"ps1 backup", "copy a save to a .PS1/.mcs, .psx or raw file",
       Declare<PS1BackupOptions>(
           PS1Backup,
           [](CLI::App& app, PS1BackupOptions& o) {
             AddBlock(app, o.block);
             app.add_option("FILE", o.file)->required();
             app.add_option("--format", o.format, "mcs, psx or raw (by default the file's extension)");
             app.add_flag("--overwrite", o.overwrite, "replace FILE when it exists");
           })},
      {"ps1 restore", "put a PS1 save (.PS1 .mcs .psx .mcb .mcx .pda .psv, raw) on the card",
       Declare<RestoreOptions>(PS1Restore, AddRestoreOptions)},
      {"ps1 delete", "delete a save",
       Declare<PS1DeleteOptions>(PS1Delete,
                                 [](CLI::App& app, PS1DeleteOptions& o) { AddBlock(app, o.block); })},
      {"ps1 dump", "copy the whole card to a .pss image",
       Declare<ImageFileOptions>(PS1Dump, AddImageFile)},
      {"ps1 write", "write a .pss image to the whole card",
       Declare<ImageFileOptions>(PS1Write, AddImageFile)},
      {"ps1 format", "format the card: an empty directory (every save is lost)",
       Declare(PS1Format)},
      {"ps1 check", "find blocks in use that no save holds; exit 1 when there are any",
       Declare<CheckOptions>(PS1Check,
                             [](CLI::App& app, CheckOptions& o) {
                               app.add_flag("--repair", o.repair,
                                            "mark those blocks free, after showing them");
                             })},
  };
  return table;
}

void BuildParser(CLI::App& app, Context& c, Runner& chosen) {
  app.name(std::string(kProgram));
  app.description(std::string(kProgram) + ": " + std::string(kSummary));
  app.set_version_flag("--version", std::string(kProgram) + " " + TRAVOSK_VERSION);
  app.require_subcommand(1);
  app.add_option("--image", c.source.image,
                 "a card image (PS1 by its size of 131,072 bytes, else PS2)");
  app.add_option("--sm-image", c.source.sm_image, "a SmartMedia image");
  app.add_option("--reader", c.source.reader,
                 "a PS1 card reader for the ps1 commands: a serial port (MemCARDuino, "
                 "PS1CardLink, DexDrive), or a PS3 memory card adaptor as usb:054c:02ea (the "
                 "first one plugged in) or usb:BUS-PORT as devices lists it; devices probes "
                 "only it");
  app.add_option("--reader-slot", c.source.reader_slot,
                 "the reader's card slot, 1 (the default) or 2 (a PS1CardLink from version 1.1 "
                 "has two)")
      ->check(CLI::Range(1, 2));
  app.add_option("--slot", c.source.slot, "card or smartmedia (the adapter's slot)")
      ->check(CLI::IsMember({"card", "smartmedia"}));
  app.add_option("--workdir", c.source.workdir, "folder of the settings and the cache's temp file");
  app.add_flag("--json", c.json, "print the facts as JSON");
  app.add_flag("--yes,-y", c.yes, "confirm destructive commands without asking");

  // The options above are the program's; every command and group falls
  // through to it for an option it does not know, so they may stand before
  // or after the command's name: "--image c.ps2 ls" and "ls --image c.ps2"
  // are the same command.
  app.fallthrough();
  for (const auto& row : Commands()) {
    CLI::App* parent = &app;
    std::string_view name = row.name;
    if (const auto space = name.find(' '); space != std::string_view::npos) {
      parent = app.get_subcommand(std::string(name.substr(0, space)));
      name = name.substr(space + 1);
    }
    CLI::App* sub = parent->add_subcommand(std::string(name), std::string(row.help));
    sub->fallthrough();
    if (!row.declare) {
      sub->require_subcommand(1);
      continue;
    }
    sub->callback([&chosen, run = row.declare(*sub)] { chosen = run; });
  }
}

}  // namespace travosk::cli
