// Servers the mail and update tests talk to: a Python script started as a child process that listens on
// 127.0.0.1 at a port the system picks and prints "PORT n". The child ends when this object closes its
// standard input (and is killed and reaped besides), so no server outlives its test.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace varnok::test {

class LocalServer {
  public:
    // script: a file name in tests/mail; args: its arguments.
    LocalServer(const std::string& script, const std::vector<std::string>& args);
    ~LocalServer();
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;
    int Port() const { return port_; }

  private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int port_ = 0;
};

// A self-signed certificate for 127.0.0.1 (cert.pem, key.pem) made with openssl in dir.
struct Certificate {
    std::string cert, key;
};
Certificate MakeCertificate(const std::filesystem::path& dir);

// The file of tests/mail named.
std::string TestScript(const std::string& name);

// Parses a message file with Python's MIME parser (mime_parse.py); attachments are written to outDir/partN.
// The result maps keys to JSON-encoded values.
std::map<std::string, std::string> ParseMime(const std::filesystem::path& message,
                                             const std::filesystem::path& outDir);
// A text as a JSON string literal (to compare with ParseMime's values).
std::string Json(const std::string& s);

}  // namespace varnok::test
