#include "app/process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/fileattr.h"

namespace varnok::app {

bool ProgramOnPath(const std::string& name) {
    if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0;
    const char* path = getenv("PATH");
    std::string p = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= p.size()) {
        size_t end = p.find(':', start);
        if (end == std::string::npos) end = p.size();
        std::string dir = p.substr(start, end - start);
        if (!dir.empty()) {
            std::string full = dir + "/" + name;
            if (platform::FileExists(full) && access(full.c_str(), X_OK) == 0) return true;
        }
        start = end + 1;
    }
    return false;
}

bool SpawnDetached(const std::vector<std::string>& argv, const std::string& workDir) {
    if (argv.empty() || !ProgramOnPath(argv[0])) return false;
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // A pipe tells the parent whether the grandchild's exec worked (closed on exec, written on failure).
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        // First child: starts the program in a new session and leaves at once, so that init reaps it.
        setsid();
        pid_t g = fork();
        if (g == 0) {
            if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(127);
            int null = open("/dev/null", O_RDWR);
            if (null >= 0) {
                dup2(null, 0);
                dup2(null, 1);
                dup2(null, 2);
            }
            execvp(args[0], args.data());
            char c = 1;
            ssize_t w = write(fds[1], &c, 1);
            (void)w;
            _exit(127);
        }
        _exit(g < 0 ? 1 : 0);
    }
    close(fds[1]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    char c;
    ssize_t r;
    do {
        r = read(fds[0], &c, 1);
    } while (r < 0 && errno == EINTR);
    close(fds[0]);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && r == 0;
}

}  // namespace varnok::app
