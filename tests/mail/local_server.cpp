#include "tests/mail/local_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "tests/support/test_support.h"

namespace varnok::test {

std::string TestScript(const std::string& name) {
    const char* src = std::getenv("VARNOK_SOURCE");
    std::string root = src && *src ? src : VARNOK_TEST_SOURCE_DIR;
    return root + "/tests/mail/" + name;
}

LocalServer::LocalServer(const std::string& script, const std::vector<std::string>& args) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    std::vector<std::string> argv = {"python3", "-u", TestScript(script)};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        std::vector<char*> cargv;
        for (auto& a : argv)
            cargv.push_back(a.data());
        cargv.push_back(nullptr);
        execvp("python3", cargv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && poll(&p, 1, 20000) > 0) {
        char buf[256];
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        line.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    if (line.rfind("PORT ", 0) == 0) port_ = std::atoi(line.c_str() + 5);
    if (port_ <= 0) {
        this->~LocalServer();
        throw std::runtime_error("the test server " + script + " did not start: " + line);
    }
}

LocalServer::~LocalServer() {
    if (stdin_ >= 0) close(stdin_);
    stdin_ = -1;
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

Certificate MakeCertificate(const std::filesystem::path& dir) {
    Certificate c{(dir / "cert.pem").string(), (dir / "key.pem").string()};
    std::string cmd = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
                      "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " +
                      Quote(c.key) + " -out " + Quote(c.cert) + " 2>/dev/null";
    if (Run(cmd) != 0) throw std::runtime_error("openssl could not make a certificate");
    return c;
}

std::map<std::string, std::string> ParseMime(const std::filesystem::path& message,
                                             const std::filesystem::path& outDir) {
    std::string out;
    int rc = Run("python3 " + Quote(TestScript("mime_parse.py")) + " " + Quote(message) + " " + Quote(outDir), &out);
    if (rc != 0) throw std::runtime_error("the MIME parser failed on " + message.string());
    std::map<std::string, std::string> m;
    size_t start = 0;
    while (start < out.size()) {
        size_t lf = out.find('\n', start);
        std::string line = out.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
        start = lf == std::string::npos ? out.size() : lf + 1;
        size_t eq = line.find('=');
        if (eq != std::string::npos) m[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return m;
}

std::string Json(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
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
                out += c;
        }
    }
    return out + "\"";
}

}  // namespace varnok::test
