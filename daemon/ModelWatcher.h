#ifndef OSTRELD_MODELWATCHER_H
#define OSTRELD_MODELWATCHER_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "Corvel/Mutex.h"
#include "VeskDal/DalDatabase.h"

namespace Ostreld {

// Reloads the model when the database says it changed, so that an administrative change reaches
// every daemon on the database without a signal: the change counter (bumped by the database's
// triggers in the writing transaction) is read every interval through the pool, and on
// PostgreSQL a handle of its own also listens for the counter's notification, so that a change
// is picked up at once. A counter that cannot be read is logged and tried again next time.
class ModelWatcher {
public:
    // Starts watching; reload(why) is called on the watcher's thread (and on reloadNow's caller's);
    // whole() says whether the last reload, whoever asked for it, loaded the model whole: a look
    // that can read the counter reloads while it does not, moved or not. nIntervalMs above 0.
    // nSeenAtLoad: the counter as read before the model now held was loaded, so that a change made
    // while it loaded is reloaded at the first look; -1 when unknown, which reloads at the first
    // look that reads a counter.
    ModelWatcher(const std::string& strConnect, long nIntervalMs, std::function<void(const std::string&)> reload,
                 std::function<bool()> whole, std::int64_t nSeenAtLoad = -1);
    // The counter through a pool of the connect string's, read before a first load; -1 when it
    // cannot be read (the load then says why), quietly.
    static std::int64_t counterBeforeLoad(const std::string& strConnect);
    // Stops the thread (within a second).
    ~ModelWatcher();
    // Reloads now (on the caller's thread), as a signal asks: the counter read before it counts as
    // seen, so that the thread does not reload the same change again at its next look.
    void reloadNow(const std::string& strWhy);
    ModelWatcher(const ModelWatcher&) = delete;
    ModelWatcher& operator=(const ModelWatcher&) = delete;

private:
    void run();
    // Waits for the interval, a notification or the stop, whichever comes first.
    void waitForNextLook();
    // The counter; -1 when it cannot be read. Under _mxLook.
    std::int64_t counter() CORVEL_REQUIRES(_mxLook);

    const std::string _strConnect;
    const long _nIntervalMs;
    const std::function<void(const std::string&)> _reload;
    const std::function<bool()> _whole;
    std::unique_ptr<VeskDal::DalDatabase> _plistener;  // PostgreSQL only; used by the thread alone
    Corvel::Mutex _mx;
    Corvel::ConditionVariable _cv;
    bool _bStop CORVEL_GUARDED_BY(_mx) = false;
    // A look and the reload it leads to, the thread's or reloadNow's, one at a time: the counter
    // last seen then always belongs to a reload that began after it was read.
    Corvel::Mutex _mxLook;
    std::int64_t _nSeen CORVEL_GUARDED_BY(_mxLook) = -1;
    bool _bWarned CORVEL_GUARDED_BY(_mxLook) = false;
    std::thread _thread;
};

} // namespace Ostreld

#endif
