// What the tests that run the real program as a user does share: reading
// its files, waiting for something to be seen, child processes, and finding
// the program's window on an X server, whether or not a window manager has
// put it inside a frame of its own.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// After everything else: the X headers define words such as None and Bool.
#include <X11/Xlib.h>

namespace program_harness {

using Clock = std::chrono::steady_clock;

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void pause(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

// True as soon as `seen` holds, false when it has not within `seconds`.
inline bool within(double seconds, const std::function<bool()>& seen) {
    for (const auto end = Clock::now() + std::chrono::duration<double>(seconds); Clock::now() < end; pause(0.02))
        if (seen())
            return true;
    return seen();
}

// `command` in the folder `dir` (its output in dir/stdout.txt and
// dir/stderr.txt; nowhere without a folder), with `environment` (NAME=value,
// or a bare NAME to take it away) set over ours less the choice of display
// platform and Wayland socket.
inline pid_t start(const std::vector<std::string>& command, const std::vector<std::string>& environment,
                   const std::string& dir) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (!dir.empty() && chdir(dir.c_str()) != 0)
            _exit(127);
        unsetenv("QT_QPA_PLATFORM");
        unsetenv("WAYLAND_DISPLAY");
        for (const std::string& e : environment) {
            const std::size_t eq = e.find('=');
            if (eq == std::string::npos)
                unsetenv(e.c_str());
            else
                setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
        }
        if (!std::freopen(dir.empty() ? "/dev/null" : "stdout.txt", "w", stdout) ||
            !std::freopen(dir.empty() ? "/dev/null" : "stderr.txt", "w", stderr))
            _exit(127);
        for (int fd = 3; fd < 256; ++fd)
            close(fd);
        std::vector<char*> argv;
        for (const std::string& c : command)
            argv.push_back(const_cast<char*>(c.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// The exit status (128 + signal for a killed one), or -1 while the process
// still runs after `seconds`.
inline int exitStatus(pid_t pid, double seconds) {
    int status = 0, result = -1;
    within(seconds, [&] {
        if (waitpid(pid, &status, WNOHANG) != pid)
            return false;
        result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
    });
    return result;
}

// Asked to end, then made to after a few seconds.
inline void stop(pid_t pid) {
    if (pid <= 0 || kill(pid, SIGTERM) != 0)
        return;
    if (exitStatus(pid, 5) == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

// The viewable window titled `title`, at least `minHeight` tall, at any
// depth below `under`; 0 when there is none.
inline Window findWindow(Display* display, Window under, const char* title, int minHeight = 51) {
    Window root, parent, *children = nullptr, found = 0;
    unsigned count = 0;
    if (!XQueryTree(display, under, &root, &parent, &children, &count))
        return 0;
    for (unsigned i = 0; i < count && !found; ++i) {
        char* name = nullptr;
        XWindowAttributes a{};
        if (XFetchName(display, children[i], &name) && name) {
            if (std::strcmp(name, title) == 0 && XGetWindowAttributes(display, children[i], &a) &&
                a.map_state == IsViewable && a.height >= minHeight)
                found = children[i];
            XFree(name);
        }
        if (!found)
            found = findWindow(display, children[i], title, minHeight);
    }
    if (children)
        XFree(children);
    return found;
}

}  // namespace program_harness
