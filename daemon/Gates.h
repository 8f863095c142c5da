#ifndef OSTRELD_GATES_H
#define OSTRELD_GATES_H

#include <condition_variable>
#include <mutex>

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

class SlotHold {
public:
    explicit SlotHold(Slots& slots) : _slots(slots) { _slots.acquire(); }
    ~SlotHold() { _slots.release(); }
    SlotHold(const SlotHold&) = delete;
    SlotHold& operator=(const SlotHold&) = delete;

private:
    Slots& _slots;
};

} // namespace Ostreld

#endif
