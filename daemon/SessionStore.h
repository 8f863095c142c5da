#ifndef OSTRELD_SESSIONSTORE_H
#define OSTRELD_SESSIONSTORE_H

#include <atomic>
#include <chrono>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Corvel/Mutex.h"
#include "OstrelData/User.h"

namespace Ostreld {

// One kept session as a store holds it: never the session id itself, only its digest, so that
// whoever reads the store cannot become anybody.
struct KeptSession {
    std::string strDigest;        // SHA-256 of the session id, hexadecimal
    OstrelData::User::Key key;    // domain and user id
    std::string strProfile;
    time_t tCreated = 0;
    time_t tLastUsed = 0;
    std::string strStamp;         // the user's credential stamp when kept; empty when none is kept
};

// Where kept sessions live: this daemon's memory, or the database that every daemon on it shares.
// Failures: 201 (nNAX_BADSESSION) for a session that is not there; 1021 (nNAX_DATABASE) when the
// database fails, the database's own words in the legend (for the log, never for a reply). Safe to
// use from several threads.
class SessionStore {
public:
    // nIdleSeconds: a session unused this long has ended.
    explicit SessionStore(long nIdleSeconds) : _nIdleSeconds(nIdleSeconds) {}
    // From the next use and clean-up on, for the sessions kept already too.
    void setIdleSeconds(long nIdleSeconds) { _nIdleSeconds.store(nIdleSeconds, std::memory_order_relaxed); }
    virtual ~SessionStore();
    SessionStore(const SessionStore&) = delete;
    SessionStore& operator=(const SessionStore&) = delete;

    // The digest of a session id under which it is stored.
    static std::string digestOf(const std::string& strSession);

    // Keeps the session (created and last used now); 201 "Session already exists." when it is.
    virtual void keep(const std::string& strSession, const OstrelData::User::Key& key, const std::string& strProfile,
                      const std::string& strStamp) = 0;
    // The kept session, its last use renewed; 201 "No such session.", or "Session timed out."
    // for one unused longer than the idle time (which ends it).
    virtual KeptSession use(const std::string& strSession) = 0;
    // The kept session as it is, not renewed; false when there is none (or it has timed out).
    virtual bool find(const std::string& strSession, KeptSession& kept) = 0;
    // Ends the session of that digest; false when there was none.
    virtual bool end(const std::string& strDigest) = 0;
    // Every session not timed out.
    virtual std::vector<KeptSession> all() = 0;
    // How many sessions have not timed out and were kept at tCreatedSince or later (the lifetime).
    // The database's count may be a few seconds old: asking often costs one query every few
    // seconds, not one each time.
    virtual long count(time_t tCreatedSince) = 0;
    // Ends the sessions unused longer than the idle time or kept before tCreatedBefore; several
    // daemons may do it at once.
    virtual void removeExpired(time_t tCreatedBefore) = 0;

protected:
    bool idleTooLong(const KeptSession& kept, time_t tNow) const { return tNow - kept.tLastUsed > idleSeconds(); }
    long idleSeconds() const { return _nIdleSeconds.load(std::memory_order_relaxed); }
    // How stale a stored last use may get before a use writes it again: a busy session then costs
    // one write per interval, not one per request, and times out at most that much early.
    time_t touchInterval() const
    {
        const long nIdleSeconds = idleSeconds();
        return nIdleSeconds >= 600 ? 60 : (nIdleSeconds >= 20 ? nIdleSeconds / 10 : 1);
    }

    std::atomic<long> _nIdleSeconds;
};

// This daemon's own: gone when it stops, unknown to other daemons.
class MemorySessionStore : public SessionStore {
public:
    using SessionStore::SessionStore;
    void keep(const std::string& strSession, const OstrelData::User::Key& key, const std::string& strProfile,
              const std::string& strStamp) override;
    KeptSession use(const std::string& strSession) override;
    bool find(const std::string& strSession, KeptSession& kept) override;
    bool end(const std::string& strDigest) override;
    std::vector<KeptSession> all() override;
    long count(time_t tCreatedSince) override;
    void removeExpired(time_t tCreatedBefore) override;

private:
    Corvel::Mutex _mx;
    std::map<std::string, KeptSession> _keptS CORVEL_GUARDED_BY(_mx);  // by digest
};

// The table "KeptSession" of the database the pool is connected to, shared by every daemon on it.
class DatabaseSessionStore : public SessionStore {
public:
    using SessionStore::SessionStore;
    void keep(const std::string& strSession, const OstrelData::User::Key& key, const std::string& strProfile,
              const std::string& strStamp) override;
    KeptSession use(const std::string& strSession) override;
    bool find(const std::string& strSession, KeptSession& kept) override;
    bool end(const std::string& strDigest) override;
    std::vector<KeptSession> all() override;
    long count(time_t tCreatedSince) override;
    void removeExpired(time_t tCreatedBefore) override;

private:
    bool read(const std::string& strDigest, KeptSession& kept);

    Corvel::Mutex _mxCount;
    long _nCounted CORVEL_GUARDED_BY(_mxCount) = 0;
    std::chrono::steady_clock::time_point _tCounted CORVEL_GUARDED_BY(_mxCount);  // epoch: never counted
};

} // namespace Ostreld

#endif
