#include "Corvel/Net.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/un.h>
#include <unistd.h>

#include "Corvel/Exception.h"

namespace Corvel {
namespace net {

namespace {

[[noreturn]] void fail(int nLine, const std::string& strLegend)
{
    throw Exception(__FILE__, nLine, CVLX_SEELEGEND, false, strLegend);
}

// A port in decimal, 1..65535 (0 too when listening).
int parsePort(const std::string& strPort, const std::string& strText, bool bListen)
{
    if (strPort.empty() || strPort.size() > 5 || strPort.find_first_not_of("0123456789") != std::string::npos)
        fail(__LINE__, "Bad port '" + strPort + "' in service '" + strText + "'");
    int nPort = std::stoi(strPort);
    if (nPort > 65535 || (nPort == 0 && !bListen))
        fail(__LINE__, "Port " + strPort + " out of range in service '" + strText + "'");
    return nPort;
}

bool hasBadCharacter(const std::string& str)
{
    for (unsigned char c : str)
        if (c <= ' ' || c == 0x7f) return true;
    return false;
}

} // namespace

std::string errnoText(int nErrno)
{
    char szBuf[256];
    // The GNU strerror_r returns a pointer that may or may not be szBuf.
    const char* psz = strerror_r(nErrno, szBuf, sizeof szBuf);
    return psz ? psz : "error " + std::to_string(nErrno);
}

int64_t nowMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void setNonBlocking(int fd)
{
    int nFlags = fcntl(fd, F_GETFL);
    if (nFlags >= 0) fcntl(fd, F_SETFL, nFlags | O_NONBLOCK);
}

void makeWakePipe(int afd[2])
{
    if (pipe2(afd, O_CLOEXEC | O_NONBLOCK) != 0) fail(__LINE__, "Cannot create a pipe: " + errnoText(errno));
}

bool isLocalPeer(int fd)
{
    sockaddr_storage addr{};
    socklen_t nLen = sizeof addr;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &nLen) != 0) return false;
    if (addr.ss_family == AF_UNIX) return true;
    if (addr.ss_family == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in*>(&addr)->sin_addr.s_addr) >> 24) == 127;
    if (addr.ss_family != AF_INET6) return false;
    const in6_addr& a6 = reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_addr;
    return IN6_IS_ADDR_LOOPBACK(&a6) || (IN6_IS_ADDR_V4MAPPED(&a6) && a6.s6_addr[12] == 127);
}

void closeFd(int& fd)
{
    if (fd >= 0) ::close(fd);
    fd = -1;
}

ServiceName parseServiceName(const std::string& strService, bool bListen)
{
    ServiceName name;
    if (strService.empty()) fail(__LINE__, "Empty service name");
    if (hasBadCharacter(strService))
        fail(__LINE__, "Service name '" + strService + "' holds blanks or control characters");
    std::string strText = strService;
    if (strText.compare(0, 4, "tls:") == 0) {
        name.bTls = true;
        name.nPort = nNET_DefaultTlsPort;
        strText.erase(0, 4);
        if (strText.empty()) fail(__LINE__, "No host after 'tls:' in service '" + strService + "'");
        if (strText.compare(0, 5, "unix:") == 0) fail(__LINE__, "TLS over a unix socket is not offered: '" + strService + "'");
    }
    if (strText.compare(0, 5, "unix:") == 0) {
        name.bUnix = true;
        name.strPath = strText.substr(5);
        if (name.strPath.empty()) fail(__LINE__, "No socket path in service '" + strText + "'");
        if (name.strPath.size() >= sizeof(sockaddr_un::sun_path))
            fail(__LINE__, "Socket path in service '" + strText + "' is longer than " +
                               std::to_string(sizeof(sockaddr_un::sun_path) - 1) + " bytes");
        return name;
    }
    if (strText[0] == '[') {
        std::string::size_type nClose = strText.find(']');
        if (nClose == std::string::npos) fail(__LINE__, "Missing ']' in service '" + strText + "'");
        name.strHost = strText.substr(1, nClose - 1);
        if (name.strHost.empty()) fail(__LINE__, "Empty address in service '" + strText + "'");
        std::string strRest = strText.substr(nClose + 1);
        if (!strRest.empty()) {
            if (strRest[0] != ':') fail(__LINE__, "Unexpected text after ']' in service '" + strText + "'");
            name.nPort = parsePort(strRest.substr(1), strText, bListen);
        }
        return name;
    }
    std::string::size_type nColon = strText.find(':');
    if (nColon == std::string::npos || strText.find(':', nColon + 1) != std::string::npos) {
        // No colon, or several: a host name or a bare IPv6 address on the default port.
        name.strHost = strText;
        return name;
    }
    name.strHost = strText.substr(0, nColon);
    name.nPort = parsePort(strText.substr(nColon + 1), strText, bListen);
    if (name.strHost.empty() && !bListen) fail(__LINE__, "No host in service '" + strText + "'");
    return name;
}

std::string addressText(const sockaddr* pAddr, socklen_t nLength)
{
    char szHost[INET6_ADDRSTRLEN] = "";
    switch (pAddr->sa_family) {
    case AF_INET: {
        const sockaddr_in* p4 = reinterpret_cast<const sockaddr_in*>(pAddr);
        inet_ntop(AF_INET, &p4->sin_addr, szHost, sizeof szHost);
        return std::string(szHost) + ":" + std::to_string(ntohs(p4->sin_port));
    }
    case AF_INET6: {
        const sockaddr_in6* p6 = reinterpret_cast<const sockaddr_in6*>(pAddr);
        inet_ntop(AF_INET6, &p6->sin6_addr, szHost, sizeof szHost);
        return "[" + std::string(szHost) + "]:" + std::to_string(ntohs(p6->sin6_port));
    }
    case AF_UNIX: {
        const sockaddr_un* pu = reinterpret_cast<const sockaddr_un*>(pAddr);
        size_t nMax = nLength > offsetof(sockaddr_un, sun_path) ? nLength - offsetof(sockaddr_un, sun_path) : 0;
        return "unix:" + std::string(pu->sun_path, strnlen(pu->sun_path, nMax));
    }
    default: return "address family " + std::to_string(pAddr->sa_family);
    }
}

std::vector<Endpoint> resolve(const ServiceName& name, bool bListen)
{
    std::vector<Endpoint> endpointS;
    if (name.bUnix) {
        Endpoint ep;
        sockaddr_un* pu = reinterpret_cast<sockaddr_un*>(&ep.addr);
        pu->sun_family = AF_UNIX;
        memcpy(pu->sun_path, name.strPath.c_str(), name.strPath.size() + 1);
        ep.nLength = socklen_t(offsetof(sockaddr_un, sun_path) + name.strPath.size() + 1);
        ep.strText = "unix:" + name.strPath;
        endpointS.push_back(ep);
        return endpointS;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    bool bWildcard = bListen && (name.strHost.empty() || name.strHost == "*");
    if (bWildcard) hints.ai_flags |= AI_PASSIVE;
    std::string strPort = std::to_string(name.nPort);
    addrinfo* pResult = nullptr;
    int nRc = getaddrinfo(bWildcard ? nullptr : name.strHost.c_str(), strPort.c_str(), &hints, &pResult);
    if (nRc != 0) {
        std::string strWhy = nRc == EAI_SYSTEM ? errnoText(errno) : gai_strerror(nRc);
        fail(__LINE__, "Cannot resolve host '" + name.strHost + "': " + strWhy);
    }
    for (addrinfo* p = pResult; p; p = p->ai_next) {
        if ((p->ai_family != AF_INET && p->ai_family != AF_INET6) || p->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        Endpoint ep;
        memcpy(&ep.addr, p->ai_addr, p->ai_addrlen);
        ep.nLength = p->ai_addrlen;
        ep.strText = addressText(p->ai_addr, p->ai_addrlen);
        bool bSeen = false;
        for (const Endpoint& other : endpointS)
            bSeen = bSeen || other.strText == ep.strText;
        if (!bSeen) endpointS.push_back(ep);
    }
    freeaddrinfo(pResult);
    if (endpointS.empty()) fail(__LINE__, "Host '" + name.strHost + "' has no IPv4 or IPv6 address");
    return endpointS;
}

namespace {

// One attempt; returns the socket or -1 with strWhy set.
int connectOne(const Endpoint& ep, int64_t nDeadline, std::string& strWhy)
{
    int nFamily = reinterpret_cast<const sockaddr*>(&ep.addr)->sa_family;
    int fd = socket(nFamily, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        strWhy = errnoText(errno);
        return -1;
    }
    long nLeft = long(nDeadline - nowMs());
    if (nLeft < 1) nLeft = 1;
    if (nFamily == AF_UNIX) {
        // A unix connect never reports progress through poll; a blocking connect
        // bounded by the send time-out waits for room in a full backlog instead.
        timeval tv{nLeft / 1000, (nLeft % 1000) * 1000};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        int nRc;
        do {
            nRc = ::connect(fd, reinterpret_cast<const sockaddr*>(&ep.addr), ep.nLength);
        } while (nRc != 0 && errno == EINTR && nowMs() < nDeadline);
        if (nRc != 0) {
            strWhy = errno == EAGAIN || errno == EINPROGRESS ? "timed out" : errnoText(errno);
            ::close(fd);
            return -1;
        }
        timeval tvNone{0, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tvNone, sizeof tvNone);
        setNonBlocking(fd);
        return fd;
    }
    setNonBlocking(fd);
    // Each request goes out in one write and waits for its reply: coalescing
    // writes would only add latency.
    int nOne = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof nOne);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&ep.addr), ep.nLength) == 0) return fd;
    if (errno != EINPROGRESS && errno != EINTR) {
        strWhy = errnoText(errno);
        ::close(fd);
        return -1;
    }
    for (;;) {
        pollfd pfd{fd, POLLOUT, 0};
        long nWait = long(nDeadline - nowMs());
        int nRc = nWait > 0 ? poll(&pfd, 1, int(nWait)) : 0;
        if (nRc < 0 && errno == EINTR) continue;
        if (nRc <= 0) {
            strWhy = nRc == 0 ? "timed out" : errnoText(errno);
            ::close(fd);
            return -1;
        }
        int nError = 0;
        socklen_t nLen = sizeof nError;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &nError, &nLen) != 0) nError = errno;
        if (nError == 0) return fd;
        strWhy = errnoText(nError);
        ::close(fd);
        return -1;
    }
}

} // namespace

int connectBounded(const std::vector<Endpoint>& endpointS, long nTimeoutMs, const std::string& strTarget)
{
    int64_t nDeadline = nowMs() + (nTimeoutMs > 0 ? nTimeoutMs : 1);
    std::string strWhy = "no address";
    std::string strLastAddress;
    for (const Endpoint& ep : endpointS) {
        if (nowMs() >= nDeadline && !strLastAddress.empty()) break;
        int fd = connectOne(ep, nDeadline, strWhy);
        if (fd >= 0) return fd;
        strLastAddress = ep.strText;
    }
    std::string strAt = strLastAddress.empty() || strLastAddress == strTarget ? "" : " (" + strLastAddress + ")";
    fail(__LINE__, "Cannot connect to '" + strTarget + "'" + strAt + ": " + strWhy);
}

bool writeAll(int fd, iovec* pVector, int nVectors, long nTimeoutMs, std::string& strError)
{
    // 0 (or less): no time limit, as the server's options say.
    const bool bLimited = nTimeoutMs > 0;
    const int64_t nDeadline = bLimited ? nowMs() + nTimeoutMs : 0;
    while (nVectors > 0) {
        if (pVector->iov_len == 0) {
            ++pVector;
            --nVectors;
            continue;
        }
        msghdr msg{};
        msg.msg_iov = pVector;
        msg.msg_iovlen = size_t(nVectors);
        ssize_t n = sendmsg(fd, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                strError = errnoText(errno);
                return false;
            }
            pollfd pfd{fd, POLLOUT, 0};
            const int64_t nWait = bLimited ? nDeadline - nowMs() : -1;
            int nRc = !bLimited ? poll(&pfd, 1, -1) : nWait > 0 ? poll(&pfd, 1, int(std::min<int64_t>(nWait, INT_MAX))) : 0;
            if (nRc < 0 && errno != EINTR) {
                strError = errnoText(errno);
                return false;
            }
            if (nRc == 0) {
                strError = "timed out waiting for the peer to read";
                return false;
            }
            continue;
        }
        size_t nSent = size_t(n);
        while (nVectors > 0 && nSent >= pVector->iov_len) {
            nSent -= pVector->iov_len;
            ++pVector;
            --nVectors;
        }
        if (nVectors > 0) {
            pVector->iov_base = static_cast<char*>(pVector->iov_base) + nSent;
            pVector->iov_len -= nSent;
        }
    }
    return true;
}

} // namespace net
} // namespace Corvel
