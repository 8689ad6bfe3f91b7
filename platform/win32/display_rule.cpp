#include "platform/win32/display_rule.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

// A server that does not answer within this is taken as absent.
constexpr int kConnectTimeoutMs = 3000;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool connects(int family, const sockaddr* address, socklen_t length) {
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    bool ok = ::connect(fd, address, length) == 0;
    // A local server whose queue of new connections is full is there all
    // the same; a socket file nobody listens on refuses instead.
    if (!ok && family == AF_UNIX && errno == EAGAIN)
        ok = true;
    if (!ok && errno == EINPROGRESS) {
        pollfd waiting{fd, POLLOUT, 0};
        int error = 0;
        socklen_t size = sizeof error;
        ok = ::poll(&waiting, 1, kConnectTimeoutMs) == 1 &&
             ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
    ::close(fd);
    return ok;
}

bool unixSocketAnswers(const std::string& path, bool abstract) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t skip = abstract ? 1 : 0;
    if (path.size() + skip >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path + skip, path.data(), path.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + skip + path.size() + (abstract ? 0 : 1));
    return connects(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), length);
}

bool xServerAnswers(const std::string& display) {
    const std::size_t colon = display.rfind(':');
    if (colon == std::string::npos)
        return true;  // not a form we know; the GUI library judges
    const std::string host = display.substr(0, colon);
    std::string number = display.substr(colon + 1);
    number = number.substr(0, number.find('.'));
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos || number.size() > 5)
        return false;
    const int n = std::atoi(number.c_str());
    if (host.empty() || host == "unix") {
        // Linux servers listen on the abstract name too, which needs no file.
        const std::string path = "/tmp/.X11-unix/X" + std::to_string(n);
        return unixSocketAnswers(path, true) || unixSocketAnswers(path, false);
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(6000 + n).c_str(), &hints, &found) != 0)
        return false;
    bool ok = false;
    for (addrinfo* a = found; a && !ok; a = a->ai_next)
        ok = connects(a->ai_family, a->ai_addr, a->ai_addrlen);
    ::freeaddrinfo(found);
    return ok;
}

// A socket file left behind by a compositor that has gone refuses the
// connection, so only a live compositor counts.
bool waylandAnswers(const std::string& name) {
    std::string path = name;
    if (path.front() != '/') {
        std::string runtime = environment("XDG_RUNTIME_DIR");
        if (runtime.empty())
            runtime = "/run/user/" + std::to_string(::getuid());
        path = runtime + "/" + name;
    }
    return unixSocketAnswers(path, false);
}

}  // namespace

DisplayVerdict checkDisplay() {
    const std::string platform = environment("QT_QPA_PLATFORM");
    if (!platform.empty() && platform.rfind("xcb", 0) != 0 && platform.rfind("wayland", 0) != 0)
        return {true, ""};
    const std::string wayland = environment("WAYLAND_DISPLAY");
    const std::string x = environment("DISPLAY");
    std::string cause;
    if (!wayland.empty()) {
        if (waylandAnswers(wayland))
            return {true, ""};
        cause = "the Wayland display " + wayland + " cannot be reached";
    }
    if (!x.empty()) {
        if (xServerAnswers(x))
            return {true, ""};
        cause += (cause.empty() ? "" : "; ") + ("the X display " + x + " cannot be reached");
    }
    if (cause.empty())
        cause = "DISPLAY and WAYLAND_DISPLAY are not set";
    return {false, cause};
}

}  // namespace platform
