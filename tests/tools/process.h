// Child processes and scratch directories for the tools' tests: programs
// started with their output in a log file, bounded waits, and xelmd-front on
// a free loopback port.
#ifndef XELMD_TESTS_TOOLS_PROCESS_H
#define XELMD_TESTS_TOOLS_PROCESS_H

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../test_table.h"

namespace ToolTest {

inline std::string temp_dir() {
    char path[] = "/tmp/xelmd_tools_XXXXXX";
    return mkdtemp(path);
}

inline void remove_dir(const std::string& dir) {
    std::filesystem::remove_all(dir);
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void write_file(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Starts program with its output appended to log; the child goes with the
// test, even when the test dies.
inline pid_t spawn(const char* program, std::vector<std::string> args, const std::string& log) {
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        std::vector<char*> argv = {const_cast<char*>(program)};
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execv(program, argv.data());
        _exit(127);
    }
    return pid;
}

// Exit status of a child, or -1 when it had to be killed after timeout_ms.
inline int wait_exit(pid_t pid, int timeout_ms) {
    int status = 0;
    for (int waited = 0; waited < timeout_ms; waited += 20) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        usleep(20000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

// One xelmd-front process in its own directory, listening on free loopback
// ports (written to a port file); stopped and removed at the end.
struct FrontProcess {
    pid_t pid = -1;
    std::string dir = temp_dir();
    std::vector<int> ports;

    bool start(const char* program, std::vector<std::string> args) {
        args.insert(args.end(), {"--listen", "127.0.0.1:0", "--port-file", dir + "/ports"});
        pid = spawn(program, args, dir + "/front.log");
        for (int i = 0; i < 100 && ports.empty(); ++i) {
            std::ifstream in(dir + "/ports");
            for (int port; in >> port;) ports.push_back(port);
            if (ports.empty()) usleep(100000);
        }
        return !ports.empty();
    }
    std::string address(int index = 0) const {
        return "tcp://127.0.0.1:" + std::to_string(ports.at(static_cast<size_t>(index)));
    }
    std::string log() const { return read_file(dir + "/front.log"); }
    void stop(int sig = SIGINT) {
        if (pid <= 0) return;
        kill(pid, sig);
        wait_exit(pid, 10000);
        pid = -1;
    }
    ~FrontProcess() {
        stop();
        remove_dir(dir);
    }
};

}  // namespace ToolTest

#endif  // XELMD_TESTS_TOOLS_PROCESS_H
