#include "app/desktop_entry.h"

namespace varnok::app {

namespace {

bool Reserved(char c) {
    switch (c) {
        case ' ': case '\t': case '\n': case '\r': case '"': case '\'': case '\\': case '>': case '<': case '~':
        case '|': case '&': case ';': case '$': case '*': case '?': case '#': case '(': case ')': case '`':
            return true;
        default:
            return false;
    }
}

}  // namespace

std::string DesktopExecArgument(const std::string& arg) {
    bool quote = arg.empty();
    for (char c : arg)
        quote = quote || Reserved(c);
    std::string word = quote ? "\"" : "";
    for (char c : arg) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) word += '\\';
        if (c == '%') word += '%';
        word += c;
    }
    if (quote) word += '"';
    std::string out;
    for (char c : word) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

}  // namespace varnok::app
