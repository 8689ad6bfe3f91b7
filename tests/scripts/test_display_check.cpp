// scripts/display-check decides whether scripts/run opens the window or
// renders a snapshot. The displays it is shown here are sockets this test
// listens on (the X server's abstract name, a TCP port on the loopback, a
// Wayland socket in a temporary folder), so no server is needed.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status;
    std::string said;  // standard output, without its final newline
};

// Runs the script with exactly the given environment (and PATH).
Outcome check(const std::map<std::string, std::string>& environment) {
    std::vector<std::string> entries = {"PATH=/usr/bin:/bin"};
    for (const auto& [name, value] : environment)
        entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& e : entries)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string script = std::string(VL_SOURCE_DIR) + "/scripts/display-check";

    int out[2];
    if (pipe(out) != 0)
        return {-1, "pipe failed"};
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        execle("/bin/bash", "bash", script.c_str(), static_cast<char*>(nullptr), envp.data());
        _exit(127);
    }
    close(out[1]);
    std::string said;
    char buffer[256];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        said.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!said.empty() && said.back() == '\n')
        said.pop_back();
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, said};
}

// A listening socket that closes with the object.
struct Listener {
    int fd = -1;
    Listener() = default;
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    ~Listener() { reset(); }
    void reset() {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }

    bool listenUnix(const std::string& name, bool abstract) {
        reset();
        fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::size_t skip = abstract ? 1 : 0;
        if (fd < 0 || name.size() + skip >= sizeof address.sun_path)
            return false;
        std::memcpy(address.sun_path + skip, name.data(), name.size());
        const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + skip + name.size());
        return bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(fd, 1) == 0;
    }

    bool listenLoopback(int port) {
        reset();
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
               listen(fd, 1) == 0;
    }
};

struct TempFolder {
    fs::path path;
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "vibrolane-display-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempFolder() { fs::remove_all(path); }
};

}  // namespace

TEST(DisplayCheck, FindsTheDisplaysThatListenAndNamesTheOnesThatDoNot) {
    // Display numbers far above what X servers take: the first with its
    // name free listens, the next must be free as well and stays silent.
    auto freeUnix = [](int n) { return Listener().listenUnix("/tmp/.X11-unix/X" + std::to_string(n), true); };
    auto freePort = [](int n) { return Listener().listenLoopback(6000 + n); };
    Listener x, tcp;
    int xNumber = 4711;
    while (xNumber < 4811 && !(freeUnix(xNumber + 1) && x.listenUnix("/tmp/.X11-unix/X" + std::to_string(xNumber), true)))
        ++xNumber;
    int tcpNumber = 4811;
    while (tcpNumber < 4911 && !(freePort(tcpNumber + 1) && tcp.listenLoopback(6000 + tcpNumber)))
        ++tcpNumber;
    ASSERT_LT(xNumber, 4811) << "no free abstract X socket names";
    ASSERT_LT(tcpNumber, 4911) << "no free loopback ports";
    const std::string silentX = ":" + std::to_string(xNumber + 1);

    TempFolder runtime;
    Listener wayland;
    ASSERT_TRUE(wayland.listenUnix((runtime.path / "wayland-7").string(), false));
    // A compositor that has gone leaves its socket file behind.
    Listener gone;
    ASSERT_TRUE(gone.listenUnix((runtime.path / "wayland-9").string(), false));
    gone.reset();

    const std::string x11 = ":" + std::to_string(xNumber);
    const std::string remote = "127.0.0.1:" + std::to_string(tcpNumber);
    const std::string silentRemote = "127.0.0.1:" + std::to_string(tcpNumber + 1);
    const std::string xdg = runtime.path.string();
    const struct {
        const char* what;
        std::map<std::string, std::string> environment;
        int status;
        std::string said;
    } cases[] = {
        {"nothing set", {}, 1, "DISPLAY and WAYLAND_DISPLAY are not set"},
        {"both empty", {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}, 1, "DISPLAY and WAYLAND_DISPLAY are not set"},
        {"a local X server", {{"DISPLAY", x11}}, 0, ""},
        {"a local X server with a screen", {{"DISPLAY", x11 + ".0"}}, 0, ""},
        {"a local X server named unix:", {{"DISPLAY", "unix" + x11}}, 0, ""},
        {"no server at that number", {{"DISPLAY", silentX}}, 1, "the X display " + silentX + " cannot be reached"},
        {"a number that is none", {{"DISPLAY", ":zero"}}, 1, "the X display :zero cannot be reached"},
        {"an X server over TCP", {{"DISPLAY", remote}}, 0, ""},
        {"nothing listening over TCP", {{"DISPLAY", silentRemote}}, 1,
         "the X display " + silentRemote + " cannot be reached"},
        {"a form the check does not know", {{"DISPLAY", "wayland-or-else"}}, 0, ""},
        {"a Wayland socket by name", {{"WAYLAND_DISPLAY", "wayland-7"}, {"XDG_RUNTIME_DIR", xdg}}, 0, ""},
        {"a Wayland socket by path", {{"WAYLAND_DISPLAY", xdg + "/wayland-7"}}, 0, ""},
        {"a missing Wayland socket", {{"WAYLAND_DISPLAY", "wayland-8"}, {"XDG_RUNTIME_DIR", xdg}}, 1,
         "the Wayland display wayland-8 cannot be reached"},
        {"a stale Wayland socket", {{"WAYLAND_DISPLAY", "wayland-9"}, {"XDG_RUNTIME_DIR", xdg}}, 1,
         "the Wayland display wayland-9 cannot be reached"},
        {"a platform plugin that needs no server", {{"QT_QPA_PLATFORM", "offscreen"}}, 0, ""},
        {"a missing Wayland socket, but X is there",
         {{"WAYLAND_DISPLAY", "wayland-8"}, {"XDG_RUNTIME_DIR", xdg}, {"DISPLAY", x11}}, 0, ""},
        {"neither is there",
         {{"WAYLAND_DISPLAY", "wayland-8"}, {"XDG_RUNTIME_DIR", xdg}, {"DISPLAY", silentX}}, 1,
         "the Wayland display wayland-8 cannot be reached; the X display " + silentX + " cannot be reached"},
    };
    for (const auto& c : cases) {
        const Outcome outcome = check(c.environment);
        EXPECT_EQ(outcome.status, c.status) << c.what;
        EXPECT_EQ(outcome.said, c.said) << c.what;
    }
}
