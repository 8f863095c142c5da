#ifndef CORVEL_NET_H
#define CORVEL_NET_H

// Socket plumbing shared by DaemonComm and DaemonServer. Internal: not installed,
// not exported.

#include <cstdint>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <sys/uio.h>

namespace Corvel {
namespace net {

// The port a service text without one means, plain and under TLS.
constexpr int nNET_DefaultPort = 7420;
constexpr int nNET_DefaultTlsPort = 7421;

// A service named in one of the forms "host:port", "[v6addr]:port", "host",
// "v6addr" (default port) or "unix:/path"; any but the last may follow "tls:".
struct ServiceName {
    bool bUnix = false;
    bool bTls = false;
    std::string strHost;  // host name or address text; empty or "*" = every local address (listening)
    int nPort = nNET_DefaultPort;
    std::string strPath;  // the socket file, for unix
};

// One address to connect to or listen on.
struct Endpoint {
    sockaddr_storage addr{};
    socklen_t nLength = 0;
    std::string strText;  // "1.2.3.4:80", "[::1]:80" or "unix:/path"
};

// Parses a service text; throws Corvel::Exception saying what is wrong. Port 0
// is accepted only when bListen is set (the system then chooses one).
ServiceName parseServiceName(const std::string& strText, bool bListen);

// The addresses a parsed name stands for, in the resolver's order; throws
// Corvel::Exception when the host cannot be resolved.
std::vector<Endpoint> resolve(const ServiceName& name, bool bListen);

// "1.2.3.4:80", "[::1]:80" or "unix:/path" for a socket address.
std::string addressText(const sockaddr* pAddr, socklen_t nLength);

// Connects to the first endpoint that accepts within the time left of
// nTimeoutMs, trying each in turn; returns a non-blocking socket. Throws
// Corvel::Exception naming strTarget and the last reason.
int connectBounded(const std::vector<Endpoint>& endpointS, long nTimeoutMs, const std::string& strTarget);

// Writes every byte of the vectors to a non-blocking socket, waiting at most
// nTimeoutMs in all for room (0 or less: without limit); never raises SIGPIPE. False with strError set when
// the peer is gone, an error occurs or the time runs out.
bool writeAll(int fd, iovec* pVector, int nVectors, long nTimeoutMs, std::string& strError);

// Milliseconds on a clock that never goes back.
int64_t nowMs();

// strerror_r made readable.
std::string errnoText(int nErrno);

void setNonBlocking(int fd);

// A pipe whose write end may be written from a signal handler: both ends
// close-on-exec and non-blocking. Throws Corvel::Exception.
void makeWakePipe(int afd[2]);

// Whether a connected socket's peer is on this machine: a unix socket, or a
// loopback address (127/8, ::1, or 127/8 mapped into IPv6).
bool isLocalPeer(int fd);

// Closes fd when it is open and sets it to -1.
void closeFd(int& fd);

} // namespace net
} // namespace Corvel

#endif
