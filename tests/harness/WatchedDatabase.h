#ifndef OSTREL_TEST_WATCHEDDATABASE_H
#define OSTREL_TEST_WATCHEDDATABASE_H

// A database handle that forwards to a real one and lets a test watch every statement, run
// something just before one, or make one fail. Put into the pool with WatchPool.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "OstrelDal/PoolSeam.h"
#include "VeskDal/DalDatabase.h"

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
    void begin() override { _pinner->begin(); }
    void commit() override { _pinner->commit(); }
    void rollback() override { _pinner->rollback(); }
    bool inTransaction() const override { return _pinner->inTransaction(); }
    void beginReads() noexcept override { _pinner->beginReads(); }
    void endReads() noexcept override { _pinner->endReads(); }
    std::string engine() const override { return _pinner->engine(); }

private:
    template <class F>
    int watched(const VeskDal::SqlStatement& statement, F run)
    {
        const std::string strSql = statement.toSql(language());
        if (_pwatch->before) _pwatch->before(strSql);
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

} // namespace OstrelTest

#endif
