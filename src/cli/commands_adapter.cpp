// Commands on the adapter itself: what is plugged in and what its slots
// hold, and the link settings.
#include <cstdio>
#include <iostream>

#include "card/fileaccess.h"
#include "cli/commands.h"
#include "link/ps2mcom.h"

namespace travosk::cli {

int Devices(Context& c, const NoOptions&) {
  Source source(c.source);
  auto& link = source.Link();
  auto& com = source.Manager().Com();
  const auto interfaces = link.platform().ListInterfaces();
  if (!interfaces || interfaces->empty() || link.DevicePath().empty()) {
    if (c.json) c.out << "{\"adapters\": []}\n";
    else c.out << "no adapter found\n";
    // An adapter that is there but may not be opened is worth one more line.
    if (const std::string problem = link.platform().OpenProblem(); !problem.empty())
      c.err << problem << "\n";
    return kExitFailed;
  }
  const bool answers = com.DetectAdapter();
  std::string card = "no answer", smartmedia = "no answer";
  if (answers) {
    const card::SlotContent slot = card::ProbeSlot(com, Slot::kCard);
    card = !slot.answered                ? "no answer"
           : slot.kind == CardKind::kPS2 ? "PS2 card, " + std::to_string(slot.pages) + " pages"
           : slot.kind == CardKind::kPS1 ? "PS1 card"
                                         : "empty";
    const card::SlotContent sm = card::ProbeSlot(com, Slot::kSmartMedia);
    char code[8];
    std::snprintf(code, sizeof code, "0x%02X", sm.device_code);
    smartmedia = !sm.answered                       ? "no answer"
                 : sm.kind == CardKind::kSmartMedia ? std::string("SmartMedia, device code ") + code
                                                    : "empty";
  }
  if (c.json) {
    c.out << "{\"adapters\": [{\"path\": " << JsonString(link.DevicePath())
          << ", \"answers\": " << (answers ? "true" : "false") << ", \"card\": " << JsonString(card)
          << ", \"smartmedia\": " << JsonString(smartmedia) << "}], \"interfaces\": [";
    for (size_t i = 0; i < interfaces->size(); ++i)
      c.out << (i ? ", " : "") << JsonString((*interfaces)[i]);
    c.out << "], \"kinds\": [";
    for (size_t i = 0; i < interfaces->size(); ++i)
      c.out << (i ? ", " : "") << JsonString(link.platform().InterfaceKind((*interfaces)[i]));
    c.out << "]}\n";
  } else {
    for (const auto& path : *interfaces)
      c.out << (path == link.DevicePath() ? "* " : "  ") << path << "  ("
            << link.platform().InterfaceKind(path) << ")\n";
    c.out << "adapter " << link.DevicePath() << ": " << (answers ? "answers" : "does not answer")
          << "\n  card slot: " << card << "\n  SmartMedia slot: " << smartmedia << "\n";
  }
  return answers ? kExitOk : kExitFailed;
}

int ShowConfig(Context& c, const ConfigOptions& o) {
  const int port = o.port, delay = o.delay;
  Source source(c.source);
  auto& access = source.Manager().Access();
  if (port >= 0 || delay >= 0) {
    const uint16_t new_port = port >= 0 ? static_cast<uint16_t>(port) : access.Com->PortBase;
    const int32_t new_delay = delay >= 0 ? delay : access.Com->ConnectDelay;
    access.Com->PortBase = new_port;
    access.Com->ConnectDelay = new_delay;
    access.SaveSettings(new_port, new_delay);
  }
  if (c.json)
    c.out << "{\"port\": " << access.Com->PortBase << ", \"delay\": " << access.Com->ConnectDelay
          << "}\n";
  else
    c.out << "port base " << access.Com->PortBase << "\nconnection delay "
          << access.Com->ConnectDelay << "\n";
  return kExitOk;
}

}  // namespace travosk::cli
