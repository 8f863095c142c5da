#ifndef CORVEL_SEMAPHORE_H
#define CORVEL_SEMAPHORE_H

#include <condition_variable>
#include <mutex>

#include "Corvel/Export.h"
#include "Corvel/Mutex.h"

namespace Corvel {

// A counting semaphore with a timed wait.
class CORVEL_API Semaphore {
public:
    explicit Semaphore(unsigned int uInitial = 0);
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Waits until signalled or nMilliseconds have passed; true when it took a signal.
    bool wait(long nMilliseconds);
    // Wakes one waiter (or every waiter present when bAll is set); a signal with
    // nobody waiting is kept for the next wait.
    void signal(bool bAll = false);
    // Forgets signals that nobody has taken yet.
    void reset();

private:
    Mutex _mx;
    ConditionVariable _cv;
    unsigned int _uCount CORVEL_GUARDED_BY(_mx);
};

} // namespace Corvel

#endif
