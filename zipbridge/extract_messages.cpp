#include "zipbridge/extract_messages.h"

namespace varnok {

bool ExtractMessageText(int id, std::string& text) {
    switch (id) {
        case 10152:
            text = "&Ok";
            return true;
        case 10153:
            text = "&Cancel";
            return true;
        case 10154:
            text = "Password";
            return true;
        case 10155:
            text = "Enter Password ";
            return true;
        case 10156:
            text = "Confirm Password ";
            return true;
        case 10504:
            text = "Error - a password can have at most 80 characters";
            return true;
        case 10505:
            text = "Error - a text longer than 511 characters cannot be passed to the library: ";
            return true;
        default:
            return false;
    }
}

}  // namespace varnok
