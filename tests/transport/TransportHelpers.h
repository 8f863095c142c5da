#ifndef OSTREL_TESTS_TRANSPORT_HELPERS_H
#define OSTREL_TESTS_TRANSPORT_HELPERS_H

// Pieces the transport tests share: a recording message handler, a captured
// event log, and a raw socket for crafting what a well-behaved peer never sends.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "Corvel/DaemonComm.h"
#include "Corvel/EventLogger.h"
#include "Corvel/Framing.h"

namespace transport_test {

using Clock = std::chrono::steady_clock;

inline long msSince(Clock::time_point t0)
{
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

struct Message {
    Corvel::DaemonComm::Status status;
    std::string strText;
};

// Records what a DaemonComm delivers, for the test thread to wait on.
class Inbox {
public:
    Corvel::DaemonComm::Callback callback()
    {
        return [this](Corvel::DaemonComm::Status status, const std::string& strText) {
            std::lock_guard<std::mutex> lock(_mx);
            _messageS.push_back(Message{status, strText});
            _cv.notify_all();
        };
    }

    // The next message, or false after nMs without one.
    bool next(Message& message, long nMs = 3000)
    {
        std::unique_lock<std::mutex> lock(_mx);
        if (!_cv.wait_for(lock, std::chrono::milliseconds(nMs), [this] { return !_messageS.empty(); }))
            return false;
        message = _messageS.front();
        _messageS.pop_front();
        return true;
    }

    size_t size()
    {
        std::lock_guard<std::mutex> lock(_mx);
        return _messageS.size();
    }

private:
    std::mutex _mx;
    std::condition_variable _cv;
    std::deque<Message> _messageS;
};

// Captures the process's event log while it lives.
class LogCapture {
public:
    LogCapture()
    {
        Corvel::EventLogger::setLevel(Corvel::EventLogger::levelDebug);
        Corvel::EventLogger::setSink([this](const std::string& strLine) {
            std::lock_guard<std::mutex> lock(_mx);
            _lineS.push_back(strLine);
            _cv.notify_all();
        });
    }
    ~LogCapture()
    {
        Corvel::EventLogger::setSink(nullptr);
        Corvel::EventLogger::setLevel(Corvel::EventLogger::levelInfo);
    }

    // Waits up to nMs for a line holding every one of the texts.
    bool waitFor(const std::vector<std::string>& textS, long nMs = 3000)
    {
        std::unique_lock<std::mutex> lock(_mx);
        return _cv.wait_for(lock, std::chrono::milliseconds(nMs), [&] {
            for (const std::string& strLine : _lineS) {
                bool bAll = true;
                for (const std::string& strText : textS)
                    bAll = bAll && strLine.find(strText) != std::string::npos;
                if (bAll) return true;
            }
            return false;
        });
    }

private:
    std::mutex _mx;
    std::condition_variable _cv;
    std::vector<std::string> _lineS;
};

// A plain blocking socket to a server address as DaemonServer::addresses() gives it.
class RawPeer {
public:
    explicit RawPeer(const std::string& strAddress) { _fd = open(strAddress); }
    ~RawPeer()
    {
        if (_fd >= 0) ::close(_fd);
    }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    bool isOpen() const { return _fd >= 0; }
    int fd() const { return _fd; }

    bool write(const std::string& strBytes)
    {
        size_t nDone = 0;
        while (nDone < strBytes.size()) {
            ssize_t n = ::send(_fd, strBytes.data() + nDone, strBytes.size() - nDone, MSG_NOSIGNAL);
            if (n <= 0) return false;
            nDone += size_t(n);
        }
        return true;
    }

    bool sendRequest(uint32_t uId, const std::string& strPayload)
    {
        return write(Corvel::framing::encodeFrame(Corvel::framing::kindRequest, uId, strPayload));
    }

    // Reads one frame within nMs; false on time-out, close or garbage.
    bool readFrame(Corvel::framing::Frame& frame, long nMs = 3000)
    {
        Clock::time_point t0 = Clock::now();
        for (;;) {
            if (_reader.state() == Corvel::framing::FrameReader::complete) {
                frame = _reader.take();
                return true;
            }
            char c;
            if (!readByte(c, nMs - msSince(t0))) return false;
            _reader.feed(&c, 1);
            if (_reader.state() == Corvel::framing::FrameReader::malformed ||
                _reader.state() == Corvel::framing::FrameReader::oversized)
                return false;
        }
    }

    // True when the peer closes within nMs (data sent before the close is skipped).
    bool closedWithin(long nMs)
    {
        Clock::time_point t0 = Clock::now();
        char c;
        for (;;) {
            long nLeft = nMs - msSince(t0);
            if (nLeft <= 0) return false;
            pollfd pfd{_fd, POLLIN, 0};
            if (poll(&pfd, 1, int(nLeft)) <= 0) continue;
            ssize_t n = ::recv(_fd, &c, 1, 0);
            if (n <= 0) return true;
        }
    }

private:
    bool readByte(char& c, long nMs)
    {
        pollfd pfd{_fd, POLLIN, 0};
        if (nMs <= 0 || poll(&pfd, 1, int(nMs)) <= 0) return false;
        return ::recv(_fd, &c, 1, 0) == 1;
    }

    static int open(const std::string& strAddress)
    {
        if (strAddress.compare(0, 5, "unix:") == 0) {
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::string strPath = strAddress.substr(5);
            strPath.copy(addr.sun_path, sizeof addr.sun_path - 1);
            int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
                ::close(fd);
                return -1;
            }
            return fd;
        }
        std::string::size_type nColon = strAddress.rfind(':');
        std::string strHost = strAddress.substr(0, nColon);
        if (!strHost.empty() && strHost[0] == '[') strHost = strHost.substr(1, strHost.size() - 2);
        std::string strPort = strAddress.substr(nColon + 1);
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* pResult = nullptr;
        if (getaddrinfo(strHost.c_str(), strPort.c_str(), &hints, &pResult) != 0) return -1;
        int fd = socket(pResult->ai_family, SOCK_STREAM, 0);
        if (::connect(fd, pResult->ai_addr, pResult->ai_addrlen) != 0) {
            ::close(fd);
            fd = -1;
        }
        freeaddrinfo(pResult);
        return fd;
    }

    int _fd = -1;
    Corvel::framing::FrameReader _reader;
};

// Copies the bytes of one connection both ways between a client and strTarget (an address
// RawPeer takes), keeping what passes: what someone on the path sees.
class ByteRelay {
public:
    explicit ByteRelay(const std::string& strTarget) : _strTarget(strTarget)
    {
        _fdListen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(_fdListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t nLen = sizeof addr;
        getsockname(_fdListen, reinterpret_cast<sockaddr*>(&addr), &nLen);
        _nPort = ntohs(addr.sin_port);
        ::listen(_fdListen, 4);
        _thread = std::thread([this] { run(); });
    }
    ~ByteRelay()
    {
        _bStop = true;
        _thread.join();
        ::close(_fdListen);
    }
    int port() const { return _nPort; }
    std::string seen()
    {
        std::lock_guard<std::mutex> lock(_mx);
        return _strSeen;
    }

private:
    void run()
    {
        pollfd pfd{_fdListen, POLLIN, 0};
        while (!_bStop && poll(&pfd, 1, 50) == 0) {
        }
        if (_bStop) return;
        int fdClient = ::accept(_fdListen, nullptr, nullptr);
        RawPeer server(_strTarget);
        char ab[4096];
        while (!_bStop) {
            pollfd apfd[2] = {{fdClient, POLLIN, 0}, {server.fd(), POLLIN, 0}};
            if (poll(apfd, 2, 50) <= 0) continue;
            for (int i = 0; i < 2; ++i) {
                if (!apfd[i].revents) continue;
                ssize_t n = ::recv(apfd[i].fd, ab, sizeof ab, 0);
                if (n <= 0) {
                    ::close(fdClient);
                    return;
                }
                {
                    std::lock_guard<std::mutex> lock(_mx);
                    _strSeen.append(ab, size_t(n));
                }
                ::send(i == 0 ? server.fd() : fdClient, ab, size_t(n), MSG_NOSIGNAL);
            }
        }
        ::close(fdClient);
    }

    std::string _strTarget;
    int _fdListen = -1;
    int _nPort = 0;
    std::atomic<bool> _bStop{false};
    std::mutex _mx;
    std::string _strSeen;
    std::thread _thread;
};

} // namespace transport_test

#endif
