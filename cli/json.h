// A small JSON writer for the command-line tool's machine-readable output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace varnok::cli {

// A JSON string literal; bytes that are not valid UTF-8 become U+FFFD.
std::string JsonString(std::string_view s);

class JsonObject {
  public:
    JsonObject& Add(std::string_view key, std::string_view value);
    JsonObject& Add(std::string_view key, const char* value) { return Add(key, std::string_view(value)); }
    JsonObject& Add(std::string_view key, uint64_t value);
    JsonObject& Add(std::string_view key, int64_t value);
    JsonObject& Add(std::string_view key, int value) { return Add(key, static_cast<int64_t>(value)); }
    JsonObject& Add(std::string_view key, bool value);
    JsonObject& AddRaw(std::string_view key, std::string_view json);
    std::string Str() const { return "{" + body_ + "}"; }

  private:
    void Key(std::string_view key);
    std::string body_;
};

}  // namespace varnok::cli
