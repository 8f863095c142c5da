#ifndef OSTREL_TESTS_DAL_DALFIXTURE_H
#define OSTREL_TESTS_DAL_DALFIXTURE_H

// What the data-access suites share: the schema loaded from its file as the administration tool
// splits it, a scratch database per test on each engine, and the statement echo captured.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "OstrelDal/OstrelDal.h"
#include "VeskDal/VeskDal.h"
#include "harness/TestDatabases.h"

namespace OstrelDalTest {

inline std::string schemaFile(const std::string& strEngine)
{
    return std::string(OSTREL_SQL_DIR) + "/" + (strEngine == "mysql" ? "mysql" : strEngine) + ".sql";
}

// The statements of a schema file, cut at every line that ends in ";"; blocks of nothing but
// comments and blanks are dropped.
inline std::vector<std::string> schemaStatements(const std::string& strPath)
{
    std::ifstream in(strPath);
    if (!in) {
        throw std::runtime_error("cannot read " + strPath);
    }
    std::vector<std::string> statementS;
    std::string strLine;
    std::string strBlock;
    bool bCode = false;
    auto flush = [&]() {
        if (bCode) {
            statementS.push_back(strBlock);
        }
        strBlock.clear();
        bCode = false;
    };
    while (std::getline(in, strLine)) {
        strBlock += strLine + "\n";
        std::string strTrimmed = strLine.substr(0, strLine.find_last_not_of(" \t\r") + 1);
        size_t nFirst = strTrimmed.find_first_not_of(" \t");
        if (nFirst != std::string::npos && strTrimmed.compare(nFirst, 2, "--") != 0) {
            bCode = true;
        }
        if (!strTrimmed.empty() && strTrimmed.back() == ';') {
            flush();
        }
    }
    flush();
    return statementS;
}

inline void loadSchema(VeskDal::DalDatabase& database, const std::string& strEngine)
{
    for (const std::string& strStatement : schemaStatements(schemaFile(strEngine))) {
        database.executeScript(strStatement);
    }
}

// What fn wrote to standard output.
inline std::string capturedStdout(const std::function<void()>& fn)
{
    ::testing::internal::CaptureStdout();
    try {
        fn();
    } catch (...) {
        ::testing::internal::GetCapturedStdout();
        throw;
    }
    return ::testing::internal::GetCapturedStdout();
}

inline std::vector<std::string> lines(const std::string& strText)
{
    std::vector<std::string> lineS;
    std::istringstream in(strText);
    std::string strLine;
    while (std::getline(in, strLine)) {
        lineS.push_back(strLine);
    }
    return lineS;
}

// One test on one engine, in a scratch database holding the schema; the echo goes to standard
// output as it does by default.
class EngineTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        OstrelDal::setStatementEcho(OstrelDal::echoStdout);
        _pscratch = std::make_unique<OstrelTest::ScratchDatabase>(GetParam());
        _pdb = _pscratch->open();
        loadSchema(*_pdb, GetParam());
    }

    void TearDown() override { OstrelDal::setStatementEcho(OstrelDal::echoStdout); }

    VeskDal::DalDatabase& db() { return *_pdb; }
    const std::string& engine() const { return GetParam(); }

    // An identifier as the engine's statements quote it.
    std::string q(const std::string& strName) const
    {
        const char* pszQuote = engine() == "mysql" ? "`" : "\"";
        return pszQuote + strName + pszQuote;
    }
    // The n-th placeholder (from 1) as the engine's statements write it.
    std::string ph(int n) const { return engine() == "postgresql" ? "$" + std::to_string(n) : "?"; }

    VeskDal::SqlSchema _schema{"ostrel_test"};
    std::unique_ptr<OstrelTest::ScratchDatabase> _pscratch;
    std::unique_ptr<VeskDal::DalDatabase> _pdb;
};

} // namespace OstrelDalTest

#endif
