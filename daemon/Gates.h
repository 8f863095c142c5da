#ifndef OSTRELD_GATES_H
#define OSTRELD_GATES_H

#include <chrono>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <map>
#include <mutex>
#include <string>

namespace Ostreld {

// Many readers or one writer, with the writer first: once a writer waits, new readers wait behind
// it, so a steady stream of requests cannot hold a reload off for ever.
class ReloadGate {
public:
    void lockShared()
    {
        std::unique_lock<std::mutex> lock(_mx);
        _cv.wait(lock, [this] { return _nWritersWaiting == 0 && !_bWriting; });
        ++_nReaders;
    }
    void unlockShared()
    {
        std::lock_guard<std::mutex> lock(_mx);
        if (--_nReaders == 0) _cv.notify_all();
    }
    void lock()
    {
        std::unique_lock<std::mutex> lock(_mx);
        ++_nWritersWaiting;
        _cv.wait(lock, [this] { return _nReaders == 0 && !_bWriting; });
        --_nWritersWaiting;
        _bWriting = true;
    }
    void unlock()
    {
        std::lock_guard<std::mutex> lock(_mx);
        _bWriting = false;
        _cv.notify_all();
    }

private:
    std::mutex _mx;  // guards the three counts below
    std::condition_variable _cv;
    int _nReaders = 0;
    int _nWritersWaiting = 0;
    bool _bWriting = false;
};

class SharedGateLock {
public:
    explicit SharedGateLock(ReloadGate& gate) : _gate(gate) { _gate.lockShared(); }
    ~SharedGateLock() { _gate.unlockShared(); }
    SharedGateLock(const SharedGateLock&) = delete;
    SharedGateLock& operator=(const SharedGateLock&) = delete;

private:
    ReloadGate& _gate;
};

// At most a fixed number of holders at once: bounds the memory and cores that password hashing
// may take, however many clients log in together.
class Slots {
public:
    explicit Slots(int nSlots) : _nFree(nSlots > 0 ? nSlots : 1) {}
    void acquire()
    {
        std::unique_lock<std::mutex> lock(_mx);
        _cv.wait(lock, [this] { return _nFree > 0; });
        --_nFree;
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(_mx);
        ++_nFree;
        _cv.notify_one();
    }

private:
    std::mutex _mx;  // guards _nFree
    std::condition_variable _cv;
    int _nFree;
};

// Slots shared fairly between peers: when several wait, the next free slot goes to the peer whose
// turn it is, round robin, however many requests each has waiting. A peer that floods the daemon
// with logins then waits for its own, and a quiet peer's login waits for at most one turn.
class FairSlots {
public:
    explicit FairSlots(int nSlots) : _nFree(nSlots > 0 ? nSlots : 1) {}
    void acquire(const std::string& strPeer)
    {
        std::unique_lock<std::mutex> lock(_mx);
        if (_nFree > 0 && _turnS.empty()) {
            --_nFree;
            return;
        }
        bool bGranted = false;
        std::deque<bool*>& waiterS = _waiterS[strPeer];
        if (waiterS.empty()) _turnS.push_back(strPeer);
        waiterS.push_back(&bGranted);
        grantLocked();
        _cv.wait(lock, [&] { return bGranted; });
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(_mx);
        ++_nFree;
        grantLocked();
    }

private:
    void grantLocked()
    {
        bool bAny = false;
        while (_nFree > 0 && !_turnS.empty()) {
            const std::string strPeer = _turnS.front();
            _turnS.pop_front();
            auto it = _waiterS.find(strPeer);
            *it->second.front() = true;
            it->second.pop_front();
            if (it->second.empty())
                _waiterS.erase(it);
            else
                _turnS.push_back(strPeer);  // its next waiter comes after every other peer's
            --_nFree;
            bAny = true;
        }
        if (bAny) _cv.notify_all();
    }

    std::mutex _mx;  // guards everything below
    std::condition_variable _cv;
    int _nFree;
    std::deque<std::string> _turnS;                       // peers with waiters, in the order served
    std::map<std::string, std::deque<bool*>> _waiterS;  // each peer's waiters, oldest first
};

class SlotHold {
public:
    explicit SlotHold(Slots& slots) : _slots(slots) { _slots.acquire(); }
    ~SlotHold() { _slots.release(); }
    SlotHold(const SlotHold&) = delete;
    SlotHold& operator=(const SlotHold&) = delete;

private:
    Slots& _slots;
};

class FairSlotHold {
public:
    FairSlotHold(FairSlots& slots, const std::string& strPeer) : _slots(slots) { _slots.acquire(strPeer); }
    ~FairSlotHold() { _slots.release(); }
    FairSlotHold(const FairSlotHold&) = delete;
    FairSlotHold& operator=(const FairSlotHold&) = delete;

private:
    FairSlots& _slots;
};

// Failed logins slow their address down, whoever they were for: after a few, every login from it
// waits, twice as long after each further failure, up to a bound. A success from the address, or a
// quiet quarter of an hour, forgets them.
class FailureDelay {
public:
    static constexpr int nFree = 3;                // failures that cost nothing
    static constexpr long nFirstMs = 100;

    // nMaxMs: the longest wait; 0 turns the delay off.
    explicit FailureDelay(long nMaxMs = 5000) : _nMaxMs(nMaxMs) {}

    // How long a login from strPeer waits now.
    std::chrono::milliseconds delayFor(const std::string& strPeer)
    {
        std::lock_guard<std::mutex> lock(_mx);
        auto it = _peerS.find(strPeer);
        if (it == _peerS.end()) return std::chrono::milliseconds(0);
        if (std::chrono::steady_clock::now() - it->second.tLast > forgetAfter()) {
            _peerS.erase(it);
            return std::chrono::milliseconds(0);
        }
        int nOver = it->second.nFailures - nFree;
        if (nOver <= 0 || _nMaxMs <= 0) return std::chrono::milliseconds(0);
        long nMs = nFirstMs;
        for (int i = 1; i < nOver && nMs < _nMaxMs; ++i)
            nMs *= 2;
        return std::chrono::milliseconds(nMs < _nMaxMs ? nMs : _nMaxMs);
    }
    void failed(const std::string& strPeer)
    {
        const auto tNow = std::chrono::steady_clock::now();
        std::lock_guard<std::mutex> lock(_mx);
        if (_peerS.size() >= nMaxPeers) {
            for (auto it = _peerS.begin(); it != _peerS.end();)
                it = tNow - it->second.tLast > forgetAfter() ? _peerS.erase(it) : std::next(it);
        }
        Entry& entry = _peerS[strPeer];
        if (tNow - entry.tLast > forgetAfter()) entry.nFailures = 0;
        ++entry.nFailures;
        entry.tLast = tNow;
    }
    void succeeded(const std::string& strPeer)
    {
        std::lock_guard<std::mutex> lock(_mx);
        _peerS.erase(strPeer);
    }

private:
    struct Entry {
        int nFailures = 0;
        std::chrono::steady_clock::time_point tLast;
    };
    static constexpr size_t nMaxPeers = 65536;
    static std::chrono::minutes forgetAfter() { return std::chrono::minutes(15); }

    const long _nMaxMs;
    std::mutex _mx;  // guards _peerS
    std::map<std::string, Entry> _peerS;
};

// What a request may make the parser build: each request's elements are bounded, and so are those
// of all the requests parsed at once (a parsed element costs a hundred bytes and more, whatever the
// request's size). A request waits for room, and gives up after a while.
class ParseBudget {
public:
    ParseBudget(size_t nPerRequest, size_t nAtOnce) : _nPerRequest(nPerRequest), _nFree(nAtOnce) {}
    size_t perRequest() const { return _nPerRequest; }
    // False when no room came within tWait (nElements must be at most perRequest()).
    bool acquire(size_t nElements, std::chrono::milliseconds tWait)
    {
        std::unique_lock<std::mutex> lock(_mx);
        if (!_cv.wait_for(lock, tWait, [&] { return _nFree >= nElements; })) return false;
        _nFree -= nElements;
        return true;
    }
    void release(size_t nElements)
    {
        std::lock_guard<std::mutex> lock(_mx);
        _nFree += nElements;
        _cv.notify_all();
    }

private:
    const size_t _nPerRequest;
    std::mutex _mx;  // guards _nFree
    std::condition_variable _cv;
    size_t _nFree;
};

} // namespace Ostreld

#endif
