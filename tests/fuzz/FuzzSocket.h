#ifndef OSTREL_TESTS_FUZZSOCKET_H
#define OSTREL_TESTS_FUZZSOCKET_H

// A peer of a DaemonServer of the harness's own process, over a unix socket: the server's real
// reading code, its limits and its threads run for every input.

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzTarget.h"

namespace OstrelFuzz {

// Connects to the unix socket strPath, sends strBytes, ends its sending and reads until the server
// closes the connection; what the server sent. The server must end the connection within the
// time-out: a server that keeps it open after the last byte hangs.
inline std::string exchangeOnce(const std::string& strPath, const std::string& strBytes)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) finding(std::string("socket: ") + std::strerror(errno));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, strPath.c_str(), sizeof addr.sun_path - 1);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        finding("cannot connect to " + strPath + ": " + std::strerror(errno));
    const auto tDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string strReceived;
    size_t nSent = 0;
    bool bSending = true;
    char ab[16384];
    for (;;) {
        if (bSending && nSent == strBytes.size()) {
            shutdown(fd, SHUT_WR);
            bSending = false;
        }
        pollfd pfd{fd, short(POLLIN | (bSending ? POLLOUT : 0)), 0};
        long nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(tDeadline - std::chrono::steady_clock::now())
                         .count();
        if (nLeft <= 0) finding("the server kept the connection open after the last byte");
        if (poll(&pfd, 1, int(nLeft)) < 0 && errno != EINTR) finding(std::string("poll: ") + std::strerror(errno));
        if (bSending && (pfd.revents & POLLOUT)) {
            ssize_t n = send(fd, strBytes.data() + nSent, strBytes.size() - nSent, MSG_NOSIGNAL);
            if (n > 0) nSent += size_t(n);
            // The server may close before it has read everything: what it refused ends the stream.
            if (n < 0 && errno != EAGAIN && errno != EINTR) bSending = false;
        }
        if (pfd.revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t n = recv(fd, ab, sizeof ab, 0);
            if (n > 0) {
                strReceived.append(ab, size_t(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                break;
            }
        }
    }
    close(fd);
    return strReceived;
}

} // namespace OstrelFuzz

#endif
