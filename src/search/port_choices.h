#pragma once
// The items of the search dialog's port selector.

#include <string>
#include <vector>

#include "platform/serial/port_names.h"

namespace loopmon {

struct PortChoiceItem {
  std::string name;  // the port as the session opens it: "COM5"
  std::string text;  // what the selector shows: "COM5 — FT232R USB UART"
};

// COM1..COM4 in their places, so that the index stored in pcom.ini keeps its
// meaning, then every further port with a COM name among `ports` (those
// present or mapped, from listPorts), by number. Each item shows the device
// behind it where one is known. A text begins with the port's name and a
// blank, which is all the search takes from it.
std::vector<PortChoiceItem> searchPortChoices(const std::vector<PortEntry>& ports);

}  // namespace loopmon
