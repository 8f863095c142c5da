#ifndef OSTRELDAL_OSTRELDB_H
#define OSTRELDAL_OSTRELDB_H

#include <atomic>
#include <list>
#include <string>

#include "Corvel/Mutex.h"
#include "OstrelDal/Export.h"
#include "VeskDal/DalDatabase.h"
#include "VeskDal/SqlTable.h"

namespace OstrelDal {

class Connection;

// One pooled database handle and the number of Connection objects on it.
class OSTRELDAL_API OstrelDB {
public:
    // Count 0; the handle is not owned (the pool frees it in disconnect).
    explicit OstrelDB(VeskDal::DalDatabase* pdb);
    // Same handle and count; the copy has a mutex of its own.
    OstrelDB(const OstrelDB& other);
    // Same handle and count; the target keeps its mutex.
    OstrelDB& operator=(const OstrelDB& other);
    virtual ~OstrelDB();

    // Whether a Connection holds this entry. Read without the entry's lock (the count is atomic): a
    // stale answer at worst makes the pool open one more handle.
    bool inUse() const CORVEL_NO_THREAD_SAFETY_ANALYSIS { return _nUsageCount.load(std::memory_order_acquire) != 0; }
    // The number of live Connection objects on this entry; read as inUse() reads it.
    int usageCount() const CORVEL_NO_THREAD_SAFETY_ANALYSIS { return _nUsageCount.load(std::memory_order_acquire); }
    // The handle (not owned).
    VeskDal::DalDatabase* database() const { return _pdb; }

protected:
    friend class Connection;
    void ucInc() CORVEL_EXCLUDES(_mx);
    void ucDec() CORVEL_EXCLUDES(_mx);

    VeskDal::DalDatabase* _pdb;  // not owned
    // Changed under _mx; atomic because inUse() reads it without the lock from other threads.
    std::atomic<int> _nUsageCount CORVEL_GUARDED_BY(_mx);
    Corvel::Mutex _mx;
};

// The pool, in creation order. A list, so entries keep their address while the pool grows.
class OstrelDBList : public std::list<OstrelDB> {
public:
    using std::list<OstrelDB>::list;
};

// A counted hold on one pool entry for one unit of work; the entry is idle again when every
// Connection on it is gone. May be empty (no entry).
class OSTRELDAL_API Connection {
public:
    explicit Connection(OstrelDB* pdb);
    Connection(const Connection& connection);
    // Moves the hold to the source's entry; assigning a Connection to itself changes nothing.
    Connection& operator=(const Connection& connection);
    virtual ~Connection();

    // The entry's database handle. Throws VeskDal::DalDatabaseException (DDBERR_NOTOPEN) when
    // the Connection holds no entry.
    VeskDal::DalDatabase& db() const;
    operator VeskDal::DalDatabase&() const { return db(); }
    // The entry held, or null.
    OstrelDB* entry() const { return _pdb; }

private:
    OstrelDB* _pdb;  // not owned; a pool entry
};

// Empties the pool, parses the connect string ("name=value;..." as VeskDal::DalDatabase reads it),
// sets the schema from "database" and opens ten handles of the engine named by "engine" (default
// "mysql"). Throws VeskDal::DalDatabaseException: DDBERR_USER "No Schema/Database specified" when
// there is no "database" (the pool stays empty), or what parsing, loading the driver or opening a
// handle threw (handles opened before stay pooled). Not to be called while a Connection is alive.
OSTRELDAL_API void connect(const std::string& strConnect);

// An idle pooled handle, the earliest one first, or a newly opened one when all are in use.
// Throws what creating or opening the new handle threw; the pool is then unchanged.
// Safe to call from several threads at once.
OSTRELDAL_API Connection connection();

// Empties the pool, closing and freeing its handles. Not to be called while a Connection is alive.
OSTRELDAL_API void disconnect();

// One unit of work on this thread that reads through several layers (an authenticator, then the
// factory): while it lives, connection() on this thread gives the one pooled handle it took, and
// that handle's selects form one batch of reads (VeskDal::DalReads): on SQLite the layers then read
// one view of the database and take its file lock once instead of once per layer (the other engines
// gain nothing from a batch, and read as before). Writes in between run as they would without it
// (they end the batch). Nested on one thread, the inner one does nothing. Throws nothing: when no
// handle can be had, the layers take their own as without it.
class OSTRELDAL_API ThreadReads {
public:
    ThreadReads();
    ~ThreadReads();
    ThreadReads(const ThreadReads&) = delete;
    ThreadReads& operator=(const ThreadReads&) = delete;

private:
    friend class ReadsPause;
    friend Connection connection();
    Connection _connection;  // empty for a nested one
    bool _bBatching = false; // this one holds a batch of reads open on the handle
};

// Inside a ThreadReads, slow work (a password hash) or a wait for a lock whose holder may be writing:
// while it lives the thread's batch of reads is ended, so that on SQLite a writer is not kept
// waiting for it (nor, waiting on that lock, this thread for the writer), and a new batch begins
// after. A layer's own DalReads open around it keeps the batch: pause outside those. Does nothing
// outside a ThreadReads.
class OSTRELDAL_API ReadsPause {
public:
    ReadsPause();
    ~ReadsPause();
    ReadsPause(const ReadsPause&) = delete;
    ReadsPause& operator=(const ReadsPause&) = delete;

private:
    ThreadReads* _preads;  // the thread's, when it was batching
};

// The schema named by the last connect's "database" parameter.
OSTRELDAL_API const VeskDal::SqlSchema& schema();

} // namespace OstrelDal

#endif
