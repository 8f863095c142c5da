#include "OstrelDal/OstrelDB.h"
#include "OstrelDal/PoolSeam.h"

#include <exception>
#include <iostream>
#include <memory>
#include <utility>
#include <vector>

#include "VeskDal/DalDynamic.h"
#include "VeskDal/SqlException.h"

namespace OstrelDal {

namespace {

// The pool's state, created at load in this order and destroyed at unload in reverse. g_databaseS
// and g_map change only in connect, connection, disconnect and the seam's setters, each under
// g_mxDatabase (which also serialises connection()).
Corvel::Mutex g_mxDatabase("mxDatabase");
VeskDal::SqlSchema g_schema;
OstrelDBList g_databaseS CORVEL_GUARDED_BY(g_mxDatabase);
VeskDal::DalDatabase::ConnectionParameterMap g_map CORVEL_GUARDED_BY(g_mxDatabase);

// The ThreadReads of this thread, whose handle connection() gives while it lives.
thread_local ThreadReads* t_preads = nullptr;

constexpr int g_nInitialHandles = 10;
const char* const g_pszDefaultEngine = "mysql";

using OwnedHandles = std::vector<std::unique_ptr<VeskDal::DalDatabase>>;

// The handles of the pool entries, owned here and freed by disconnect. Never destroyed: at exit
// the drivers' client libraries may have shut down before this library's globals go, so handles
// still pooled then are left to the end of the process (they stay reachable, so leak checkers do
// not count them).
OwnedHandles& ownedHandles() CORVEL_REQUIRES(g_mxDatabase)
{
    static OwnedHandles* pownedS = new OwnedHandles();
    return *pownedS;
}

HandleWrapper& handleWrapper()
{
    static HandleWrapper* pwrap = new HandleWrapper();
    return *pwrap;
}

std::string engineName() CORVEL_REQUIRES(g_mxDatabase)
{
    auto it = g_map.find("engine");
    return it == g_map.end() ? std::string(g_pszDefaultEngine) : it->second;
}

// Opens a handle of the engine with g_map and appends it to the pool; a handle that fails to open
// is freed and the exception goes on unchanged.
OstrelDB& addHandle(const std::string& strEngine) CORVEL_REQUIRES(g_mxDatabase)
{
    std::unique_ptr<VeskDal::DalDatabase> pdb(VeskDal::DalDynamic::dalDatabase(strEngine));
    pdb->open(g_map);
    if (handleWrapper()) pdb.reset(handleWrapper()(pdb.release()));
    OwnedHandles& ownedS = ownedHandles();
    ownedS.reserve(ownedS.size() + 1);
    g_databaseS.emplace_back(pdb.get());
    ownedS.push_back(std::move(pdb));
    return g_databaseS.back();
}

} // namespace

// ---- OstrelDB

OstrelDB::OstrelDB(VeskDal::DalDatabase* pdb) : _pdb(pdb), _nUsageCount(0), _mx("OstrelDB") {}

OstrelDB::OstrelDB(const OstrelDB& other) : _pdb(other._pdb), _nUsageCount(other.usageCount()), _mx("OstrelDB")
{
}

OstrelDB& OstrelDB::operator=(const OstrelDB& other)
{
    if (this != &other) {
        _pdb = other._pdb;
        Corvel::MutexLock lock(_mx);
        _nUsageCount.store(other.usageCount(), std::memory_order_release);
    }
    return *this;
}

OstrelDB::~OstrelDB() = default;

void OstrelDB::ucInc()
{
    Corvel::MutexLock lock(_mx);
    _nUsageCount.fetch_add(1, std::memory_order_acq_rel);
}

void OstrelDB::ucDec()
{
    Corvel::MutexLock lock(_mx);
    _nUsageCount.fetch_sub(1, std::memory_order_acq_rel);
}

// ---- Connection

Connection::Connection(OstrelDB* pdb) : _pdb(pdb)
{
    if (_pdb) {
        _pdb->ucInc();
    }
}

Connection::Connection(const Connection& connection) : _pdb(connection._pdb)
{
    if (_pdb) {
        _pdb->ucInc();
    }
}

Connection& Connection::operator=(const Connection& connection)
{
    if (this != &connection) {
        if (_pdb) {
            _pdb->ucDec();
        }
        _pdb = connection._pdb;
        if (_pdb) {
            _pdb->ucInc();
        }
    }
    return *this;
}

Connection::~Connection()
{
    if (_pdb) {
        _pdb->ucDec();
    }
}

VeskDal::DalDatabase& Connection::db() const
{
    if (!_pdb || !_pdb->_pdb) {
        throw VeskDal::DalDatabaseException(__FILE__, __LINE__, VeskDal::DDBERR_NOTOPEN, 1,
                                            "The connection holds no pooled database handle");
    }
    return *_pdb->_pdb;
}

// ---- the pool

void setHandleWrapper(HandleWrapper wrap)
{
    handleWrapper() = std::move(wrap);
}

std::vector<OstrelDB*> poolEntries()
{
    Corvel::MutexLock lock(g_mxDatabase);
    std::vector<OstrelDB*> entryS;
    for (OstrelDB& entry : g_databaseS) {
        entryS.push_back(&entry);
    }
    return entryS;
}

VeskDal::DalDatabase::ConnectionParameterMap poolParameters()
{
    Corvel::MutexLock lock(g_mxDatabase);
    return g_map;
}

void setPoolParameters(const VeskDal::DalDatabase::ConnectionParameterMap& parameterS)
{
    Corvel::MutexLock lock(g_mxDatabase);
    g_map = parameterS;
}

void connect(const std::string& strConnect)
{
    disconnect();
    // Nothing else runs beside connect(); the lock only keeps the rule that the pool changes under it.
    Corvel::MutexLock lock(g_mxDatabase);
    g_map.clear();
    VeskDal::DalDatabase::connectStringToMap(g_map, strConnect, VeskDal::DalDatabase::csMerge);
    auto itDatabase = g_map.find("database");
    if (itDatabase == g_map.end()) {
        throw VeskDal::DalDatabaseException(__FILE__, __LINE__, VeskDal::DDBERR_USER, 1,
                                            "No Schema/Database specified");
    }
    g_schema = VeskDal::SqlSchema(itDatabase->second);
    const std::string strEngine = engineName();
    for (int nIdx = 0; nIdx < g_nInitialHandles; ++nIdx) {
        addHandle(strEngine);
    }
}

Connection connection()
{
    if (t_preads != nullptr) {
        return t_preads->_connection;
    }
    Corvel::MutexLock lock(g_mxDatabase);
    for (OstrelDB& entry : g_databaseS) {
        if (!entry.inUse()) {
            return Connection(&entry);
        }
    }
    OstrelDB& entry = addHandle(engineName());
    // One write, so that the line stays whole among statement echoes of other threads.
    std::cout << ("Adding new connection. Count=" + std::to_string(g_databaseS.size()) + "\n") << std::flush;
    return Connection(&entry);
}

void disconnect()
{
    Corvel::MutexLock lock(g_mxDatabase);  // as in connect()
    // Freeing a handle that a Connection still uses would leave it pointing at freed memory.
    int nInUse = 0;
    for (const OstrelDB& entry : g_databaseS) {
        nInUse += entry.inUse() ? 1 : 0;
    }
    if (nInUse) {
        throw VeskDal::DalDatabaseException(__FILE__, __LINE__, VeskDal::DDBERR_USER, 1,
                                            "Cannot disconnect: " + std::to_string(nInUse) +
                                                " pooled connection(s) still in use");
    }
    g_databaseS.clear();
    // Each handle closes itself (rolling back anything left open) as it is destroyed.
    ownedHandles().clear();
}

const VeskDal::SqlSchema& schema()
{
    return g_schema;
}

// ---- ThreadReads

ThreadReads::ThreadReads() : _connection(nullptr)
{
    if (t_preads != nullptr) {
        return;
    }
    try {
        _connection = connection();
    } catch (const std::exception&) {
        // The layers then take their own handles, and report the failure as they convert it.
        return;
    }
    _connection.db().beginReads();
    _bBatching = true;
    t_preads = this;
}

ThreadReads::~ThreadReads()
{
    if (t_preads != this) {
        return;
    }
    t_preads = nullptr;
    if (_bBatching) {
        _connection.db().endReads();
    }
}

ReadsPause::ReadsPause() : _preads(t_preads != nullptr && t_preads->_bBatching ? t_preads : nullptr)
{
    if (_preads != nullptr) {
        _preads->_bBatching = false;
        _preads->_connection.db().endReads();
    }
}

ReadsPause::~ReadsPause()
{
    if (_preads != nullptr) {
        _preads->_connection.db().beginReads();
        _preads->_bBatching = true;
    }
}

} // namespace OstrelDal
