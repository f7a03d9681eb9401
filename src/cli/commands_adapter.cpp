// Commands on the adapter itself: what is plugged in and what its slots
// hold, and the link settings.
#include <cstdio>
#include <iostream>
#include <sstream>

#include "card/fileaccess.h"
#include "cli/commands.h"
#include "link/ps2mcom.h"
#include "link/readers.h"

namespace travosk::cli {

namespace {

// The adapter found by discovery and what its slots hold.
int AdapterDevices(Context& c, std::ostream& out) {
  SourceOptions options = c.source;
  options.reader.clear();
  Source source(options);
  auto& link = source.Link();
  auto& com = source.Manager().Com();
  const auto interfaces = link.platform().ListInterfaces();
  if (!interfaces || interfaces->empty() || link.DevicePath().empty()) {
    if (c.json) out << "{\"adapters\": []}\n";
    else out << "no adapter found\n";
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
    out << "{\"adapters\": [{\"path\": " << JsonString(link.DevicePath())
          << ", \"answers\": " << (answers ? "true" : "false") << ", \"card\": " << JsonString(card)
          << ", \"smartmedia\": " << JsonString(smartmedia) << "}], \"interfaces\": [";
    for (size_t i = 0; i < interfaces->size(); ++i)
      out << (i ? ", " : "") << JsonString((*interfaces)[i]);
    out << "], \"kinds\": [";
    for (size_t i = 0; i < interfaces->size(); ++i)
      out << (i ? ", " : "") << JsonString(link.platform().InterfaceKind((*interfaces)[i]));
    out << "]}\n";
  } else {
    for (const auto& path : *interfaces)
      out << (path == link.DevicePath() ? "* " : "  ") << path << "  ("
            << link.platform().InterfaceKind(path) << ")\n";
    out << "adapter " << link.DevicePath() << ": " << (answers ? "answers" : "does not answer")
          << "\n  card slot: " << card << "\n  SmartMedia slot: " << smartmedia << "\n";
  }
  return answers ? kExitOk : kExitFailed;
}

// The PS1 card reader named with --reader, or every PS3 memory card adaptor
// and the readers on every port with a known USB-serial bridge.
int ReaderDevices(Context& c, std::ostream& json) {
  std::vector<std::string> named;
  if (!c.source.reader.empty()) named.push_back(c.source.reader);
  bool any = false;
  size_t listed = 0;
  for (const link::ReaderFound& found : link::FindReaders(named)) {
    std::string card = "no answer";
    if (found.device) {
      any = true;
      const auto slot = found.device->CardPresent();
      card = !slot                              ? "no answer"
             : *slot == link::PS1Slot::kPS1     ? "PS1 card"
             : *slot == link::PS1Slot::kOther   ? "a card it cannot read: " +
                                                      found.device->LastError()
                                                : "empty";
    }
    if (c.json) {
      json << (listed++ ? ", " : "") << "{\"port\": " << JsonString(found.port) << ", \"kind\": "
           << (found.device ? JsonString(found.device->Identity()) : "null")
           << ", \"card\": " << JsonString(found.device ? card : found.why) << "}";
    } else if (found.device) {
      c.out << "reader " << found.port << ": " << found.device->Identity()
            << "\n  card slot: " << card << "\n";
    } else {
      c.out << "reader " << found.port << ": " << found.why << "\n";
    }
  }
  return any ? kExitOk : kExitFailed;
}

}  // namespace

int Devices(Context& c, const NoOptions&) {
  // The adapter's part first, in its own words; the readers follow.
  std::ostringstream adapter_out, readers_json;
  const int adapter = AdapterDevices(c, adapter_out);
  const std::string text = adapter_out.str();
  if (c.json) {
    const int readers = ReaderDevices(c, readers_json);
    // The adapter's object gains the readers.
    c.out << text.substr(0, text.rfind('}')) << ", \"readers\": [" << readers_json.str()
          << "]}\n";
    return adapter == kExitOk || readers == kExitOk ? kExitOk : kExitFailed;
  }
  c.out << text;
  const int readers = ReaderDevices(c, readers_json);
  return adapter == kExitOk || readers == kExitOk ? kExitOk : kExitFailed;
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
