#ifndef VESKDAL_DALDATABASE_H
#define VESKDAL_DALDATABASE_H

#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "VeskDal/DalRow.h"
#include "VeskDal/Export.h"
#include "VeskDal/SqlException.h"
#include "VeskDal/SqlStatement.h"
#include "VeskDal/SqlValue.h"

namespace VeskDal {

// One handle on one database, made by DalDynamic::dalDatabase for an engine.
//
// Threads: a handle is used by one thread at a time; different handles may be used from different
// threads at once. Statements bind every value as a parameter. A handle whose server connection
// broke reconnects on its next use, and retries once a statement that failed because the
// connection broke, unless a transaction is open (then DDBERR_CONNECTIONLOST: its work is gone).
// Every failure is a DalDatabaseException whose nativeExplanation() holds the server's message.
class VESKDAL_API DalDatabase {
public:
    // Connection parameters, name to value (see DalDatabase::connectStringToMap).
    class ConnectionParameterMap : public std::map<std::string, std::string> {
    public:
        using std::map<std::string, std::string>::map;
    };
    // One result row: result column name to value, in name order (see DalRow). NULL columns are
    // left out of the row.
    using Row = DalRow;
    // The rows of a select, in the order the database delivered them.
    class Result : public std::vector<Row> {
    public:
        using std::vector<Row>::vector;
    };

    // Options of connectStringToMap.
    enum ConnectStringOption { csMerge = 0, csClearMap = 1 };

    virtual ~DalDatabase();

    // Opens (or reopens) the handle with the parameters; throws DDBERR_PARAMETER or DDBERR_CONNECT.
    virtual void open(const ConnectionParameterMap& parameterS) = 0;
    // Closes the handle, rolling back an open transaction; a closed handle may be opened again.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Runs an insert, update or delete; returns the rows it matched.
    // A select is refused with SqlException(SQLERR_WRONGSTATEMENT).
    virtual int execute(const SqlStatement& statement) = 0;
    // Runs a select and replaces the content of result with its rows (at most nMaxRows when it is
    // above 0); returns the number of rows delivered.
    virtual int query(Result& result, const SqlSelectStatement& statement, int nMaxRows) = 0;
    // Runs SQL text without parameters, possibly several statements separated by ";" (schema
    // scripts, administration). Never build this text from values.
    virtual void executeScript(const std::string& strSql) = 0;

    // Starts a transaction; throws DDBERR_TRANSACTION when one is open already.
    virtual void begin() = 0;
    // Commits the open transaction; throws DDBERR_TRANSACTION when none is open or when the
    // database rolled it back instead (after a failed statement). The transaction is over either way.
    virtual void commit() = 0;
    // Undoes every statement since begin(); throws DDBERR_TRANSACTION when none is open.
    virtual void rollback() = 0;
    // Whether begin() was called without a commit() or rollback() since.
    virtual bool inTransaction() const = 0;

    // Several selects follow that belong together: the handle may keep what each would set up and
    // take down on its own (SQLite takes and drops its lock on the file for every statement
    // outside a transaction, which costs more than a small select). Selects only: a write in
    // between ends the batch first, so it is committed as it would be without one. Does nothing
    // inside a transaction, or where the engine gains nothing; never fails (the selects then simply
    // run alone). Ended by endReads() (see DalReads); a batch begun inside another joins it, and
    // the outer one's end ends both.
    virtual void beginReads() noexcept {}
    virtual void endReads() noexcept {}

    // Waits at most nMilliseconds for a notification on strChannel (a lower-case identifier),
    // listening on it from the first call on; true when one came (all that came are taken).
    // Only PostgreSQL notifies: the other engines return false at once, and their callers poll.
    // Throws DDBERR_PARAMETER for a bad channel name, DDBERR_CONNECT when the connection broke
    // (the next call connects again and listens anew). Use a handle of its own: not pooled.
    virtual bool awaitNotification(const std::string& strChannel, long nMilliseconds);
    // Whether awaitNotification can return true on this engine.
    virtual bool notifies() const { return false; }

    // The dialect statements are rendered in for this handle.
    SqlLanguage language() const { return _language; }
    // The engine name ("sqlite", "postgresql", "mysql").
    virtual std::string engine() const = 0;

    // Parses a connect string into parameterS: name=value pairs separated by ";". Blanks around
    // names and unquoted values are dropped, and empty pairs are skipped. A value in double quotes
    // keeps everything up to the closing quote, ";" and blanks included, and "" inside it stands
    // for one quote. A name given twice keeps its last value. nOptions: csMerge (0) adds to the map,
    // csClearMap (1) empties it first. Throws DDBERR_CONNECTSTRING, naming the position and the
    // parameter, never its value (which may be a password).
    static void connectStringToMap(ConnectionParameterMap& parameterS, const std::string& strConnect,
                                   int nOptions);
    // The reverse of connectStringToMap: a connect string that parses back into parameterS.
    static std::string mapToConnectString(const ConnectionParameterMap& parameterS);

protected:
    explicit DalDatabase(SqlLanguage language) : _language(language) {}
    DalDatabase(const DalDatabase&) = delete;
    DalDatabase& operator=(const DalDatabase&) = delete;

    // Helpers for drivers. The value of a parameter, or strDefault when it is missing.
    static std::string parameter(const ConnectionParameterMap& parameterS, const std::string& strName,
                                 const std::string& strDefault);
    // A parameter as a whole number within [nMin, nMax], or nDefault when it is missing;
    // throws DDBERR_PARAMETER for anything else.
    static int integerParameter(const ConnectionParameterMap& parameterS, const std::string& strName,
                                int nDefault, int nMin, int nMax);

private:
    SqlLanguage _language;
};

// The selects made while it lives form one batch of reads on the handle (DalDatabase::beginReads).
class DalReads {
public:
    explicit DalReads(DalDatabase& database) : _database(database) { _database.beginReads(); }
    ~DalReads() { _database.endReads(); }
    DalReads(const DalReads&) = delete;
    DalReads& operator=(const DalReads&) = delete;

private:
    DalDatabase& _database;
};

// Runs statements(database) in a transaction: committed when they return, rolled back when they
// throw. What they return is returned.
template <class TStatements>
auto inTransaction(DalDatabase& database, TStatements&& statements)
    -> std::decay_t<std::invoke_result_t<TStatements&, DalDatabase&>>
{
    database.begin();
    try {
        if constexpr (std::is_void_v<std::invoke_result_t<TStatements&, DalDatabase&>>) {
            statements(database);
            database.commit();
        } else {
            auto result = statements(database);
            database.commit();
            return result;
        }
    } catch (...) {
        // A commit that failed has ended the transaction already.
        if (database.inTransaction()) {
            try {
                database.rollback();
            } catch (...) {
                // The first failure is the one to report.
            }
        }
        throw;
    }
}

} // namespace VeskDal

#endif
