#ifndef OSTREL_TEST_WATCHEDDATABASE_H
#define OSTREL_TEST_WATCHEDDATABASE_H

// A database handle that forwards to a real one and lets a test watch every statement, run
// something just before one, or make the Nth one fail as the engine would. Put into the pool with
// WatchPool.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "OstrelDal/PoolSeam.h"
#include "VeskDal/DalDatabase.h"
#include "VeskDal/VeskDal.h"

namespace OstrelTest {

// What the handles of one WatchPool saw and are to do; shared by all of them.
struct StatementWatch {
    struct Seen {
        std::string strSql;  // as rendered for the engine, values as parameters
        int nRows;           // matched by a write, delivered by a select
    };
    std::mutex mx;
    std::vector<Seen> seenS;
    // Runs before each statement with its SQL (outside the watch's lock).
    std::function<void(const std::string&)> before;

    // Counts every execute, query, begin and commit of the handles from 1 on; the one numbered n
    // fails (0: none does). The count restarts at each call.
    void failAt(int n)
    {
        std::lock_guard<std::mutex> lock(mx);
        nFailAt = n;
        nCounted = 0;
    }
    int counted()
    {
        std::lock_guard<std::mutex> lock(mx);
        return nCounted;
    }
    bool failsNow()
    {
        std::lock_guard<std::mutex> lock(mx);
        return ++nCounted == nFailAt;
    }
    int nFailAt = 0;
    int nCounted = 0;

    std::vector<Seen> take()
    {
        std::lock_guard<std::mutex> lock(mx);
        std::vector<Seen> seen;
        seen.swap(seenS);
        return seen;
    }
};

class WatchedDatabase : public VeskDal::DalDatabase {
public:
    WatchedDatabase(VeskDal::DalDatabase* pinner, std::shared_ptr<StatementWatch> pwatch)
        : VeskDal::DalDatabase(pinner->language()), _pinner(pinner), _pwatch(std::move(pwatch))
    {
    }
    void open(const ConnectionParameterMap& parameterS) override { _pinner->open(parameterS); }
    void close() override { _pinner->close(); }
    bool isOpen() const override { return _pinner->isOpen(); }
    int execute(const VeskDal::SqlStatement& statement) override
    {
        return watched(statement, [&] { return _pinner->execute(statement); });
    }
    int query(Result& result, const VeskDal::SqlSelectStatement& statement, int nMaxRows) override
    {
        return watched(statement, [&] { return _pinner->query(result, statement, nMaxRows); });
    }
    void executeScript(const std::string& strSql) override { _pinner->executeScript(strSql); }
    void begin() override
    {
        failIfCounted(VeskDal::DDBERR_TRANSACTION);
        _pinner->begin();
    }
    // A commit the engine refuses has ended the transaction with nothing of it kept.
    void commit() override
    {
        if (_pwatch->failsNow()) {
            _pinner->rollback();
            throw injected(VeskDal::DDBERR_TRANSACTION);
        }
        _pinner->commit();
    }
    void rollback() override { _pinner->rollback(); }
    bool inTransaction() const override { return _pinner->inTransaction(); }
    void beginReads() noexcept override { _pinner->beginReads(); }
    void endReads() noexcept override { _pinner->endReads(); }
    std::string engine() const override { return _pinner->engine(); }

private:
    static VeskDal::DalDatabaseException injected(int nCode)
    {
        return VeskDal::DalDatabaseException(__FILE__, __LINE__, nCode, 1, "injected failure");
    }
    void failIfCounted(int nCode)
    {
        if (_pwatch->failsNow()) throw injected(nCode);
    }

    template <class F>
    int watched(const VeskDal::SqlStatement& statement, F run)
    {
        const std::string strSql = statement.toSql(language());
        if (_pwatch->before) _pwatch->before(strSql);
        failIfCounted(VeskDal::DDBERR_STATEMENT);
        const int nRows = run();
        std::lock_guard<std::mutex> lock(_pwatch->mx);
        _pwatch->seenS.push_back(StatementWatch::Seen{strSql, nRows});
        return nRows;
    }

    std::unique_ptr<VeskDal::DalDatabase> _pinner;
    std::shared_ptr<StatementWatch> _pwatch;
};

// While it lives, every handle the pool opens is watched; connect the pool after making it.
class WatchPool {
public:
    WatchPool() : _pwatch(std::make_shared<StatementWatch>())
    {
        std::shared_ptr<StatementWatch> pwatch = _pwatch;
        OstrelDal::setHandleWrapper([pwatch](VeskDal::DalDatabase* pdb) { return new WatchedDatabase(pdb, pwatch); });
    }
    ~WatchPool() { OstrelDal::setHandleWrapper(nullptr); }
    WatchPool(const WatchPool&) = delete;
    WatchPool& operator=(const WatchPool&) = delete;

    StatementWatch& watch() { return *_pwatch; }

private:
    std::shared_ptr<StatementWatch> _pwatch;
};

// Every row of every table of a SQLite database, one line per row, tables by name and rows sorted:
// what a test compares to see that nothing was half written. Read on the handle given, so that
// the pool under test is not asked about itself.
inline std::string sqliteRows(VeskDal::DalDatabase& db)
{
    using VeskDal::SqlColumn;
    using VeskDal::SqlTable;
    auto names = [&db](const SqlTable& table, const char* pszColumn, const char* pszWhere, const std::string& strIs,
                       const char* pszOrder) {
        VeskDal::SqlSelectStatement select(table);
        select.addColumn(SqlColumn(table, pszColumn));
        select.setWhere(VeskDal::SqlCondition(SqlColumn(table, pszWhere), VeskDal::SqlText(strIs), VeskDal::condEqual));
        select.addOrderBy(SqlColumn(table, pszOrder));
        VeskDal::DalDatabase::Result result;
        db.query(result, select, 0);
        std::vector<std::string> nameS;
        for (const VeskDal::DalDatabase::Row& row : result) nameS.push_back(row.find(pszColumn)->second.string());
        return nameS;
    };
    std::string strRows;
    for (const std::string& strTable : names(SqlTable(VeskDal::SqlSchema(), "sqlite_master"), "name", "type",
                                             "table", "name")) {
        const std::vector<std::string> columnS =
            names(SqlTable(VeskDal::SqlSchema(), "pragma_table_info"), "name", "arg", strTable, "cid");
        const SqlTable table(VeskDal::SqlSchema(), strTable);
        VeskDal::SqlSelectStatement select(table);
        for (const std::string& strColumn : columnS) {
            select.addColumn(SqlColumn(table, strColumn));
            select.addOrderBy(SqlColumn(table, strColumn));
        }
        VeskDal::DalDatabase::Result result;
        db.query(result, select, 0);
        for (const VeskDal::DalDatabase::Row& row : result) {
            strRows += strTable + ":";
            for (const std::string& strColumn : columnS) {
                auto it = row.find(strColumn);
                strRows += " " + (it == row.end() ? std::string("NULL") : "'" + it->second.string() + "'");
            }
            strRows += "\n";
        }
    }
    return strRows;
}

} // namespace OstrelTest

#endif
