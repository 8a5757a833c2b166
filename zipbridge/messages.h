// The numbered messages of the ZIP bridge (10101-11047).
#pragma once

#include <string>

namespace varnok {

// The text of a message; a missing number gives the "resources probably not linked" text with the number.
std::string BridgeMessageText(int id);
bool IsBridgeMessage(int id);

}  // namespace varnok
