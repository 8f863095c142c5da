#ifndef OSTRELD_GATES_H
#define OSTRELD_GATES_H

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Corvel/Mutex.h"

namespace Ostreld {

// Many readers or one writer, with the writer first: once a writer waits, new readers wait behind
// it, so a steady stream of requests cannot hold a reload off for ever. A capability of its own,
// so that what needs the registries unchanged says so (CORVEL_REQUIRES_SHARED) and is checked.
class CORVEL_CAPABILITY("reload gate") ReloadGate {
public:
    void lockShared() CORVEL_ACQUIRE_SHARED()
    {
        Corvel::MutexLock lock(_mx);
        while (_nWritersWaiting != 0 || _bWriting)
            _cv.wait(_mx);
        ++_nReaders;
    }
    void unlockShared() CORVEL_RELEASE_SHARED()
    {
        Corvel::MutexLock lock(_mx);
        if (--_nReaders == 0) _cv.notifyAll();
    }
    void lock() CORVEL_ACQUIRE()
    {
        Corvel::MutexLock lock(_mx);
        ++_nWritersWaiting;
        while (_nReaders != 0 || _bWriting)
            _cv.wait(_mx);
        --_nWritersWaiting;
        _bWriting = true;
    }
    void unlock() CORVEL_RELEASE()
    {
        Corvel::MutexLock lock(_mx);
        _bWriting = false;
        _cv.notifyAll();
    }

private:
    Corvel::Mutex _mx;
    Corvel::ConditionVariable _cv;
    int _nReaders CORVEL_GUARDED_BY(_mx) = 0;
    int _nWritersWaiting CORVEL_GUARDED_BY(_mx) = 0;
    bool _bWriting CORVEL_GUARDED_BY(_mx) = false;
};

// Holds the gate shared for the life of a scope: the registries stay as they are meanwhile.
class CORVEL_SCOPED_CAPABILITY SharedGateLock {
public:
    explicit SharedGateLock(ReloadGate& gate) CORVEL_ACQUIRE_SHARED(gate) : _gate(gate) { _gate.lockShared(); }
    ~SharedGateLock() CORVEL_RELEASE() { _gate.unlockShared(); }
    SharedGateLock(const SharedGateLock&) = delete;
    SharedGateLock& operator=(const SharedGateLock&) = delete;

private:
    ReloadGate& _gate;
};

// Holds the gate alone for the life of a scope: no request reads the registries meanwhile.
class CORVEL_SCOPED_CAPABILITY GateLock {
public:
    explicit GateLock(ReloadGate& gate) CORVEL_ACQUIRE(gate) : _gate(gate) { _gate.lock(); }
    ~GateLock() CORVEL_RELEASE() { _gate.unlock(); }
    GateLock(const GateLock&) = delete;
    GateLock& operator=(const GateLock&) = delete;

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
        Corvel::MutexLock lock(_mx);
        while (_nFree <= 0)
            _cv.wait(_mx);
        --_nFree;
    }
    void release()
    {
        Corvel::MutexLock lock(_mx);
        ++_nFree;
        _cv.notifyOne();
    }

private:
    Corvel::Mutex _mx;
    Corvel::ConditionVariable _cv;
    int _nFree CORVEL_GUARDED_BY(_mx);
};

// Slots shared fairly between peers: when several wait, the next free slot goes to the peer whose
// turn it is, round robin, however many requests each has waiting. A peer that floods the daemon
// with logins then waits for its own, and a quiet peer's login waits for at most one turn: a peer
// that had nobody waiting goes before those that keep the queue full, which is no gain to a
// flooder, whose next request queues behind everyone's. Each waiter sleeps on its own condition,
// so that a grant wakes the one thread it is for, not every waiting connection.
class FairSlots {
public:
    explicit FairSlots(int nSlots) : _nSlots(nSlots > 0 ? static_cast<size_t>(nSlots) : 1), _nFree(static_cast<int>(_nSlots)) {}
    void acquire(const std::string& strPeer)
    {
        std::shared_ptr<Waiter> pwaiter;
        Granted grantedS;
        {
            Corvel::MutexLock lock(_mx);
            if (_nFree > 0 && _turnS.empty()) {
                --_nFree;
                served(strPeer);
                return;
            }
            pwaiter = std::make_shared<Waiter>();
            enqueue(strPeer, pwaiter);
            grantLocked(grantedS);
            // Mostly nothing is free to hand out, and the lock need not be let go and taken again.
            if (grantedS.empty()) {
                while (!pwaiter->bGranted)
                    pwaiter->cv.wait(_mx);
                return;
            }
        }
        wake(grantedS);
        Corvel::MutexLock lock(_mx);
        while (!pwaiter->bGranted)
            pwaiter->cv.wait(_mx);
    }
    void release()
    {
        Granted grantedS;
        {
            Corvel::MutexLock lock(_mx);
            ++_nFree;
            grantLocked(grantedS);
        }
        wake(grantedS);
    }

private:
    struct Waiter {
        bool bGranted = false;  // guarded by the FairSlots' _mx
        Corvel::ConditionVariable cv;
    };
    // The waiters granted a slot, to be woken once the lock is let go: woken under it, each would
    // wake only to wait for the lock, which under load costs a second sleep and wake-up per login.
    // They are held here so that one who sees his grant and leaves meanwhile leaves his condition
    // behind for the wake-up.
    using Granted = std::vector<std::shared_ptr<Waiter>>;

    static void wake(const Granted& grantedS)
    {
        for (const std::shared_ptr<Waiter>& pwaiter : grantedS)
            pwaiter->cv.notifyOne();
    }

    void enqueue(const std::string& strPeer, const std::shared_ptr<Waiter>& pwaiter) CORVEL_REQUIRES(_mx)
    {
        std::deque<std::shared_ptr<Waiter>>& waiterS = _waiterS[strPeer];
        if (waiterS.empty()) {
            // Fresh only when it has not had a turn within the last round: peers that pace their
            // logins to keep just one waiting must not keep jumping ahead of a peer with a backlog.
            auto itLast = _lastServedS.find(strPeer);
            const bool bFresh = itLast == _lastServedS.end() || _nGrants - itLast->second > _turnS.size() + _nSlots;
            if (bFresh) {
                _turnS.insert(_turnS.begin() + static_cast<std::ptrdiff_t>(_nFresh), strPeer);
                ++_nFresh;
            } else {
                _turnS.push_back(strPeer);
            }
        }
        waiterS.push_back(pwaiter);
    }

    void grantLocked(Granted& grantedS) CORVEL_REQUIRES(_mx)
    {
        while (_nFree > 0 && !_turnS.empty()) {
            const std::string strPeer = _turnS.front();
            _turnS.pop_front();
            if (_nFresh > 0) --_nFresh;
            auto it = _waiterS.find(strPeer);
            std::shared_ptr<Waiter> pwaiter = std::move(it->second.front());
            it->second.pop_front();
            if (it->second.empty())
                _waiterS.erase(it);
            else
                _turnS.push_back(strPeer);  // its next waiter comes after every other peer's
            --_nFree;
            served(strPeer);
            pwaiter->bGranted = true;
            grantedS.push_back(std::move(pwaiter));
        }
    }

    void served(const std::string& strPeer) CORVEL_REQUIRES(_mx)
    {
        _lastServedS[strPeer] = ++_nGrants;
        // Only the recent past matters: peers served long ago count as fresh anyway.
        if (_lastServedS.size() > nMaxRemembered) {
            for (auto it = _lastServedS.begin(); it != _lastServedS.end();)
                it = _nGrants - it->second > _turnS.size() + _nSlots ? _lastServedS.erase(it) : std::next(it);
        }
    }

    static constexpr size_t nMaxRemembered = 4096;

    const size_t _nSlots;
    Corvel::Mutex _mx;
    int _nFree CORVEL_GUARDED_BY(_mx);
    std::uint64_t _nGrants CORVEL_GUARDED_BY(_mx) = 0;
    // When each peer last had a turn, by grant number; the recent ones only.
    std::map<std::string, std::uint64_t> _lastServedS CORVEL_GUARDED_BY(_mx);
    std::deque<std::string> _turnS CORVEL_GUARDED_BY(_mx);  // peers with waiters, in the order served
    // How many at the front of _turnS have not been served since they came.
    size_t _nFresh CORVEL_GUARDED_BY(_mx) = 0;
    // Each peer's waiters, oldest first.
    std::map<std::string, std::deque<std::shared_ptr<Waiter>>> _waiterS CORVEL_GUARDED_BY(_mx);
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

// Failed logins slow their address down, whoever they were for: after a few, the address's next
// requests are spaced out, twice as far after each further failure, up to a bound; tries made in
// parallel queue behind each other. A quiet quarter of an hour forgets them. (A success does
// not: an attacker's own account must not wipe his failures.)
class FailureDelay {
public:
    static constexpr int nFree = 3;                // failures that cost nothing
    static constexpr long nFirstMs = 100;

    // nMaxMs: the longest spacing; 0 turns the delay off.
    explicit FailureDelay(long nMaxMs = 5000) : _nMaxMs(nMaxMs) {}
    // From the next request on; the failures counted so far stay.
    void setMaxMs(long nMaxMs) { _nMaxMs.store(nMaxMs, std::memory_order_relaxed); }

    // How long a request from strPeer waits now; it takes the next place in the peer's queue.
    std::chrono::milliseconds delayFor(const std::string& strPeer)
    {
        const auto tNow = std::chrono::steady_clock::now();
        Corvel::MutexLock lock(_mx);
        auto it = _peerS.find(strPeer);
        if (it == _peerS.end()) return std::chrono::milliseconds(0);
        Entry& entry = it->second;
        if (tNow - entry.tLast > forgetAfter()) {
            _peerS.erase(it);
            return std::chrono::milliseconds(0);
        }
        const std::chrono::milliseconds tSpacing = spacing(entry.nFailures);
        if (tSpacing.count() == 0) return tSpacing;
        if (entry.tNextAllowed < tNow) entry.tNextAllowed = tNow;
        const auto tWait = entry.tNextAllowed - tNow;
        entry.tNextAllowed += tSpacing;
        return std::chrono::duration_cast<std::chrono::milliseconds>(tWait) + tSpacing;
    }
    void failed(const std::string& strPeer)
    {
        const auto tNow = std::chrono::steady_clock::now();
        Corvel::MutexLock lock(_mx);
        if (_peerS.size() >= nMaxPeers) forgetOldestHalf();
        Entry& entry = _peerS[strPeer];
        if (tNow - entry.tLast > forgetAfter()) entry.nFailures = 0;
        ++entry.nFailures;
        entry.tLast = tNow;
    }

private:
    struct Entry {
        int nFailures = 0;
        std::chrono::steady_clock::time_point tLast;
        std::chrono::steady_clock::time_point tNextAllowed;
    };
    static constexpr size_t nMaxPeers = 65536;
    static std::chrono::minutes forgetAfter() { return std::chrono::minutes(15); }

    std::chrono::milliseconds spacing(int nFailures) const
    {
        const long nMaxMs = _nMaxMs.load(std::memory_order_relaxed);
        int nOver = nFailures - nFree;
        if (nOver <= 0 || nMaxMs <= 0) return std::chrono::milliseconds(0);
        long nMs = nFirstMs;
        for (int i = 1; i < nOver && nMs < nMaxMs; ++i)
            nMs *= 2;
        return std::chrono::milliseconds(nMs < nMaxMs ? nMs : nMaxMs);
    }
    // Bounded whatever the number of addresses: the least recently failing half goes.
    void forgetOldestHalf() CORVEL_REQUIRES(_mx)
    {
        std::vector<std::chrono::steady_clock::time_point> timeS;
        timeS.reserve(_peerS.size());
        for (const auto& entry : _peerS)
            timeS.push_back(entry.second.tLast);
        std::nth_element(timeS.begin(), timeS.begin() + long(timeS.size() / 2), timeS.end());
        const auto tCut = timeS[timeS.size() / 2];
        for (auto it = _peerS.begin(); it != _peerS.end();)
            it = it->second.tLast <= tCut ? _peerS.erase(it) : std::next(it);
    }

    std::atomic<long> _nMaxMs;
    Corvel::Mutex _mx;
    std::map<std::string, Entry> _peerS CORVEL_GUARDED_BY(_mx);
};

// What a request may make the parser build: each request's elements are bounded, and so are those
// of all the larger requests parsed at once (a parsed element costs a hundred bytes and more,
// whatever the request's size), a peer taking at most a quarter of them. Small requests, which
// every login is, pass without counting. A request waits for room, and gives up after a while.
class ParseBudget {
public:
    static constexpr size_t nSmall = 1000;

    ParseBudget(size_t nPerRequest, size_t nAtOnce)
        : _nPerRequest(nPerRequest), _nAtOnce(nAtOnce), _nFree(static_cast<long long>(nAtOnce))
    {
    }
    size_t perRequest() const { return _nPerRequest.load(std::memory_order_relaxed); }
    // New bounds, for the requests that come next; what is held stays held and is given back
    // as it was taken (the room may be below nothing until it is).
    void setLimits(size_t nPerRequest, size_t nAtOnce)
    {
        Corvel::MutexLock lock(_mx);
        _nPerRequest.store(nPerRequest, std::memory_order_relaxed);
        _nFree += static_cast<long long>(nAtOnce) - static_cast<long long>(_nAtOnce);
        _nAtOnce = nAtOnce;
        _cv.notifyAll();
    }
    // False when no room came within tWait (nElements must be at most perRequest()).
    bool acquire(const std::string& strPeer, size_t nElements, std::chrono::milliseconds tWait)
    {
        if (nElements <= nSmall) return true;
        const auto tDeadline = std::chrono::steady_clock::now() + tWait;
        Corvel::MutexLock lock(_mx);
        while (!roomFor(strPeer, nElements))
            if (!_cv.waitUntil(_mx, tDeadline) && !roomFor(strPeer, nElements)) return false;
        _nFree -= static_cast<long long>(nElements);
        _heldS[strPeer] += nElements;
        return true;
    }
    void release(const std::string& strPeer, size_t nElements)
    {
        if (nElements <= nSmall) return;
        Corvel::MutexLock lock(_mx);
        _nFree += static_cast<long long>(nElements);
        auto it = _heldS.find(strPeer);
        if (it != _heldS.end() && (it->second -= nElements) == 0) _heldS.erase(it);
        _cv.notifyAll();
    }

private:
    bool roomFor(const std::string& strPeer, size_t nElements) const CORVEL_REQUIRES(_mx)
    {
        auto it = _heldS.find(strPeer);
        size_t nHeld = it == _heldS.end() ? 0 : it->second;
        return _nFree >= static_cast<long long>(nElements) && (nHeld == 0 || nHeld + nElements <= _nAtOnce / 4);
    }

    std::atomic<size_t> _nPerRequest;
    Corvel::Mutex _mx;
    Corvel::ConditionVariable _cv;
    size_t _nAtOnce CORVEL_GUARDED_BY(_mx);
    long long _nFree CORVEL_GUARDED_BY(_mx);  // below zero after the bound was lowered under what is held
    std::map<std::string, size_t> _heldS CORVEL_GUARDED_BY(_mx);  // what each peer holds now
};

} // namespace Ostreld

#endif
