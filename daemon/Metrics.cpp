#include "Metrics.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

// The one file of the daemon that sees the HTTP library.
#include <httplib.h>

#include "Corvel/Mutex.h"

namespace Ostreld {

namespace {

using Clock = std::chrono::steady_clock;

const char* const pszLoginOutcomeS[Metrics::nLoginOutcomes] = {"succeeded", "failed", "locked_out"};

// Microseconds as seconds, exactly: "0.0025", "2.5", "12".
std::string seconds(std::uint64_t nUs)
{
    char sz[48];
    std::snprintf(sz, sizeof sz, "%" PRIu64 ".%06" PRIu64, nUs / 1000000, nUs % 1000000);
    std::string str = sz;
    str.erase(str.find_last_not_of('0') + 1);
    if (str.back() == '.') str.pop_back();
    return str;
}

void header(std::string& strText, const char* pszName, const char* pszType, const char* pszHelp)
{
    strText += std::string("# HELP ") + pszName + " " + pszHelp + "\n# TYPE " + pszName + " " + pszType + "\n";
}

void sample(std::string& strText, const std::string& strName, std::uint64_t n)
{
    strText += strName + " " + std::to_string(n) + "\n";
}

// A few threads, and a short queue of work in front of them: while it is full whoever queues waits
// here, so that work does not pile up in the process (connections not yet taken wait in the
// kernel's backlog, and beyond it are refused).
class BoundedPool : public httplib::TaskQueue {
public:
    BoundedPool(size_t nThreads, size_t nMaxWaiting) : _nMaxWaiting(nMaxWaiting)
    {
        for (size_t i = 0; i < nThreads; ++i)
            _threadS.emplace_back([this] { work(); });
    }
    ~BoundedPool() override { BoundedPool::shutdown(); }

    void enqueue(std::function<void()> fn) override
    {
        Corvel::MutexLock lock(_mx);
        while (_jobS.size() >= _nMaxWaiting && !_bShutdown)
            _cvRoom.wait(_mx);
        _jobS.push_back(std::move(fn));
        _cvWork.notifyOne();
    }
    // Whether enqueue() would take a job without waiting: for one who alone queues, it then does.
    bool hasRoom()
    {
        Corvel::MutexLock lock(_mx);
        return _jobS.size() < _nMaxWaiting;
    }
    // Runs what is queued (each job closes its connection), then joins the threads.
    void shutdown() override
    {
        {
            Corvel::MutexLock lock(_mx);
            _bShutdown = true;
        }
        _cvWork.notifyAll();
        _cvRoom.notifyAll();
        for (std::thread& thread : _threadS)
            if (thread.joinable()) thread.join();
    }

private:
    void work()
    {
        for (;;) {
            std::function<void()> fn;
            {
                Corvel::MutexLock lock(_mx);
                while (_jobS.empty() && !_bShutdown)
                    _cvWork.wait(_mx);
                if (_jobS.empty()) return;
                fn = std::move(_jobS.front());
                _jobS.pop_front();
                _cvRoom.notifyOne();
            }
            fn();
        }
    }

    const size_t _nMaxWaiting;
    Corvel::Mutex _mx;
    Corvel::ConditionVariable _cvWork;
    Corvel::ConditionVariable _cvRoom;
    std::deque<std::function<void()>> _jobS CORVEL_GUARDED_BY(_mx);
    bool _bShutdown CORVEL_GUARDED_BY(_mx) = false;
    std::vector<std::thread> _threadS;
};

constexpr size_t nHttpThreads = 2;
constexpr size_t nMaxWaitingConnections = 8;
constexpr time_t nHttpTimeoutSeconds = 2;
constexpr size_t nMaxPayload = 1024;  // the two GETs carry none
// All of a request up to its blank line, and the time it may take to come: the library bounds
// each header line, but neither how many there are nor the time between them.
constexpr size_t nMaxRequestHead = 8192;
constexpr int nRequestDeadlineMs = 3000;
// Health is asked of the database at most this often, whoever scrapes.
constexpr auto healthValidity = std::chrono::seconds(2);

// One request's head as read within the bounds, handed to the library as its stream; replies go
// straight to the socket within the write time-out. Nothing past the head is read: the library
// sees the end of the stream there, and the connection closes after one reply.
class HeadStream : public httplib::Stream {
public:
    HeadStream(int fd, std::string strHead) : _fd(fd), _strHead(std::move(strHead)) {}

    bool is_readable() const override { return _nRead < _strHead.size(); }
    bool is_writable() const override
    {
        pollfd pfd{_fd, POLLOUT, 0};
        return ::poll(&pfd, 1, int(nHttpTimeoutSeconds * 1000)) > 0 && (pfd.revents & POLLOUT) != 0;
    }
    ssize_t read(char* ptr, size_t size) override
    {
        const size_t n = std::min(size, _strHead.size() - _nRead);
        std::memcpy(ptr, _strHead.data() + _nRead, n);
        _nRead += n;
        return static_cast<ssize_t>(n);
    }
    ssize_t write(const char* ptr, size_t size) override
    {
        size_t nDone = 0;
        while (nDone < size) {
            if (!is_writable()) return -1;
            const ssize_t n = ::send(_fd, ptr + nDone, size - nDone, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return -1;
            nDone += static_cast<size_t>(n);
        }
        return static_cast<ssize_t>(nDone);
    }
    void get_remote_ip_and_port(std::string& strIp, int& nPort) const override { addressOf(true, strIp, nPort); }
    void get_local_ip_and_port(std::string& strIp, int& nPort) const override { addressOf(false, strIp, nPort); }
    socket_t socket() const override { return _fd; }

private:
    void addressOf(bool bPeer, std::string& strIp, int& nPort) const
    {
        sockaddr_storage address{};
        socklen_t nLength = sizeof address;
        const int nRc = bPeer ? ::getpeername(_fd, reinterpret_cast<sockaddr*>(&address), &nLength)
                              : ::getsockname(_fd, reinterpret_cast<sockaddr*>(&address), &nLength);
        char sz[INET6_ADDRSTRLEN] = "";
        nPort = 0;
        if (nRc == 0 && address.ss_family == AF_INET) {
            const auto* p = reinterpret_cast<const sockaddr_in*>(&address);
            ::inet_ntop(AF_INET, &p->sin_addr, sz, sizeof sz);
            nPort = ntohs(p->sin_port);
        } else if (nRc == 0 && address.ss_family == AF_INET6) {
            const auto* p = reinterpret_cast<const sockaddr_in6*>(&address);
            ::inet_ntop(AF_INET6, &p->sin6_addr, sz, sizeof sz);
            nPort = ntohs(p->sin6_port);
        }
        strIp = sz;
    }

    const int _fd;
    const std::string _strHead;
    size_t _nRead = 0;
};

// Connections whose request head is still coming, read side by side on one thread: a client that
// sends nothing, or dribbles, holds no thread that answers, so the health is answered whatever such
// clients do. Each head must be whole within the deadline and the bound. A whole head waits, within
// the same deadline, while the answering threads are busy: the reader itself never waits on them.
// At most nMaxReading connections are held; one more takes the place of the oldest that has sent
// nothing (a scraper's head comes at once, so only the silent give way).
class HeadReader {
public:
    // Takes a whole head and its connection over, or returns false to be asked again later.
    using Ready = std::function<bool(int fd, std::string& strHead)>;

    explicit HeadReader(Ready ready) : _ready(std::move(ready))
    {
        if (::pipe2(_afdWake, O_CLOEXEC | O_NONBLOCK) != 0)
            throw std::runtime_error(std::string("cannot make the metrics listener's pipe: ") + std::strerror(errno));
        try {
            _thread = std::thread([this] { run(); });
        } catch (...) {
            ::close(_afdWake[0]);
            ::close(_afdWake[1]);
            throw;
        }
    }
    ~HeadReader()
    {
        stop();
        ::close(_afdWake[0]);
        ::close(_afdWake[1]);
    }
    // Takes the connection over.
    void add(int fd)
    {
        int fdDropped = fd;
        try {
            Corvel::MutexLock lock(_mx);
            if (!_bStopped) {
                // Bounded even while the reader is slow to take them.
                const int fdOldest = _incomingS.size() >= nMaxReading ? _incomingS.front() : -1;
                _incomingS.push_back(fd);
                fdDropped = fdOldest;
                if (fdDropped >= 0) _incomingS.pop_front();
            }
        } catch (...) {
            fdDropped = fd;  // out of memory: this one is not served
        }
        if (fdDropped >= 0) ::close(fdDropped);
        if (fdDropped != fd) wake();
    }
    // Closes every connection still held; none is handed on after it returns.
    void stop()
    {
        {
            Corvel::MutexLock lock(_mx);
            _bStopped = true;
        }
        wake();
        if (_thread.joinable()) _thread.join();
    }

private:
    static constexpr size_t nMaxReading = 64;
    static constexpr auto retryWait = std::chrono::milliseconds(10);  // a whole head, for a free answerer
    struct Reading {
        int fd;
        std::string strHead;
        Clock::time_point tEnd;
        bool bWhole;
    };
    enum class Read { more, whole, failed };

    void wake() const
    {
        const char ch = 0;
        (void)!::write(_afdWake[1], &ch, 1);
    }

    static Read readSome(Reading& reading)
    {
        char achBuffer[2048];
        const ssize_t n = ::recv(reading.fd, achBuffer, std::min(sizeof achBuffer, nMaxRequestHead - reading.strHead.size()),
                                 MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return Read::more;
        if (n <= 0) return Read::failed;
        reading.strHead.append(achBuffer, static_cast<size_t>(n));
        if (reading.strHead.find("\r\n\r\n") != std::string::npos) return Read::whole;
        return reading.strHead.size() >= nMaxRequestHead ? Read::failed : Read::more;
    }

    // Reads what came; false when the connection is to be closed.
    static bool advance(Reading& reading)
    {
        const Read read = readSome(reading);
        reading.bWhole = read == Read::whole;
        return read != Read::failed;
    }

    // One over the bound: the oldest that has sent nothing goes, else the oldest still reading,
    // else the newest.
    static void evictOne(std::vector<Reading>& readingS)
    {
        auto it = std::find_if(readingS.begin(), readingS.end(),
                               [](const Reading& reading) { return !reading.bWhole && reading.strHead.empty(); });
        if (it == readingS.end())
            it = std::find_if(readingS.begin(), readingS.end(), [](const Reading& reading) { return !reading.bWhole; });
        if (it == readingS.end()) it = readingS.end() - 1;
        ::close(it->fd);
        readingS.erase(it);
    }

    // True when the connection is gone from the reader: handed on, or closed.
    bool handOn(Reading& reading)
    {
        try {
            return _ready(reading.fd, reading.strHead);
        } catch (...) {
            ::close(reading.fd);  // out of memory, say: this one is not answered
            return true;
        }
    }

    void run()
    {
        std::vector<Reading> readingS;
        for (;;) {
            try {
                if (!readSide(readingS)) break;
            } catch (...) {
                // Out of memory, say: what was being read goes, the reader stays.
                for (const Reading& reading : readingS)
                    ::close(reading.fd);
                readingS.clear();
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        for (const Reading& reading : readingS)
            ::close(reading.fd);
        Corvel::MutexLock lock(_mx);
        for (int fd : _incomingS)
            ::close(fd);
        _incomingS.clear();
    }

    // One round: takes what came in, hands on whole heads, waits for more. False once stopped.
    bool readSide(std::vector<Reading>& readingS)
    {
        std::deque<int> incomingS;
        {
            Corvel::MutexLock lock(_mx);
            if (_bStopped) return false;
            incomingS.swap(_incomingS);
        }
        Clock::time_point tNow = Clock::now();
        while (!incomingS.empty()) {
            const int fd = incomingS.front();
            incomingS.pop_front();
            try {
                // What came with the connection is read before anyone is chosen to give way.
                Reading reading{fd, std::string(), tNow + std::chrono::milliseconds(nRequestDeadlineMs), false};
                if (!advance(reading)) {
                    ::close(fd);
                    continue;
                }
                readingS.push_back(std::move(reading));
            } catch (...) {
                ::close(fd);
                for (int fdLeft : incomingS)
                    ::close(fdLeft);
                throw;
            }
            if (readingS.size() > nMaxReading) evictOne(readingS);
        }
        // Whole heads go to the answerers while they take them; the rest wait within their time.
        bool bWaiting = false;
        std::vector<Reading> keptS;
        keptS.reserve(readingS.size());
        for (Reading& reading : readingS) {
            if (reading.bWhole && handOn(reading)) continue;
            if (reading.tEnd <= tNow) {
                ::close(reading.fd);
                continue;
            }
            bWaiting = bWaiting || reading.bWhole;
            keptS.push_back(std::move(reading));
        }
        readingS.swap(keptS);

        Clock::time_point tNext =
            tNow + (bWaiting ? Clock::duration(retryWait) : Clock::duration(std::chrono::seconds(1)));
        std::vector<pollfd> pfdS;
        pfdS.reserve(readingS.size() + 1);
        pfdS.push_back(pollfd{_afdWake[0], POLLIN, 0});
        for (const Reading& reading : readingS) {
            pfdS.push_back(pollfd{reading.fd, static_cast<short>(reading.bWhole ? 0 : POLLIN), 0});
            tNext = std::min(tNext, reading.tEnd);
        }
        const auto nWaitMs = std::chrono::duration_cast<std::chrono::milliseconds>(tNext - tNow).count() + 1;
        if (::poll(pfdS.data(), pfdS.size(), static_cast<int>(std::max<long long>(nWaitMs, 0))) < 0 && errno != EINTR) {
            // Out of kernel memory, say: try again a little later rather than spin.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            return true;
        }
        if (pfdS[0].revents != 0)
            for (char ach[64]; ::read(_afdWake[0], ach, sizeof ach) > 0;) {
            }
        // Reserved above: moving the connections kept cannot fail half-way.
        keptS.clear();
        for (size_t i = 0; i < readingS.size(); ++i) {
            Reading& reading = readingS[i];
            const short nRevents = pfdS[i + 1].revents;
            // A whole head's peer that is gone has nobody to answer (and would wake every poll).
            const bool bGone = reading.bWhole && (nRevents & (POLLERR | POLLHUP)) != 0;
            bool bKeep = !bGone;
            if (bKeep && !reading.bWhole && nRevents != 0) {
                try {
                    bKeep = advance(reading);
                } catch (...) {
                    bKeep = false;  // its head could not grow
                }
            }
            if (bKeep)
                keptS.push_back(std::move(reading));
            else
                ::close(reading.fd);
        }
        readingS.swap(keptS);
        return true;
    }

    const Ready _ready;
    int _afdWake[2] = {-1, -1};
    Corvel::Mutex _mx;
    std::deque<int> _incomingS CORVEL_GUARDED_BY(_mx);
    bool _bStopped CORVEL_GUARDED_BY(_mx) = false;
    std::thread _thread;
};

// The library's server, each connection served once from a head read within the bounds above: the
// library's own thread only hands connections to the head reader, and two threads answer the
// heads that came whole. When it stops, connections still being read or waiting for an answer
// are closed unserved, so stopping takes no longer than one reply.
class BoundedServer : public httplib::Server {
public:
    BoundedServer() : _reader([this](int fd, std::string& strHead) { return answer(fd, strHead); }) {}
    void beginStop()
    {
        _bStopping.store(true);
        _reader.stop();
    }

private:
    bool process_and_close_socket(socket_t sock) override
    {
        _reader.add(sock);
        return true;
    }

    // On the head reader's thread, the only one that queues answers: false while every answering
    // thread is busy and their queue full.
    bool answer(int fd, std::string& strHead)
    {
        if (!_answerers.hasRoom()) return false;
        _answerers.enqueue([this, fd, strHead = std::move(strHead)]() mutable {
            if (!_bStopping.load()) {
                HeadStream stream(fd, std::move(strHead));
                bool bClosed = false;
                process_request(stream, true, bClosed, nullptr);
            }
            ::shutdown(fd, SHUT_RDWR);
            ::close(fd);
        });
        return true;
    }

    std::atomic<bool> _bStopping{false};
    BoundedPool _answerers{nHttpThreads, nMaxWaitingConnections};
    HeadReader _reader;  // made after the answerers and gone before them, so that none is handed on late
};

} // namespace

// ---- histogram

Histogram::Histogram(std::vector<std::uint64_t> boundUsS)
    : _boundUsS(std::move(boundUsS)), _pcountS(new std::atomic<std::uint64_t>[_boundUsS.size() + 1])
{
    for (size_t i = 0; i <= _boundUsS.size(); ++i)
        _pcountS[i].store(0, std::memory_order_relaxed);
}

void Histogram::observe(Clock::duration took)
{
    const auto nUs = std::chrono::duration_cast<std::chrono::microseconds>(took).count();
    const std::uint64_t uUs = nUs > 0 ? static_cast<std::uint64_t>(nUs) : 0;
    size_t i = 0;
    while (i < _boundUsS.size() && uUs > _boundUsS[i])
        ++i;
    _pcountS[i].fetch_add(1, std::memory_order_relaxed);
    _nSumUs.fetch_add(uUs, std::memory_order_relaxed);
}

void Histogram::expose(std::string& strText, const char* pszName) const
{
    const std::string strName = pszName;
    std::uint64_t nCumulated = 0;
    for (size_t i = 0; i <= _boundUsS.size(); ++i) {
        nCumulated += _pcountS[i].load(std::memory_order_relaxed);
        const std::string strBound = i < _boundUsS.size() ? seconds(_boundUsS[i]) : "+Inf";
        sample(strText, strName + "_bucket{le=\"" + strBound + "\"}", nCumulated);
    }
    strText += strName + "_sum " + seconds(_nSumUs.load(std::memory_order_relaxed)) + "\n";
    // The count is the buckets' total, so that it always equals the +Inf bucket.
    sample(strText, strName + "_count", nCumulated);
}

// ---- the registry

Metrics::Metrics(std::vector<const char*> requestNameS)
    : _requestNameS(std::move(requestNameS)),
      _prequestS(new std::atomic<std::uint64_t>[2 * (_requestNameS.size() + 1)]),
      _loginTimes({1000, 2000, 5000, 10000, 25000, 50000, 100000, 250000, 500000, 1000000, 2500000}),
      _reloadTimes({10000, 50000, 100000, 250000, 500000, 1000000, 2500000, 5000000, 10000000, 30000000})
{
    for (size_t i = 0; i < 2 * (_requestNameS.size() + 1); ++i)
        _prequestS[i].store(0, std::memory_order_relaxed);
}

void Metrics::setModelSize(long nDomains, long nUsers, long nTeams, long nProducts)
{
    _nDomains.store(nDomains, std::memory_order_relaxed);
    _nUsers.store(nUsers, std::memory_order_relaxed);
    _nTeams.store(nTeams, std::memory_order_relaxed);
    _nProducts.store(nProducts, std::memory_order_relaxed);
}

std::string Metrics::exposition() const
{
    std::string strText;
    strText.reserve(8192);
    header(strText, "ostrel_requests_total", "counter", "Requests answered, by request and outcome (error: an exception reply).");
    for (size_t i = 0; i <= _requestNameS.size(); ++i) {
        const std::string strRequest = i < _requestNameS.size() ? _requestNameS[i] : "other";
        for (int nOutcome = 0; nOutcome < 2; ++nOutcome)
            sample(strText,
                   "ostrel_requests_total{request=\"" + strRequest + "\",outcome=\"" + (nOutcome == 0 ? "ok" : "error") +
                       "\"}",
                   _prequestS[2 * i + nOutcome].load(std::memory_order_relaxed));
    }
    header(strText, "ostrel_logins_total", "counter",
           "Password logins (authenticate and validate), by outcome; locked_out: refused while the account is locked.");
    for (int n = 0; n < nLoginOutcomes; ++n)
        sample(strText, std::string("ostrel_logins_total{outcome=\"") + pszLoginOutcomeS[n] + "\"}",
               _loginS[n].load(std::memory_order_relaxed));
    header(strText, "ostrel_login_duration_seconds", "histogram",
           "Time from a login's arrival, its wait for a turn included, to its answer.");
    _loginTimes.expose(strText, "ostrel_login_duration_seconds");
    if (_sources.connections) {
        header(strText, "ostrel_connections", "gauge", "Client connections open.");
        strText += "ostrel_connections " + std::to_string(_sources.connections()) + "\n";
    }
    if (_sources.keptSessions) {
        // Left out while the store cannot count, rather than shown as none.
        const long nKept = _sources.keptSessions();
        if (nKept >= 0) {
            header(strText, "ostrel_kept_sessions", "gauge", "Kept sessions not timed out.");
            strText += "ostrel_kept_sessions " + std::to_string(nKept) + "\n";
        }
    }
    header(strText, "ostrel_model_reloads_total", "counter", "Reloads of the model, by outcome.");
    sample(strText, "ostrel_model_reloads_total{outcome=\"ok\"}", _reloadS[0].load(std::memory_order_relaxed));
    sample(strText, "ostrel_model_reloads_total{outcome=\"error\"}", _reloadS[1].load(std::memory_order_relaxed));
    header(strText, "ostrel_model_reload_duration_seconds", "histogram", "Time a reload of the model took.");
    _reloadTimes.expose(strText, "ostrel_model_reload_duration_seconds");
    header(strText, "ostrel_database_errors_total", "counter",
           "Database failures met answering requests and cleaning up kept sessions.");
    sample(strText, "ostrel_database_errors_total", _nDatabaseErrors.load(std::memory_order_relaxed));
    const struct {
        const char* pszName;
        const char* pszHelp;
        const std::atomic<long>& n;
    } gaugeS[] = {
        {"ostrel_model_domains", "Domains in the model as last loaded.", _nDomains},
        {"ostrel_model_users", "Users held in the model's caches as last loaded.", _nUsers},
        {"ostrel_model_teams", "Teams in the model as last loaded.", _nTeams},
        {"ostrel_model_products", "Products in the model as last loaded.", _nProducts},
    };
    for (const auto& gauge : gaugeS) {
        header(strText, gauge.pszName, "gauge", gauge.pszHelp);
        strText += std::string(gauge.pszName) + " " + std::to_string(gauge.n.load(std::memory_order_relaxed)) + "\n";
    }
    return strText;
}

std::string Metrics::healthProblem() const
{
    if (!_sources.healthProblem) return std::string();
    // One scrape at a time asks the database, and not again for a while: probes never queue up
    // for connections the requests need, nor hold both of the listener's threads. Whether this
    // scrape asks is decided under the answer's lock, so that a scrape that does not ask always
    // sees when the one asking began.
    {
        Corvel::MutexLock lock(_mxHealth);
        const Clock::time_point tNow = Clock::now();
        if (_bHealthKnown && tNow - _tHealth < healthValidity) return _strHealth;
        if (!_mxProbe.tryLock()) {
            // The last answer stands while that probe is young: one hung on the database must
            // not leave an old "healthy" answering for it.
            if (!_bHealthKnown) return std::string("the database is being asked");
            if (tNow - _tProbeStarted < healthValidity) return _strHealth;
            return std::string("the database does not answer");
        }
        _tProbeStarted = tNow;
    }
    Corvel::MutexLock probe(_mxProbe, Corvel::AdoptLock());
    std::string strProblem = _sources.healthProblem();
    Corvel::MutexLock lock(_mxHealth);
    _strHealth = strProblem;
    _tHealth = Clock::now();
    _bHealthKnown = true;
    return strProblem;
}

// ---- the listener

struct MetricsListener::Server {
    BoundedServer http;
    std::thread thread;
    std::atomic<bool> bEnded{false};  // the listening thread has returned
};

bool MetricsListener::parseAddress(const std::string& strAddress, std::string& strHost, int& nPort)
{
    std::string strPort;
    if (!strAddress.empty() && strAddress[0] == '[') {
        const std::string::size_type nClose = strAddress.find(']');
        if (nClose == std::string::npos || nClose < 2 || strAddress.compare(nClose, 2, "]:") != 0) return false;
        strHost = strAddress.substr(1, nClose - 1);
        if (strHost.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos) return false;
        strPort = strAddress.substr(nClose + 2);
    } else {
        const std::string::size_type nColon = strAddress.find(':');
        if (nColon == std::string::npos) {
            strHost = "127.0.0.1";
            strPort = strAddress;
        } else {
            strHost = strAddress.substr(0, nColon);
            strPort = strAddress.substr(nColon + 1);
            // A bare IPv6 address would be ambiguous: it goes in brackets.
            if (strHost.empty() || strPort.find(':') != std::string::npos) return false;
        }
    }
    if (strPort.empty() || strPort.size() > 5 || strPort.find_first_not_of("0123456789") != std::string::npos)
        return false;
    nPort = std::atoi(strPort.c_str());
    return nPort <= 65535;
}

MetricsListener::MetricsListener(const Metrics& metrics, const std::string& strAddress)
    : _pserver(std::make_unique<Server>())
{
    std::string strHost;
    int nPort = 0;
    if (!parseAddress(strAddress, strHost, nPort)) throw std::runtime_error("not an address: " + strAddress);
    httplib::Server& http = _pserver->http;
    // Its one thread only hands each connection to the head reader.
    http.new_task_queue = [] { return new BoundedPool(1, nMaxWaitingConnections); };
    http.set_read_timeout(nHttpTimeoutSeconds, 0);
    http.set_write_timeout(nHttpTimeoutSeconds, 0);
    http.set_payload_max_length(nMaxPayload);
    // Anything but a GET of the two paths ends here, before a body is read.
    http.set_pre_routing_handler([](const httplib::Request& request, httplib::Response& response) {
        if (request.method == "GET" && (request.path == "/metrics" || request.path == "/healthz"))
            return httplib::Server::HandlerResponse::Unhandled;
        response.status = 404;
        return httplib::Server::HandlerResponse::Handled;
    });
    http.Get("/metrics", [&metrics](const httplib::Request&, httplib::Response& response) {
        response.set_content(metrics.exposition(), "text/plain; version=0.0.4; charset=utf-8");
    });
    http.Get("/healthz", [&metrics](const httplib::Request&, httplib::Response& response) {
        const std::string strProblem = metrics.healthProblem();
        response.status = strProblem.empty() ? 200 : 503;
        response.set_content((strProblem.empty() ? "ok" : strProblem) + "\n", "text/plain; charset=utf-8");
    });
    const bool bBound = nPort == 0 ? (nPort = http.bind_to_any_port(strHost)) > 0 : http.bind_to_port(strHost, nPort);
    if (!bBound) throw std::runtime_error("cannot listen on " + strAddress + " for metrics");
    _strAddress = (strHost.find(':') != std::string::npos ? "[" + strHost + "]" : strHost) + ":" + std::to_string(nPort);
    Server& server = *_pserver;
    server.thread = std::thread([&server] {
        server.http.listen_after_bind();
        server.bEnded.store(true);
    });
    // stop() only reaches a server that runs: wait until it does, so that a stop right after the
    // start is not lost.
    const Clock::time_point tEnd = Clock::now() + std::chrono::seconds(10);
    while (!http.is_running() && !server.bEnded.load() && Clock::now() < tEnd)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

MetricsListener::~MetricsListener()
{
    _pserver->http.beginStop();
    _pserver->http.stop();
    if (_pserver->thread.joinable()) _pserver->thread.join();
}

} // namespace Ostreld
