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

std::string KeyFileValue(const std::string& s) {
    std::string o;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '\\')
            o += "\\\\";
        else if (c == '\n')
            o += "\\n";
        else if (c == '\t')
            o += "\\t";
        else if (c == '\r')
            o += "\\r";
        else if (c == ' ' && i == 0)
            o += "\\s";
        else
            o += c;
    }
    return o;
}

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
    return KeyFileValue(word);
}

}  // namespace varnok::app
