#ifndef CORVEL_MUTEX_H
#define CORVEL_MUTEX_H

#include <mutex>
#include <string>

#include "Corvel/Export.h"

namespace Corvel {

// A named, non-recursive mutex. The label given to lock() says who takes it; it
// only serves diagnostics.
class CORVEL_API Mutex {
public:
    explicit Mutex(const std::string& strName = "");
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock(const std::string& strLabel = "");
    void unlock();
    const std::string& name() const { return _strName; }

private:
    std::string _strName;
    std::mutex _mx;
};

// Holds a Corvel::Mutex for the life of a scope.
class MutexLock {
public:
    MutexLock(Mutex& mx, const std::string& strLabel) : _mx(mx) { _mx.lock(strLabel); }
    ~MutexLock() { _mx.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& _mx;
};

} // namespace Corvel

#endif
