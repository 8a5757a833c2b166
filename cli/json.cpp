#include "cli/json.h"

#include <cstdio>

namespace varnok::cli {

std::string JsonString(std::string_view s) {
    std::string out = "\"";
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            switch (c) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    if (c < 0x20) {
                        char b[8];
                        snprintf(b, sizeof b, "\\u%04x", c);
                        out += b;
                    } else {
                        out += static_cast<char>(c);
                    }
            }
            ++i;
            continue;
        }
        size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
        bool ok = len && i + len <= s.size();
        for (size_t k = 1; ok && k < len; ++k)
            ok = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
        if (ok && len == 3) {
            unsigned char d = static_cast<unsigned char>(s[i + 1]);
            if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0)) ok = false;
        }
        if (ok && len == 4) {
            unsigned char d = static_cast<unsigned char>(s[i + 1]);
            if ((c == 0xF0 && d < 0x90) || (c == 0xF4 && d >= 0x90)) ok = false;
        }
        if (ok) {
            out.append(s.substr(i, len));
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out + "\"";
}

void JsonObject::Key(std::string_view key) {
    if (!body_.empty()) body_ += ", ";
    body_ += JsonString(key);
    body_ += ": ";
}

JsonObject& JsonObject::Add(std::string_view key, std::string_view value) {
    Key(key);
    body_ += JsonString(value);
    return *this;
}

JsonObject& JsonObject::Add(std::string_view key, uint64_t value) {
    Key(key);
    body_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Add(std::string_view key, int64_t value) {
    Key(key);
    body_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Add(std::string_view key, bool value) {
    Key(key);
    body_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::AddRaw(std::string_view key, std::string_view json) {
    Key(key);
    body_ += json;
    return *this;
}

}  // namespace varnok::cli
