#ifndef CORVEL_MUTEX_H
#define CORVEL_MUTEX_H

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "Corvel/Export.h"
#include "Corvel/ThreadSafety.h"

namespace Corvel {

class ConditionVariable;

// A named, non-recursive mutex. The label given to lock() says who takes it; it only serves
// diagnostics, so the paths that lock often take it without one and build no text.
class CORVEL_API CORVEL_CAPABILITY("mutex") Mutex {
public:
    explicit Mutex(const std::string& strName = "");
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() CORVEL_ACQUIRE() { _mx.lock(); }
    void lock(const char*) CORVEL_ACQUIRE() { _mx.lock(); }
    void lock(const std::string& strLabel) CORVEL_ACQUIRE();
    // True when it took the mutex; never waits.
    bool tryLock() CORVEL_TRY_ACQUIRE(true) { return _mx.try_lock(); }
    void unlock() CORVEL_RELEASE();
    const std::string& name() const { return _strName; }

private:
    friend class ConditionVariable;

    std::string _strName;
    std::mutex _mx;
};

// Says that the caller has just taken the mutex with tryLock() and hands it to a MutexLock.
struct AdoptLock {
    explicit AdoptLock() = default;
};

// Holds a Corvel::Mutex for the life of a scope.
class CORVEL_SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mx) CORVEL_ACQUIRE(mx) : _mx(mx) { _mx.lock(); }
    MutexLock(Mutex& mx, const char* pszLabel) CORVEL_ACQUIRE(mx) : _mx(mx) { _mx.lock(pszLabel); }
    MutexLock(Mutex& mx, const std::string& strLabel) CORVEL_ACQUIRE(mx) : _mx(mx) { _mx.lock(strLabel); }
    // Takes over a mutex the caller holds already.
    MutexLock(Mutex& mx, AdoptLock) CORVEL_REQUIRES(mx) : _mx(mx) {}
    ~MutexLock() CORVEL_RELEASE() { _mx.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& _mx;
};

// Waits for a change that other threads make under a Corvel::Mutex. The waiter holds the mutex
// when it calls, and holds it again when the call returns; meanwhile the mutex is free. A wait
// may return without a notification, so a waiter tests its condition in a loop (written out
// rather than as a predicate, which the thread-safety analysis could not see under the lock).
class ConditionVariable {
public:
    ConditionVariable() = default;
    ConditionVariable(const ConditionVariable&) = delete;
    ConditionVariable& operator=(const ConditionVariable&) = delete;

    void wait(Mutex& mx) CORVEL_REQUIRES(mx)
    {
        std::unique_lock<std::mutex> lock(mx._mx, std::adopt_lock);
        _cv.wait(lock);
        lock.release();  // the caller still holds it
    }
    // False when tDeadline came first.
    bool waitUntil(Mutex& mx, std::chrono::steady_clock::time_point tDeadline) CORVEL_REQUIRES(mx)
    {
        std::unique_lock<std::mutex> lock(mx._mx, std::adopt_lock);
        const bool bNotified = _cv.wait_until(lock, tDeadline) == std::cv_status::no_timeout;
        lock.release();
        return bNotified;
    }
    void notifyOne() { _cv.notify_one(); }
    void notifyAll() { _cv.notify_all(); }

private:
    std::condition_variable _cv;
};

} // namespace Corvel

#endif
