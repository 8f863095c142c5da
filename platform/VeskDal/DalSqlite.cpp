// The SQLite engine: one database file per handle.

#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "VeskDal/DalDatabase.h"
#include "VeskDal/DalDynamic.h"
#include "VeskDal/DriverSupport.h"

namespace VeskDal {

namespace {

class DalSqlite : public DalDatabase {
public:
    DalSqlite()
        : DalDatabase(langSQLite), _statementS(64, [](sqlite3_stmt* pstmt) { sqlite3_finalize(pstmt); })
    {
    }

    ~DalSqlite() override { closeQuietly(); }

    void open(const ConnectionParameterMap& parameterS) override
    {
        checkParameterNames(parameterS,
                            {"engine", "database", "file", "mode", "busy_timeout", "foreign_keys", "cache_kib",
                             "mmap_mib", "journal_mode"},
                            "sqlite");
        std::string strFile = parameter(parameterS, "file", parameter(parameterS, "database", ""));
        if (strFile.empty()) {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_PARAMETER, 1,
                                       "SQLite needs the parameter \"file\" or \"database\" naming the database file");
        }
        std::string strMode = parameter(parameterS, "mode", "rwc");
        // A handle is used by one thread at a time, so SQLite need not lock each call.
        int nFlags = SQLITE_OPEN_NOMUTEX;
        if (strMode == "ro") {
            nFlags |= SQLITE_OPEN_READONLY;
        } else if (strMode == "rw") {
            nFlags |= SQLITE_OPEN_READWRITE;
        } else if (strMode == "rwc") {
            nFlags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
        } else {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_PARAMETER, 1,
                                       "SQLite parameter \"mode\" must be ro, rw or rwc");
        }
        int nBusyTimeout = integerParameter(parameterS, "busy_timeout", 5000, 0, 3600000);
        // Every handle has a page cache of its own, and a pool of handles holds one each: the
        // memory a process spends on them is this times its handles. 0 keeps SQLite's own size.
        int nCacheKiB = integerParameter(parameterS, "cache_kib", 0, 0, 16 * 1024 * 1024);
        // Pages read through a mapping of the file cost no system call and no copy into the page
        // cache above: what keeps look-ups in a file far larger than that cache cheap. Each handle
        // maps the file itself, over the system's one file cache; SQLite caps it at its build's limit.
        int nMmapMiB = integerParameter(parameterS, "mmap_mib", 0, 0, 1024 * 1024);
        std::string strForeignKeys = parameter(parameterS, "foreign_keys", "on");
        if (strForeignKeys != "on" && strForeignKeys != "off") {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_PARAMETER, 1,
                                       "SQLite parameter \"foreign_keys\" must be on or off");
        }

        // wal is kept in the file, so one handle sets it for every process: a read then takes no
        // lock on the database file itself and looks for no journal left behind, and readers and a
        // writer do not wait for each other. The other modes hold for this handle only (naming one
        // takes the file out of wal). Empty leaves the mode as it is.
        std::string strJournalMode = parameter(parameterS, "journal_mode", "");
        if (!strJournalMode.empty() && strJournalMode != "wal" && strJournalMode != "delete" &&
            strJournalMode != "truncate" && strJournalMode != "persist") {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_PARAMETER, 1,
                                       "SQLite parameter \"journal_mode\" must be wal, delete, truncate or persist");
        }
        if (!strJournalMode.empty() && strMode == "ro") {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_PARAMETER, 1,
                                       "SQLite parameter \"journal_mode\" needs a handle that may write (mode rw or rwc)");
        }

        closeQuietly();
        sqlite3* pdb = nullptr;
        int nResult = sqlite3_open_v2(strFile.c_str(), &pdb, nFlags, nullptr);
        if (nResult != SQLITE_OK) {
            std::string strMessage = pdb ? sqlite3_errmsg(pdb) : sqlite3_errstr(nResult);
            sqlite3_close_v2(pdb);
            // SQLite's "unable to open database file" hides the likeliest cause of all.
            struct stat st;
            if (!(nFlags & SQLITE_OPEN_CREATE) && ::stat(strFile.c_str(), &st) != 0 && errno == ENOENT)
                strMessage = "database file missing";
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_CONNECT, 1,
                                       "Cannot open SQLite database " + strFile + ": " + strMessage);
        }
        _pdb = pdb;
        sqlite3_extended_result_codes(_pdb, 1);
        sqlite3_busy_timeout(_pdb, nBusyTimeout);
        try {
            // Foreign keys are enforced as by the server engines.
            executeScript(strForeignKeys == "on" ? "PRAGMA foreign_keys = ON" : "PRAGMA foreign_keys = OFF");
            if (nCacheKiB > 0)
                executeScript("PRAGMA cache_size = -" + std::to_string(nCacheKiB));
            if (nMmapMiB > 0)
                executeScript("PRAGMA mmap_size = " + std::to_string(static_cast<long long>(nMmapMiB) * 1048576));
            if (!strJournalMode.empty()) setJournalMode(strJournalMode, nBusyTimeout);
        } catch (...) {
            closeQuietly();
            throw;
        }
    }

    void close() override { closeQuietly(); }

    // A change SQLite cannot make is answered with the mode the file keeps, not with an error: the
    // operator asked for a mode, and would otherwise never learn the file did not take it.
    // Changing the mode takes the file's exclusive lock without SQLite's busy handler (leaving
    // wal, or entering it while another process reads): the wait for a busy file is made here.
    void setJournalMode(const std::string& strJournalMode, int nBusyTimeoutMs)
    {
        std::string strNow;
        auto remember = [](void* pstrNow, int nColumns, char** ppszValue, char**) {
            if (nColumns > 0 && ppszValue[0] != nullptr) *static_cast<std::string*>(pstrNow) = ppszValue[0];
            return 0;
        };
        const std::string strSql = "PRAGMA journal_mode = " + strJournalMode;
        const auto tGiveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(nBusyTimeoutMs);
        char* pszError = nullptr;
        int nResult;
        while ((nResult = sqlite3_exec(_pdb, strSql.c_str(), remember, &strNow, &pszError)) != SQLITE_OK &&
               (nResult & 0xff) == SQLITE_BUSY && std::chrono::steady_clock::now() < tGiveUp) {
            sqlite3_free(pszError);
            pszError = nullptr;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (nResult != SQLITE_OK) {
            std::string strMessage = pszError ? pszError : sqlite3_errmsg(_pdb);
            sqlite3_free(pszError);
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_CONNECT, 1,
                                       "Cannot set the SQLite journal mode to " + strJournalMode + ": " + strMessage);
        }
        if (strNow != strJournalMode) {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_CONNECT, 1,
                                       "Cannot set the SQLite journal mode to " + strJournalMode + ": the file stays in " +
                                           (strNow.empty() ? std::string("its mode") : strNow));
        }
    }

    bool isOpen() const override { return _pdb != nullptr; }

    std::string engine() const override { return "sqlite"; }

    int execute(const SqlStatement& statement) override
    {
        if (statement.kind() == SqlStatement::kindSelect) {
            throw SqlException(__FILE__, __LINE__, SQLERR_WRONGSTATEMENT, "execute() takes no select; use query()");
        }
        finishReads();
        SqlRendering rendering = statement.render(language());
        Running running(*this, rendering);
        while (running.step()) {
        }
        return sqlite3_changes(_pdb);
    }

    int query(Result& result, const SqlSelectStatement& statement, int nMaxRows) override
    {
        SqlRendering rendering = statement.render(language());
        Running running(*this, rendering);
        sqlite3_stmt* pstmt = running.statement();
        RowFiller& filler = rowFiller(pstmt);
        ResultWriter writer(result);
        while ((nMaxRows <= 0 || writer.rows() < nMaxRows) && running.step()) {
            writer.startRow(filler);
            for (size_t k = 0; k < filler.size(); ++k) {
                const int n = filler.column(k);
                // One look-up of the column instead of one per question asked about it. The value
                // is unprotected, which is safe here: the handle is used by one thread at a time.
                sqlite3_value* pvalue = sqlite3_column_value(pstmt, n);
                int nType = sqlite3_value_type(pvalue);
                if (nType == SQLITE_NULL) {
                    continue;
                }
                if (nType == SQLITE_INTEGER) {
                    filler.putInteger(n, sqlite3_value_int64(pvalue));
                } else {
                    // Text, floats and blobs are read as their bytes.
                    const unsigned char* pbText = sqlite3_value_text(pvalue);
                    int nBytes = sqlite3_value_bytes(pvalue);
                    filler.putText(n, reinterpret_cast<const char*>(pbText), static_cast<size_t>(nBytes));
                }
            }
        }
        return writer.rows();
    }

    void executeScript(const std::string& strSql) override
    {
        requireOpen();
        finishReads();
        char* pszError = nullptr;
        if (sqlite3_exec(_pdb, strSql.c_str(), nullptr, nullptr, &pszError) != SQLITE_OK) {
            std::string strMessage = pszError ? pszError : sqlite3_errmsg(_pdb);
            sqlite3_free(pszError);
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_STATEMENT, 1,
                                       statementFailure(strMessage, strSql.substr(0, 200)));
        }
    }

    void begin() override
    {
        requireOpen();
        if (_bTransaction) {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_TRANSACTION, 1, "A transaction is open already");
        }
        finishReads();
        // IMMEDIATE takes the write lock now, so two handles cannot both read and then deadlock on
        // upgrading; the busy timeout makes the second one wait instead.
        control("BEGIN IMMEDIATE");
        _bTransaction = true;
    }

    void commit() override
    {
        requireTransaction();
        _bTransaction = false;
        if (sqlite3_get_autocommit(_pdb)) {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_TRANSACTION, 1,
                                       "SQLite rolled the transaction back after an error; nothing was committed");
        }
        try {
            control("COMMIT");
        } catch (...) {
            if (!sqlite3_get_autocommit(_pdb)) {
                sqlite3_exec(_pdb, "ROLLBACK", nullptr, nullptr, nullptr);
            }
            throw;
        }
    }

    void rollback() override
    {
        requireTransaction();
        _bTransaction = false;
        if (!sqlite3_get_autocommit(_pdb)) {
            control("ROLLBACK");
        }
    }

    bool inTransaction() const override { return _bTransaction; }

    void beginReads() noexcept override
    {
        // A batch inside a batch (a layer batching its selects within a caller's) joins it, so that
        // the inner one's end does not end the outer one's.
        if (_nReads > 0) {
            ++_nReads;
            return;
        }
        if (!_pdb || _bTransaction || !sqlite3_get_autocommit(_pdb)) {
            return;
        }
        // A deferred transaction takes the shared lock at the first select and keeps it to the end,
        // instead of once per select; it never asks for the write lock, so writers only wait for
        // the batch as they would for one of its selects. Should it fail, the selects run alone.
        _nReads = runCached("BEGIN DEFERRED") ? 1 : 0;
    }

    void endReads() noexcept override
    {
        if (_nReads > 1) {
            --_nReads;
            return;
        }
        finishReads();
    }

private:
    // One run of a prepared statement: bound on construction, reset and unbound on destruction.
    class Running {
    public:
        Running(DalSqlite& database, const SqlRendering& rendering) : _database(database), _strSql(rendering.strSql)
        {
            database.requireOpen();
            _pstmt = database.prepared(rendering.strSql);
            for (size_t n = 0; n < rendering.parameterS.size(); ++n) {
                const SqlValue& value = rendering.parameterS[n];
                int nResult;
                if (value.type() == SqlValue::typeInteger) {
                    nResult = sqlite3_bind_int64(_pstmt, static_cast<int>(n + 1), value.asInt64());
                } else {
                    const std::string& strText = value.text();
                    if (strText.size() > static_cast<size_t>(sqlite3_limit(database._pdb, SQLITE_LIMIT_LENGTH, -1))) {
                        throw DalDatabaseException(__FILE__, __LINE__, DDBERR_VALUE, 1,
                                                   statementFailure("A text value is too long for SQLite", _strSql));
                    }
                    // The rendering holds the texts until the run ends.
                    nResult = sqlite3_bind_text(_pstmt, static_cast<int>(n + 1), strText.data(),
                                                static_cast<int>(strText.size()), SQLITE_STATIC);
                }
                if (nResult != SQLITE_OK) {
                    fail();
                }
            }
        }
        ~Running()
        {
            sqlite3_reset(_pstmt);
            sqlite3_clear_bindings(_pstmt);
        }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;

        // True while a row is ready.
        bool step()
        {
            int nResult = sqlite3_step(_pstmt);
            if (nResult == SQLITE_ROW) {
                return true;
            }
            if (nResult != SQLITE_DONE) {
                fail();
            }
            return false;
        }
        sqlite3_stmt* statement() const { return _pstmt; }

    private:
        [[noreturn]] void fail()
        {
            std::string strMessage = sqlite3_errmsg(_database._pdb);
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_STATEMENT, 1, statementFailure(strMessage, _strSql));
        }

        DalSqlite& _database;
        const std::string& _strSql;
        sqlite3_stmt* _pstmt = nullptr;
    };

    sqlite3_stmt* prepared(const std::string& strSql)
    {
        if (sqlite3_stmt** ppstmt = _statementS.find(strSql)) {
            return *ppstmt;
        }
        sqlite3_stmt* pstmt = nullptr;
        const char* pszTail = nullptr;
        int nResult = sqlite3_prepare_v3(_pdb, strSql.c_str(), static_cast<int>(strSql.size() + 1),
                                         SQLITE_PREPARE_PERSISTENT, &pstmt, &pszTail);
        if (nResult != SQLITE_OK || !pstmt) {
            std::string strMessage = sqlite3_errmsg(_pdb);
            sqlite3_finalize(pstmt);
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_STATEMENT, 1, statementFailure(strMessage, strSql));
        }
        return _statementS.insert(strSql, pstmt);
    }

    // Runs a statement that takes no values and gives no rows, prepared once: a batch's BEGIN and
    // COMMIT run for every batch, and parsing them each time cost about as much as one of its
    // selects. False when it fails.
    bool runCached(const char* pszSql) noexcept
    {
        try {
            sqlite3_stmt* pstmt = prepared(pszSql);
            const int nResult = sqlite3_step(pstmt);
            sqlite3_reset(pstmt);
            return nResult == SQLITE_DONE;
        } catch (...) {
            return false;
        }
    }

    // The filler for the statement's columns: the last one made, while the names are the same.
    RowFiller& rowFiller(sqlite3_stmt* pstmt)
    {
        const size_t nColumns = static_cast<size_t>(sqlite3_column_count(pstmt));
        auto nameOf = [pstmt](size_t n) {
            const char* pszName = sqlite3_column_name(pstmt, static_cast<int>(n));
            return std::string_view(pszName ? pszName : "");
        };
        return reusedFiller(_pfiller, nColumns, nameOf);
    }

    void control(const char* pszSql)
    {
        char* pszError = nullptr;
        if (sqlite3_exec(_pdb, pszSql, nullptr, nullptr, &pszError) != SQLITE_OK) {
            std::string strMessage = pszError ? pszError : sqlite3_errmsg(_pdb);
            sqlite3_free(pszError);
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_TRANSACTION, 1, statementFailure(strMessage, pszSql));
        }
    }

    void requireOpen() const
    {
        if (!_pdb) {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_NOTOPEN, 1, "The SQLite database is not open");
        }
    }

    // Ends the batch of reads whatever its depth: a write must be committed as it would be without
    // one. The batches still open above then find it ended, and their selects run alone.
    void finishReads() noexcept
    {
        if (_nReads == 0) {
            return;
        }
        _nReads = 0;
        // Nothing was written, so ending the batch cannot lose anything; after an error SQLite may
        // have ended it already.
        if (_pdb && !sqlite3_get_autocommit(_pdb) && !runCached("COMMIT")) {
            sqlite3_exec(_pdb, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }

    void requireTransaction()
    {
        requireOpen();
        if (!_bTransaction) {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_TRANSACTION, 1, "No transaction is open");
        }
    }

    void closeQuietly() noexcept
    {
        _statementS.clear();
        if (_pdb) {
            if (!sqlite3_get_autocommit(_pdb)) {
                sqlite3_exec(_pdb, "ROLLBACK", nullptr, nullptr, nullptr);
            }
            sqlite3_close_v2(_pdb);
            _pdb = nullptr;
        }
        _bTransaction = false;
        _nReads = 0;
    }

    sqlite3* _pdb = nullptr;
    bool _bTransaction = false;
    int _nReads = 0;  // batches of reads begun and not ended; above 0 a deferred transaction is open
    StatementCache<sqlite3_stmt*> _statementS;
    std::unique_ptr<RowFiller> _pfiller;
};

} // namespace

} // namespace VeskDal

extern "C" __attribute__((visibility("default"))) VeskDal::DalDatabase* veskDalCreateDatabase()
{
    return new VeskDal::DalSqlite();
}
