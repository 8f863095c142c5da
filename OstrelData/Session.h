#ifndef OSTRELDATA_SESSION_H
#define OSTRELDATA_SESSION_H

#include <atomic>
#include <ctime>
#include <string>

#include "OstrelData/Base.h"

namespace OstrelData {

// The identifier of one login and the time it was last used. A session expires
// when it has not been accessed for the process-wide time-out (1800 s at start).
class OSTRELDATA_API Session : public Base {
public:
    Session();
    explicit Session(const std::string& strSessionId);
    Session(const Session& other);
    Session& operator=(const Session& other);
    ~Session() override;

    // The identifier.
    virtual const std::string& str() const;
    // A new heap copy of the same dynamic type; the caller owns it.
    virtual Session* copy() const;

    // For every session of the process, existing ones included; taken as given. Safe while other
    // threads use sessions.
    static void setSessionTimeout(int nSeconds);
    static int sessionTimeout() { return _nTimeout; }

    // Renews the session, or throws 201 "Session timed out." (leaving the access
    // time as it was) when more than the time-out has passed since the last
    // access. The first access always succeeds.
    void access();
    // Whether access() would refuse the session now.
    bool expired() const;
    // Seconds since the epoch of the last access; -1 before the first.
    time_t accessed() const { return _tAccessed; }

private:
    bool expiredAt(time_t tNow) const;

    std::string _strSessionId;
    static std::atomic<int> _nTimeout;
    time_t _tAccessed;
};

} // namespace OstrelData

#endif
