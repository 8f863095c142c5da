// The MySQL/MariaDB engine, over MariaDB Connector/C prepared statements.

#include <errmsg.h>
#include <mysql.h>
#include <mysqld_error.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <mutex>

#include "VeskDal/DalDatabase.h"
#include "VeskDal/DalDynamic.h"
#include "VeskDal/DriverSupport.h"

namespace VeskDal {

namespace {

// The client library's global state is made once, before the first handle, from whatever thread.
std::once_flag g_libraryInit;
bool g_bLibraryReady = false;

// Errors after which the session is gone and a new connection may run the statement.
bool connectionLost(unsigned int nErrno)
{
    return nErrno == CR_SERVER_GONE_ERROR || nErrno == CR_SERVER_LOST || nErrno == ER_CONNECTION_KILLED ||
           nErrno == 4031 /* the server ended an idle session */;
}

// Data errors (SQLSTATE class 22) and key errors (class 23): MariaDB's messages quote the value,
// which may be a secret (a session's digest, a password hash), and this text goes to logs. What
// lies between the first quote and the last "' for " (the key or column named after the value),
// or the end, is withheld.
bool quotesValues(const char* pszState)
{
    return VeskDal::dataError(pszState) || (pszState && std::strncmp(pszState, "23", 2) == 0);
}

std::string withheldValues(const char* pszState, const char* pszMessage)
{
    std::string strMessage = pszMessage ? pszMessage : "";
    const size_t nQuote = strMessage.find('\'');
    if (!quotesValues(pszState) || nQuote == std::string::npos) {
        return strMessage;
    }
    const size_t nAfter = strMessage.rfind("' for ");
    return strMessage.substr(0, nQuote) + "(value withheld)" +
           (nAfter != std::string::npos && nAfter > nQuote ? strMessage.substr(nAfter + 1) : std::string());
}

bool integerType(enum_field_types type)
{
    return type == MYSQL_TYPE_TINY || type == MYSQL_TYPE_SHORT || type == MYSQL_TYPE_LONG ||
           type == MYSQL_TYPE_LONGLONG || type == MYSQL_TYPE_INT24 || type == MYSQL_TYPE_YEAR;
}

// A result column as read: the fetch writes into these.
struct Cell {
    std::vector<char> bufferS = std::vector<char>(256);
    unsigned long nLength = 0;
    my_bool bNull = 0;
    my_bool bError = 0;
};

class DalMysql : public DalDatabase {
public:
    DalMysql() : DalDatabase(langMySQL), _statementS(64, [](MYSQL_STMT* pstmt) { mysql_stmt_close(pstmt); }) {}

    ~DalMysql() override { closeQuietly(); }

    void open(const ConnectionParameterMap& parameterS) override
    {
        checkParameterNames(parameterS,
                            {"engine", "database", "host", "port", "user", "password", "socket", "connect_timeout",
                             "read_timeout", "write_timeout"},
                            "mysql");
        integerParameter(parameterS, "port", 3306, 0, 65535);
        integerParameter(parameterS, "connect_timeout", 10, 1, 3600);
        integerParameter(parameterS, "read_timeout", 300, 1, 86400);
        integerParameter(parameterS, "write_timeout", 300, 1, 86400);
        closeQuietly();
        _parameterS = parameterS;
        connect();
        _bOpened = true;
    }

    void close() override { closeQuietly(); }

    // Open from open() to close(), even while the server is away and no connection is held.
    bool isOpen() const override { return _bOpened; }

    std::string engine() const override { return "mysql"; }

    int execute(const SqlStatement& statement) override
    {
        if (statement.kind() == SqlStatement::kindSelect) {
            throw SqlException(__FILE__, __LINE__, SQLERR_WRONGSTATEMENT, "execute() takes no select; use query()");
        }
        SqlRendering rendering = statement.render(language());
        MYSQL_STMT* pstmt = run(rendering);
        my_ulonglong nRows = mysql_stmt_affected_rows(pstmt);
        return nRows == static_cast<my_ulonglong>(-1) ? 0 : static_cast<int>(nRows);
    }

    int query(Result& result, const SqlSelectStatement& statement, int nMaxRows) override
    {
        SqlRendering rendering = statement.render(language());
        MYSQL_STMT* pstmt = run(rendering);
        ResultWriter writer(result);
        // Whatever happens, the rest of the result is dropped so the connection can go on.
        struct FreeResult {
            MYSQL_STMT* pstmt;
            ~FreeResult() { mysql_stmt_free_result(pstmt); }
        } freeResult{pstmt};

        MYSQL_RES* pmeta = mysql_stmt_result_metadata(pstmt);
        if (!pmeta) {
            throw statementFailure(pstmt, rendering.strSql);
        }
        const unsigned int nColumns = mysql_num_fields(pmeta);
        MYSQL_FIELD* pfieldS = mysql_fetch_fields(pmeta);
        std::vector<std::string> nameS;
        std::vector<bool> integerS;
        for (unsigned int n = 0; n < nColumns; ++n) {
            nameS.emplace_back(pfieldS[n].name, pfieldS[n].name_length);
            integerS.push_back(integerType(pfieldS[n].type));
        }
        mysql_free_result(pmeta);
        RowFiller filler(std::move(nameS));

        std::vector<Cell> cellS(nColumns);
        std::vector<MYSQL_BIND> bindS(nColumns);
        for (unsigned int n = 0; n < nColumns; ++n) {
            std::memset(&bindS[n], 0, sizeof(MYSQL_BIND));
            bindS[n].buffer_type = MYSQL_TYPE_STRING;
            bindS[n].buffer = cellS[n].bufferS.data();
            bindS[n].buffer_length = cellS[n].bufferS.size();
            bindS[n].length = &cellS[n].nLength;
            bindS[n].is_null = &cellS[n].bNull;
            bindS[n].error = &cellS[n].bError;
        }
        if (nColumns && mysql_stmt_bind_result(pstmt, bindS.data())) {
            throw statementFailure(pstmt, rendering.strSql);
        }
        while (nMaxRows <= 0 || writer.rows() < nMaxRows) {
            int nFetch = mysql_stmt_fetch(pstmt);
            if (nFetch == MYSQL_NO_DATA) {
                break;
            }
            if (nFetch == 1) {
                throw statementFailure(pstmt, rendering.strSql);
            }
            writer.startRow(filler);
            for (size_t k = 0; k < filler.size(); ++k) {
                const unsigned int n = static_cast<unsigned int>(filler.column(k));
                Cell& cell = cellS[n];
                if (cell.bNull) {
                    continue;
                }
                std::string strValue;
                if (cell.nLength > cell.bufferS.size()) {
                    // Longer than the buffer: fetch this column again into one that fits.
                    std::vector<char> bigS(cell.nLength);
                    MYSQL_BIND bind;
                    std::memset(&bind, 0, sizeof(bind));
                    unsigned long nLength = 0;
                    bind.buffer_type = MYSQL_TYPE_STRING;
                    bind.buffer = bigS.data();
                    bind.buffer_length = bigS.size();
                    bind.length = &nLength;
                    if (mysql_stmt_fetch_column(pstmt, &bind, n, 0)) {
                        throw statementFailure(pstmt, rendering.strSql);
                    }
                    strValue.assign(bigS.data(), std::min<unsigned long>(nLength, bigS.size()));
                } else {
                    strValue.assign(cell.bufferS.data(), cell.nLength);
                }
                std::int64_t nValue = 0;
                auto [ptr, ec] = std::from_chars(strValue.data(), strValue.data() + strValue.size(), nValue);
                if (integerS[n] && ec == std::errc() && ptr == strValue.data() + strValue.size()) {
                    filler.putInteger(static_cast<int>(n), nValue);
                } else {
                    filler.put(static_cast<int>(n), SqlText(std::move(strValue)));
                }
            }
        }
        return writer.rows();
    }

    void executeScript(const std::string& strSql) override
    {
        prepareToRun();
        int nStatus = mysql_real_query(_pmysql, strSql.data(), strSql.size());
        if (nStatus && connectionLost(mysql_errno(_pmysql)) && !_bTransaction) {
            reconnect();
            nStatus = mysql_real_query(_pmysql, strSql.data(), strSql.size());
        }
        // Every statement of the script has a result to take, whether it failed or not.
        for (;;) {
            if (nStatus) {
                DalDatabaseException e = serverFailure(strSql.substr(0, 200));
                while (mysql_more_results(_pmysql) && mysql_next_result(_pmysql) == 0) {
                    mysql_free_result(mysql_store_result(_pmysql));
                }
                throw e;
            }
            mysql_free_result(mysql_store_result(_pmysql));
            if (!mysql_more_results(_pmysql)) {
                break;
            }
            nStatus = mysql_next_result(_pmysql);
            if (nStatus < 0) {
                break;
            }
        }
    }

    void begin() override
    {
        if (_bTransaction) {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_TRANSACTION, 1, "A transaction is open already");
        }
        prepareToRun();
        static const char s_szBegin[] = "START TRANSACTION";
        if (mysql_real_query(_pmysql, s_szBegin, sizeof(s_szBegin) - 1)) {
            if (connectionLost(mysql_errno(_pmysql))) {
                reconnect();
                if (mysql_real_query(_pmysql, s_szBegin, sizeof(s_szBegin) - 1) == 0) {
                    _bTransaction = true;
                    _bAborted = false;
                    return;
                }
            }
            throw transactionFailure(s_szBegin);
        }
        _bTransaction = true;
        _bAborted = false;
    }

    void commit() override
    {
        requireTransaction();
        _bTransaction = false;
        if (_bAborted) {
            mysql_rollback(_pmysql);
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_TRANSACTION, 1,
                                       "MySQL rolled the transaction back after a deadlock; nothing was committed");
        }
        if (mysql_commit(_pmysql)) {
            throw transactionFailure("COMMIT");
        }
    }

    void rollback() override
    {
        requireTransaction();
        _bTransaction = false;
        if (mysql_rollback(_pmysql) && !connectionLost(mysql_errno(_pmysql))) {
            throw transactionFailure("ROLLBACK");
        }
    }

    bool inTransaction() const override { return _bTransaction; }

private:
    void connect()
    {
        std::call_once(g_libraryInit, [] { g_bLibraryReady = mysql_library_init(0, nullptr, nullptr) == 0; });
        if (!g_bLibraryReady) {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_CONNECT, 1, "The MySQL client library failed to start");
        }
        MYSQL* pmysql = mysql_init(nullptr);
        if (!pmysql) {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_CONNECT, 1, "Cannot connect to MySQL: out of memory");
        }
        unsigned int nConnectTimeout = integerParameter(_parameterS, "connect_timeout", 10, 1, 3600);
        unsigned int nReadTimeout = integerParameter(_parameterS, "read_timeout", 300, 1, 86400);
        unsigned int nWriteTimeout = integerParameter(_parameterS, "write_timeout", 300, 1, 86400);
        my_bool bReconnect = 0;  // we reconnect ourselves, knowing about transactions
        mysql_options(pmysql, MYSQL_OPT_CONNECT_TIMEOUT, &nConnectTimeout);
        mysql_options(pmysql, MYSQL_OPT_READ_TIMEOUT, &nReadTimeout);
        mysql_options(pmysql, MYSQL_OPT_WRITE_TIMEOUT, &nWriteTimeout);
        mysql_options(pmysql, MYSQL_OPT_RECONNECT, &bReconnect);
        mysql_options(pmysql, MYSQL_SET_CHARSET_NAME, "utf8mb4");

        std::string strHost = parameter(_parameterS, "host", "localhost");
        std::string strUser = parameter(_parameterS, "user", "");
        std::string strPassword = parameter(_parameterS, "password", "");
        std::string strDatabase = parameter(_parameterS, "database", "");
        std::string strSocket = parameter(_parameterS, "socket", "");
        unsigned int nPort = integerParameter(_parameterS, "port", 3306, 0, 65535);
        // FOUND_ROWS: an update reports the rows it matched, as the other engines do, not only
        // those whose content changed. MULTI_STATEMENTS: for scripts only; values never reach
        // plain queries, they go through prepared statements.
        if (!mysql_real_connect(pmysql, strHost.c_str(), strUser.empty() ? nullptr : strUser.c_str(),
                                _parameterS.count("password") ? strPassword.c_str() : nullptr,
                                strDatabase.empty() ? nullptr : strDatabase.c_str(), nPort,
                                strSocket.empty() ? nullptr : strSocket.c_str(),
                                CLIENT_FOUND_ROWS | CLIENT_MULTI_STATEMENTS)) {
            std::string strMessage = mysql_error(pmysql);
            mysql_close(pmysql);
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_CONNECT, 1, "Cannot connect to MySQL: " + strMessage);
        }
        _pmysql = pmysql;
    }

    // A reconnect that failed (the server was away) left no connection: the next statement tries
    // again, so a handle outlives an outage however long it lasts.
    void prepareToRun()
    {
        if (!_bOpened) {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_NOTOPEN, 1, "The MySQL handle is not open");
        }
        if (!_pmysql) {
            connect();
        }
    }

    void reconnect()
    {
        if (_bTransaction) {
            _bTransaction = false;
            std::string strMessage = mysql_error(_pmysql);
            dropConnection();  // the next statement connects anew
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_CONNECTIONLOST, 1,
                                       "The connection to MySQL broke inside a transaction; its statements are lost: " +
                                           strMessage);
        }
        dropConnection();
        connect();
    }

    MYSQL_STMT* prepared(const std::string& strSql)
    {
        if (MYSQL_STMT** ppstmt = _statementS.find(strSql)) {
            return *ppstmt;
        }
        MYSQL_STMT* pstmt = mysql_stmt_init(_pmysql);
        if (!pstmt) {
            throw serverFailure(strSql);
        }
        if (mysql_stmt_prepare(pstmt, strSql.data(), strSql.size())) {
            _nLastErrno = mysql_stmt_errno(pstmt);
            DalDatabaseException e = statementFailure(pstmt, strSql);
            mysql_stmt_close(pstmt);
            throw e;
        }
        return _statementS.insert(strSql, pstmt);
    }

    // Prepares, binds and executes; the statement's result (if any) is left to read.
    MYSQL_STMT* run(const SqlRendering& rendering)
    {
        prepareToRun();
        const size_t nParameters = rendering.parameterS.size();
        std::vector<std::string> textS(nParameters);
        std::vector<long long> integerS(nParameters);
        std::vector<unsigned long> lengthS(nParameters);
        std::vector<MYSQL_BIND> bindS(nParameters);
        for (size_t n = 0; n < nParameters; ++n) {
            const SqlValue& value = rendering.parameterS[n];
            std::memset(&bindS[n], 0, sizeof(MYSQL_BIND));
            if (value.type() == SqlValue::typeInteger) {
                integerS[n] = value.asInt64();
                bindS[n].buffer_type = MYSQL_TYPE_LONGLONG;
                bindS[n].buffer = &integerS[n];
            } else {
                textS[n] = value.string();
                lengthS[n] = textS[n].size();
                bindS[n].buffer_type = MYSQL_TYPE_STRING;
                bindS[n].buffer = textS[n].data();
                bindS[n].buffer_length = lengthS[n];
                bindS[n].length = &lengthS[n];
            }
        }
        for (int nAttempt = 0;; ++nAttempt) {
            MYSQL_STMT* pstmt = nullptr;
            _nLastErrno = 0;
            try {
                pstmt = prepared(rendering.strSql);
            } catch (const DalDatabaseException&) {
                if (nAttempt == 0 && connectionLost(_nLastErrno)) {
                    reconnect();
                    continue;
                }
                throw;
            }
            if (nParameters && mysql_stmt_bind_param(pstmt, bindS.data())) {
                throw statementFailure(pstmt, rendering.strSql);
            }
            if (mysql_stmt_execute(pstmt) == 0) {
                return pstmt;
            }
            unsigned int nErrno = mysql_stmt_errno(pstmt);
            DalDatabaseException e = statementFailure(pstmt, rendering.strSql);
            if (connectionLost(nErrno)) {
                if (nAttempt == 0 || _bTransaction) {
                    reconnect();  // throws inside a transaction
                    continue;
                }
            } else {
                // A statement that failed may have left its prepared form unusable.
                _statementS.erase(rendering.strSql);
            }
            if (nErrno == ER_LOCK_DEADLOCK && _bTransaction) {
                _bAborted = true;  // the server rolled the whole transaction back
            }
            throw e;
        }
    }

    DalDatabaseException statementFailure(MYSQL_STMT* pstmt, const std::string& strSql) const
    {
        const char* pszState = mysql_stmt_sqlstate(pstmt);
        return DalDatabaseException(
            __FILE__, __LINE__, VeskDal::statementFailureCode(pszState), 1,
            VeskDal::statementFailure(withheldValues(pszState, mysql_stmt_error(pstmt)), strSql));
    }

    DalDatabaseException serverFailure(const std::string& strSql) const
    {
        const char* pszState = mysql_sqlstate(_pmysql);
        return DalDatabaseException(__FILE__, __LINE__, VeskDal::statementFailureCode(pszState), 1,
                                    VeskDal::statementFailure(withheldValues(pszState, mysql_error(_pmysql)), strSql));
    }

    DalDatabaseException transactionFailure(const char* pszSql) const
    {
        return DalDatabaseException(__FILE__, __LINE__,
                                    connectionLost(mysql_errno(_pmysql)) ? DDBERR_CONNECTIONLOST : DDBERR_TRANSACTION,
                                    1,
                                    VeskDal::statementFailure(
                                        withheldValues(mysql_sqlstate(_pmysql), mysql_error(_pmysql)), pszSql));
    }

    void requireTransaction() const
    {
        if (!_bOpened) {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_NOTOPEN, 1, "The MySQL handle is not open");
        }
        if (!_bTransaction) {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_TRANSACTION, 1, "No transaction is open");
        }
    }

    void dropConnection() noexcept
    {
        _statementS.clear();
        if (_pmysql) {
            mysql_close(_pmysql);
            _pmysql = nullptr;
        }
    }

    void closeQuietly() noexcept
    {
        if (_pmysql && _bTransaction) {
            mysql_rollback(_pmysql);
        }
        dropConnection();
        _bOpened = false;
        _bTransaction = false;
        _bAborted = false;
    }

    MYSQL* _pmysql = nullptr;
    bool _bOpened = false;
    ConnectionParameterMap _parameterS;
    bool _bTransaction = false;
    bool _bAborted = false;
    unsigned int _nLastErrno = 0;
    StatementCache<MYSQL_STMT*> _statementS;
};

} // namespace

} // namespace VeskDal

extern "C" __attribute__((visibility("default"))) VeskDal::DalDatabase* veskDalCreateDatabase()
{
    return new VeskDal::DalMysql();
}
