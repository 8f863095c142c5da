// The PostgreSQL engine, over libpq.

#include <libpq-fe.h>

#include <poll.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <set>
#include <charconv>
#include <cstring>

#include "VeskDal/DalDatabase.h"
#include "VeskDal/DalDynamic.h"
#include "VeskDal/DriverSupport.h"

namespace VeskDal {

namespace {

// Type numbers of the integer types (pg_type.h is a server header).
constexpr Oid g_oidInt8 = 20;
constexpr Oid g_oidInt2 = 21;
constexpr Oid g_oidInt4 = 23;

void ignoreNotice(void*, const char*) {}

struct ResultDeleter {
    void operator()(PGresult* presult) const { PQclear(presult); }
};
using ResultPtr = std::unique_ptr<PGresult, ResultDeleter>;

class DalPostgresql : public DalDatabase {
public:
    DalPostgresql() : DalDatabase(langPostgreSQL), _statementS(64, [this](std::string strName) { deallocate(strName); })
    {
    }

    ~DalPostgresql() override { closeQuietly(); }

    void open(const ConnectionParameterMap& parameterS) override
    {
        closeQuietly();
        // Everything but our own names goes to libpq, which refuses what it does not know.
        std::vector<std::pair<std::string, std::string>> keywordS;
        bool bTimeout = false;
        bool bEncoding = false;
        for (const auto& parameter : parameterS) {
            if (parameter.first == "engine") {
                continue;
            }
            if (parameter.first == "dbname") {
                throw DalDatabaseException(__FILE__, __LINE__, DDBERR_PARAMETER, 1,
                                           "PostgreSQL takes the database name as \"database\", not \"dbname\"");
            }
            if (parameter.first == "connect_timeout") {
                integerParameter(parameterS, "connect_timeout", 10, 0, 3600);
                bTimeout = true;
            }
            bEncoding = bEncoding || parameter.first == "client_encoding";
            keywordS.emplace_back(parameter.first == "database" ? "dbname" : parameter.first, parameter.second);
        }
        // A server that does not answer must not hang the caller.
        if (!bTimeout) {
            keywordS.emplace_back("connect_timeout", "10");
        }
        if (!bEncoding) {
            keywordS.emplace_back("client_encoding", "UTF8");
        }
        std::vector<const char*> keyS;
        std::vector<const char*> valueS;
        for (const auto& keyword : keywordS) {
            keyS.push_back(keyword.first.c_str());
            valueS.push_back(keyword.second.c_str());
        }
        keyS.push_back(nullptr);
        valueS.push_back(nullptr);
        // expand_dbname 0: a database name is a name, never a whole connection string.
        PGconn* pconn = PQconnectdbParams(keyS.data(), valueS.data(), 0);
        if (!pconn) {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_CONNECT, 1, "Cannot connect to PostgreSQL: out of memory");
        }
        if (PQstatus(pconn) != CONNECTION_OK) {
            std::string strMessage = trimmed(PQerrorMessage(pconn));
            PQfinish(pconn);
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_CONNECT, 1, "Cannot connect to PostgreSQL: " + strMessage);
        }
        PQsetNoticeProcessor(pconn, ignoreNotice, nullptr);
        _pconn = pconn;
    }

    void close() override { closeQuietly(); }

    bool isOpen() const override { return _pconn != nullptr; }

    std::string engine() const override { return "postgresql"; }

    int execute(const SqlStatement& statement) override
    {
        if (statement.kind() == SqlStatement::kindSelect) {
            throw SqlException(__FILE__, __LINE__, SQLERR_WRONGSTATEMENT, "execute() takes no select; use query()");
        }
        SqlRendering rendering = statement.render(language());
        ResultPtr presult = run(rendering);
        const char* pszTuples = PQcmdTuples(presult.get());
        int nRows = 0;
        std::from_chars(pszTuples, pszTuples + std::strlen(pszTuples), nRows);
        return nRows;
    }

    int query(Result& result, const SqlSelectStatement& statement, int nMaxRows) override
    {
        SqlRendering rendering = statement.render(language());
        ResultPtr presult = run(rendering);
        PGresult* pres = presult.get();
        int nRows = PQntuples(pres);
        if (nMaxRows > 0 && nRows > nMaxRows) {
            nRows = nMaxRows;
        }
        const int nColumns = PQnfields(pres);
        RowFiller& filler = rowFiller(pres);
        _integerS.assign(static_cast<size_t>(nColumns), 0);
        for (int n = 0; n < nColumns; ++n) {
            Oid oid = PQftype(pres, n);
            _integerS[n] = oid == g_oidInt2 || oid == g_oidInt4 || oid == g_oidInt8;
        }
        ResultWriter writer(result);
        result.reserve(static_cast<size_t>(nRows));
        for (int nRow = 0; nRow < nRows; ++nRow) {
            writer.startRow(filler);
            for (size_t k = 0; k < filler.size(); ++k) {
                const int n = filler.column(k);
                // A NULL reads as an empty text, so only an empty text needs asking about.
                const char* pszValue = PQgetvalue(pres, nRow, n);
                if (*pszValue == '\0' && PQgetisnull(pres, nRow, n)) {
                    continue;
                }
                int nLength = PQgetlength(pres, nRow, n);
                std::int64_t nValue = 0;
                if (_integerS[n] && std::from_chars(pszValue, pszValue + nLength, nValue).ec == std::errc()) {
                    filler.putInteger(n, nValue);
                } else {
                    filler.putText(n, pszValue, static_cast<size_t>(nLength));
                }
            }
        }
        return writer.rows();
    }

    bool notifies() const override { return true; }

    bool awaitNotification(const std::string& strChannel, long nMilliseconds) override
    {
        if (strChannel.empty() || strChannel.size() > 63 ||
            strChannel.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") != std::string::npos ||
            std::isdigit(static_cast<unsigned char>(strChannel[0]))) {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_PARAMETER, 1, "Not a channel name: " + strChannel);
        }
        if (broken()) {
            _listenS.clear();  // a new session listens to nothing
        }
        if (_listenS.count(strChannel) == 0) {
            // The name was checked above: it is an identifier, never a value.
            executeScript("LISTEN " + strChannel);
            _listenS.insert(strChannel);
        }
        const auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMilliseconds);
        for (;;) {
            if (PQconsumeInput(_pconn) != 1) {
                _listenS.clear();
                throw DalDatabaseException(__FILE__, __LINE__, DDBERR_CONNECT, 1,
                                           "Lost PostgreSQL while listening: " + trimmed(PQerrorMessage(_pconn)));
            }
            bool bGot = false;
            while (PGnotify* pnotify = PQnotifies(_pconn)) {
                bGot = bGot || strChannel == pnotify->relname;
                PQfreemem(pnotify);
            }
            if (bGot) {
                return true;
            }
            const long nLeft = static_cast<long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(tEnd - std::chrono::steady_clock::now()).count());
            if (nLeft <= 0) {
                return false;
            }
            pollfd waiting{PQsocket(_pconn), POLLIN, 0};
            if (waiting.fd < 0) {
                throw DalDatabaseException(__FILE__, __LINE__, DDBERR_CONNECT, 1, "Lost PostgreSQL while listening");
            }
            if (poll(&waiting, 1, static_cast<int>(std::min(nLeft, 60000L))) < 0 && errno != EINTR) {
                throw DalDatabaseException(__FILE__, __LINE__, DDBERR_CONNECT, 1,
                                           std::string("Cannot wait for PostgreSQL: ") + std::strerror(errno));
            }
        }
    }

    void executeScript(const std::string& strSql) override
    {
        prepareToRun();
        ResultPtr presult(PQexec(_pconn, strSql.c_str()));
        if (!succeeded(presult.get()) && broken() && !_bTransaction) {
            reconnect();
            presult.reset(PQexec(_pconn, strSql.c_str()));
        }
        if (!succeeded(presult.get())) {
            throw failure(presult.get(), strSql.substr(0, 200));
        }
    }

    void begin() override
    {
        if (_bTransaction) {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_TRANSACTION, 1, "A transaction is open already");
        }
        prepareToRun();
        ResultPtr presult(PQexec(_pconn, "BEGIN"));
        if (!succeeded(presult.get()) && broken()) {
            // The session ended since the last statement: nothing was lost, start on a new one.
            reconnect();
            presult = control("BEGIN");
        } else if (!succeeded(presult.get())) {
            DalDatabaseException e = failure(presult.get(), "BEGIN");
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_TRANSACTION, 1, e.nativeExplanation());
        }
        _bTransaction = true;
    }

    void commit() override
    {
        requireTransaction();
        _bTransaction = false;
        ResultPtr presult = control("COMMIT");
        // After a failed statement PostgreSQL answers COMMIT with ROLLBACK and no error.
        if (std::strcmp(PQcmdStatus(presult.get()), "ROLLBACK") == 0) {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_TRANSACTION, 1,
                                       "PostgreSQL rolled the transaction back after a failed statement; nothing "
                                       "was committed");
        }
    }

    void rollback() override
    {
        requireTransaction();
        _bTransaction = false;
        // On a broken connection the server has rolled back already: that is what was asked.
        if (broken()) {
            return;
        }
        ResultPtr presult(PQexec(_pconn, "ROLLBACK"));
        if (!succeeded(presult.get()) && !broken()) {
            DalDatabaseException e = failure(presult.get(), "ROLLBACK");
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_TRANSACTION, 1, e.nativeExplanation());
        }
    }

    bool inTransaction() const override { return _bTransaction; }

private:
    static std::string trimmed(const char* psz)
    {
        std::string str = psz ? psz : "";
        while (!str.empty() && (str.back() == '\n' || str.back() == ' ')) {
            str.pop_back();
        }
        return str;
    }

    static bool succeeded(const PGresult* presult)
    {
        ExecStatusType status = PQresultStatus(presult);
        return presult && (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || status == PGRES_EMPTY_QUERY);
    }

    // The server's full message has a DETAIL naming the values of a duplicate or missing key, and
    // data errors quote the value: values may be secrets (a session's digest, a password hash), and
    // this text goes to logs. Only the SQLSTATE and the primary message are kept, and of a data
    // error (class 22) neither what follows a colon nor a quoted span. A result without SQLSTATE
    // is the client's own (the connection broke, say): its text quotes nothing.
    std::string explanation(const PGresult* presult) const
    {
        const char* pszState = presult ? PQresultErrorField(presult, PG_DIAG_SQLSTATE) : nullptr;
        const char* pszPrimary = presult ? PQresultErrorField(presult, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
        if (!pszState || !pszPrimary) {
            const char* pszClient = presult ? PQresultErrorMessage(presult) : PQerrorMessage(_pconn);
            return trimmed(pszClient && *pszClient ? pszClient : "the connection to the server was lost");
        }
        std::string strMessage = pszPrimary;
        if (dataError(pszState)) {
            strMessage = strMessage.substr(0, strMessage.find(": "));
            for (size_t nOpen; (nOpen = strMessage.find('"')) != std::string::npos;) {
                const size_t nClose = strMessage.find('"', nOpen + 1);
                strMessage.replace(nOpen, nClose == std::string::npos ? std::string::npos : nClose - nOpen + 1,
                                   "(value withheld)");
            }
        }
        return std::string(pszState) + " " + strMessage;
    }

    DalDatabaseException failure(const PGresult* presult, const std::string& strSql) const
    {
        const char* pszState = presult ? PQresultErrorField(presult, PG_DIAG_SQLSTATE) : nullptr;
        return DalDatabaseException(__FILE__, __LINE__, statementFailureCode(pszState), 1,
                                    statementFailure(explanation(presult), strSql));
    }

    bool broken() const { return PQstatus(_pconn) == CONNECTION_BAD; }

    // Before a statement: the handle must be open; a connection that broke since is made again,
    // unless a transaction was open on it.
    void prepareToRun()
    {
        if (!_pconn) {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_NOTOPEN, 1, "The PostgreSQL handle is not open");
        }
        if (broken()) {
            reconnect();
        }
    }

    void reconnect()
    {
        if (_bTransaction) {
            _bTransaction = false;
            // Without the connection's message: it may hold the full text of the statement that
            // failed before, values included.
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_CONNECTIONLOST, 1,
                                       "The connection to PostgreSQL broke inside a transaction; its statements "
                                       "are lost");
        }
        // Prepared statements died with the old session.
        _statementS.forget();
        PQreset(_pconn);
        if (PQstatus(_pconn) != CONNECTION_OK) {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_CONNECT, 1,
                                       "Cannot reconnect to PostgreSQL: " + trimmed(PQerrorMessage(_pconn)));
        }
    }

    ResultPtr run(const SqlRendering& rendering)
    {
        prepareToRun();
        // Texts are passed where the rendering holds them; integers are written out here. A few
        // parameters fit on the stack.
        constexpr size_t nOnStack = 8;
        const size_t nParameters = rendering.parameterS.size();
        char aszInteger[nOnStack][24];
        std::vector<std::array<char, 24>> integerS(nParameters > nOnStack ? nParameters : 0);
        const char* apszValue[nOnStack];
        std::vector<const char*> valueS(nParameters > nOnStack ? nParameters : 0);
        const char** ppszValue = nParameters > nOnStack ? valueS.data() : apszValue;
        for (size_t n = 0; n < nParameters; ++n) {
            const SqlValue& value = rendering.parameterS[n];
            if (value.type() == SqlValue::typeInteger) {
                char* pszInteger = nParameters > nOnStack ? integerS[n].data() : aszInteger[n];
                *std::to_chars(pszInteger, pszInteger + 23, value.asInt64()).ptr = '\0';
                ppszValue[n] = pszInteger;
                continue;
            }
            // libpq takes parameters as C strings: a NUL would cut the text short unseen.
            if (value.text().find('\0') != std::string::npos) {
                throw DalDatabaseException(__FILE__, __LINE__, DDBERR_VALUE, 1,
                                           statementFailure("PostgreSQL text cannot hold a NUL character",
                                                            rendering.strSql));
            }
            ppszValue[n] = value.text().c_str();
        }
        for (int nAttempt = 0;; ++nAttempt) {
            ResultPtr presult;
            const std::string* pstrName = _statementS.find(rendering.strSql);
            if (!pstrName) {
                std::string strName = "vd" + std::to_string(++_nStatement);
                presult.reset(PQprepare(_pconn, strName.c_str(), rendering.strSql.c_str(),
                                        static_cast<int>(nParameters), nullptr));
                if (succeeded(presult.get())) {
                    pstrName = &_statementS.insert(rendering.strSql, strName);
                }
            }
            if (pstrName) {
                presult.reset(PQexecPrepared(_pconn, pstrName->c_str(), static_cast<int>(nParameters), ppszValue,
                                             nullptr, nullptr, 0));
                if (succeeded(presult.get())) {
                    return presult;
                }
            }
            // The server went away (restarted, or this session was ended): once more on a new one.
            if (broken() && nAttempt == 0 && !_bTransaction) {
                reconnect();
                continue;
            }
            if (broken() && _bTransaction) {
                _bTransaction = false;
                throw DalDatabaseException(__FILE__, __LINE__, DDBERR_CONNECTIONLOST, 1,
                                           "The connection to PostgreSQL broke inside a transaction; its statements "
                                           "are lost: " + explanation(presult.get()));
            }
            throw failure(presult.get(), rendering.strSql);
        }
    }

    // The filler for the result's columns: the last one made, while the names are the same.
    RowFiller& rowFiller(const PGresult* pres)
    {
        const size_t nColumns = static_cast<size_t>(PQnfields(pres));
        auto nameOf = [pres](size_t n) {
            const char* pszName = PQfname(pres, static_cast<int>(n));
            return std::string_view(pszName ? pszName : "");
        };
        return reusedFiller(_pfiller, nColumns, nameOf);
    }

    ResultPtr control(const char* pszSql)
    {
        ResultPtr presult(PQexec(_pconn, pszSql));
        if (!succeeded(presult.get())) {
            DalDatabaseException e = failure(presult.get(), pszSql);
            throw DalDatabaseException(__FILE__, __LINE__, broken() ? DDBERR_CONNECTIONLOST : DDBERR_TRANSACTION, 1,
                                       e.nativeExplanation());
        }
        return presult;
    }

    void requireTransaction() const
    {
        if (!_pconn) {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_NOTOPEN, 1, "The PostgreSQL handle is not open");
        }
        if (!_bTransaction) {
            throw DalDatabaseException(__FILE__, __LINE__, DDBERR_TRANSACTION, 1, "No transaction is open");
        }
    }

    void deallocate(const std::string& strName)
    {
        // Names are ours ("vd" and digits), so the text is safe to build.
        if (_pconn && !broken()) {
            PQclear(PQexec(_pconn, ("DEALLOCATE " + strName).c_str()));
        }
    }

    void closeQuietly() noexcept
    {
        if (_pconn) {
            // The session ends with the connection, and so do its prepared statements.
            _statementS.forget();
            PQfinish(_pconn);
            _pconn = nullptr;
        }
        _bTransaction = false;
    }

    PGconn* _pconn = nullptr;
    bool _bTransaction = false;
    int _nStatement = 0;
    StatementCache<std::string> _statementS;
    std::set<std::string> _listenS;  // the channels this session listens on
    std::unique_ptr<RowFiller> _pfiller;
    std::vector<unsigned char> _integerS;  // by column of the last result: whether it is of an integer type
};

} // namespace

} // namespace VeskDal

extern "C" __attribute__((visibility("default"))) VeskDal::DalDatabase* veskDalCreateDatabase()
{
    return new VeskDal::DalPostgresql();
}
