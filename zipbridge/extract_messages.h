// Texts of the extract side of the ZIP bridge that the numbered table does not carry: the built-in password
// prompt (10152-10156) and the length checks on what is passed to the engine libraries (10504, 10505).
#pragma once

#include <string>

namespace varnok {

// The text of such a number; false for other numbers.
bool ExtractMessageText(int id, std::string& text);

}  // namespace varnok
