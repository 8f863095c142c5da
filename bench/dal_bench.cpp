// Reading the grants of one user: a select of "UserProductRole" by (Domain, UserId) returning 20
// rows, through UserProductRoleQuery (echo off) and through the engine's own C API with a statement
// prepared once, side by side, on SQLite and on PostgreSQL. Both sides copy every value out.
//
//   bench_dal [benchmark flags] [PG_CONN_FILE]
//
// PG_CONN_FILE holds a connect string such as tests/harness/dbservers.sh writes (DIR/pg.conn);
// without it the PostgreSQL runs are skipped with a message.

#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "OstrelDal/OstrelDal.h"
#include "VeskDal/VeskDal.h"

namespace {

constexpr int g_nRoles = 20;
constexpr int g_nOtherUsers = 200;
const char* const g_pszBenchSchema = "ostrel_bench";

struct Grant {
    std::string strDomain;
    std::string strUserId;
    int nProduct;
    int nRole;
    int nStatus;
};

std::vector<std::string> schemaStatements(const std::string& strPath)
{
    std::ifstream in(strPath);
    if (!in) {
        throw std::runtime_error("cannot read " + strPath);
    }
    std::vector<std::string> statementS;
    std::string strLine;
    std::string strBlock;
    bool bCode = false;
    while (std::getline(in, strLine)) {
        strBlock += strLine + "\n";
        if (!strLine.empty() && strLine.compare(0, 2, "--") != 0) {
            bCode = true;
        }
        if (!strLine.empty() && strLine.back() == ';') {
            if (bCode) {
                statementS.push_back(strBlock);
            }
            strBlock.clear();
            bCode = false;
        }
    }
    return statementS;
}

void insertRow(VeskDal::DalDatabase& database, const std::string& strTable,
               const std::vector<std::pair<std::string, VeskDal::SqlValue>>& valueS)
{
    VeskDal::SqlTable table(VeskDal::SqlSchema(), strTable);
    VeskDal::SqlInsertStatement insert(table);
    for (const auto& value : valueS) {
        insert.addColumn(VeskDal::SqlColumn(table, value.first), value.second);
    }
    database.execute(insert);
}

// The schema and the grants: 20 roles of the user read, and as many of 200 other users around them.
void fill(VeskDal::DalDatabase& database, const std::string& strEngine)
{
    for (const std::string& strStatement : schemaStatements(std::string(OSTREL_SQL_DIR) + "/" + strEngine + ".sql")) {
        database.executeScript(strStatement);
    }
    using VeskDal::SqlInteger;
    using VeskDal::SqlText;
    database.begin();
    insertRow(database, "Customer", {{"Customer", SqlText("C1")}});
    insertRow(database, "Domain", {{"Domain", SqlText("D1")}, {"Customer", SqlText("C1")}});
    insertRow(database, "Product", {{"Product", SqlInteger(1)}});
    for (int nRole = 1; nRole <= g_nRoles; ++nRole) {
        insertRow(database, "ProductRole", {{"Product", SqlInteger(1)}, {"Role", SqlInteger(nRole)}});
    }
    for (int nUser = 0; nUser <= g_nOtherUsers; ++nUser) {
        std::string strUserId = "user" + std::to_string(nUser);
        insertRow(database, "User", {{"Domain", SqlText("D1")}, {"UserId", SqlText(strUserId)}});
        for (int nRole = 1; nRole <= g_nRoles; ++nRole) {
            insertRow(database, "UserProductRole",
                      {{"Domain", SqlText("D1")}, {"UserId", SqlText(strUserId)}, {"Product", SqlInteger(1)},
                       {"Role", SqlInteger(nRole)}, {"Status", SqlInteger(1)}});
        }
    }
    database.commit();
}

const char* const g_pszRawSelect =
    "SELECT \"Domain\", \"UserId\", \"Product\", \"Role\", \"Status\" FROM \"UserProductRole\" "
    "WHERE \"Domain\" = %s AND \"UserId\" = %s";

std::string rawSelect(const char* pszFirst, const char* pszSecond)
{
    char szSql[256];
    std::snprintf(szSql, sizeof szSql, g_pszRawSelect, pszFirst, pszSecond);
    return szSql;
}

void queryClass(benchmark::State& state, VeskDal::DalDatabase& database)
{
    OstrelDal::setStatementEcho(OstrelDal::echoOff);
    VeskDal::SqlSchema schema("ostrel");
    VeskDal::DalDatabase::Result result;
    std::vector<Grant> grantS;
    for (auto _ : state) {
        // As the factory does: a query per call, rows read back through the column accessors.
        OstrelDal::UserProductRoleQuery query(schema);
        query.constrainDomain(VeskDal::SqlText("D1"));
        query.constrainUserId(VeskDal::SqlText("user7"));
        query.select(result, database, VeskDal::SqlQueryBase::full);
        grantS.clear();
        for (const VeskDal::DalDatabase::Row& row : result) {
            grantS.push_back({row.at(query.columnDomain().resultName()).string(),
                              row.at(query.columnUserId().resultName()).string(),
                              row.at(query.columnProduct().resultName()).asInt(),
                              row.at(query.columnRole().resultName()).asInt(),
                              row.at(query.columnStatus().resultName()).asInt()});
        }
        if (grantS.size() != g_nRoles) {
            state.SkipWithError("wrong number of rows");
            break;
        }
    }
}

// The same select built once straight on the SQL library: what the query class adds to the
// library's own cost is the difference to queryClass.
void sqlLibrary(benchmark::State& state, VeskDal::DalDatabase& database)
{
    VeskDal::SqlTable table(VeskDal::SqlSchema("ostrel"), "UserProductRole");
    VeskDal::SqlSelectStatement select(table);
    for (const char* pszColumn : {"Domain", "UserId", "Product", "Role", "Status"}) {
        select.addColumn(VeskDal::SqlColumn(table, pszColumn));
    }
    VeskDal::SqlCompoundCondition conditionS;
    conditionS.addCondition(
        VeskDal::SqlCondition(VeskDal::SqlColumn(table, "Domain"), VeskDal::SqlText("D1"), VeskDal::condEqual));
    conditionS.addCondition(
        VeskDal::SqlCondition(VeskDal::SqlColumn(table, "UserId"), VeskDal::SqlText("user7"), VeskDal::condEqual));
    select.setWhere(conditionS);
    VeskDal::DalDatabase::Result result;
    std::vector<Grant> grantS;
    for (auto _ : state) {
        database.query(result, select, 0);
        grantS.clear();
        for (const VeskDal::DalDatabase::Row& row : result) {
            grantS.push_back({row.at("Domain").string(), row.at("UserId").string(), row.at("Product").asInt(),
                              row.at("Role").asInt(), row.at("Status").asInt()});
        }
        if (grantS.size() != g_nRoles) {
            state.SkipWithError("wrong number of rows");
            break;
        }
    }
}

// ---- SQLite

class SqliteBench {
public:
    SqliteBench()
    {
        char szPath[] = "/tmp/ostrel-bench-XXXXXX";
        int fd = mkstemp(szPath);
        if (fd < 0) {
            throw std::runtime_error("cannot make a temporary file");
        }
        close(fd);
        _strFile = szPath;
        _pdatabase.reset(VeskDal::DalDynamic::dalDatabase("sqlite"));
        _pdatabase->open({{"engine", "sqlite"}, {"file", _strFile}});
        fill(*_pdatabase, "sqlite");
    }
    ~SqliteBench() { std::remove(_strFile.c_str()); }

    VeskDal::DalDatabase& database() { return *_pdatabase; }
    const std::string& file() const { return _strFile; }

private:
    std::string _strFile;
    std::unique_ptr<VeskDal::DalDatabase> _pdatabase;
};

SqliteBench& sqliteBench()
{
    static SqliteBench s_bench;
    return s_bench;
}

void BM_UserGrants_QueryClass_SQLite(benchmark::State& state)
{
    queryClass(state, sqliteBench().database());
}

void BM_UserGrants_SqlLibrary_SQLite(benchmark::State& state)
{
    sqlLibrary(state, sqliteBench().database());
}

void BM_UserGrants_RawCApi_SQLite(benchmark::State& state)
{
    sqlite3* pdb = nullptr;
    if (sqlite3_open_v2(sqliteBench().file().c_str(), &pdb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr) !=
        SQLITE_OK) {
        state.SkipWithError("cannot open the SQLite file");
        sqlite3_close(pdb);
        return;
    }
    sqlite3_stmt* pstmt = nullptr;
    std::string strSql = rawSelect("?", "?");
    sqlite3_prepare_v2(pdb, strSql.c_str(), -1, &pstmt, nullptr);
    std::vector<Grant> grantS;
    for (auto _ : state) {
        sqlite3_bind_text(pstmt, 1, "D1", -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(pstmt, 2, "user7", -1, SQLITE_TRANSIENT);
        grantS.clear();
        while (sqlite3_step(pstmt) == SQLITE_ROW) {
            grantS.push_back({reinterpret_cast<const char*>(sqlite3_column_text(pstmt, 0)),
                              reinterpret_cast<const char*>(sqlite3_column_text(pstmt, 1)),
                              sqlite3_column_int(pstmt, 2), sqlite3_column_int(pstmt, 3),
                              sqlite3_column_int(pstmt, 4)});
        }
        sqlite3_reset(pstmt);
        if (grantS.size() != g_nRoles) {
            state.SkipWithError("wrong number of rows");
            break;
        }
    }
    sqlite3_finalize(pstmt);
    sqlite3_close(pdb);
}

// ---- PostgreSQL

std::string g_strPgConnFile;

class PostgresqlBench {
public:
    PostgresqlBench()
    {
        std::ifstream in(g_strPgConnFile);
        std::string strConnect;
        if (!in || !std::getline(in, strConnect)) {
            throw std::runtime_error("cannot read " + g_strPgConnFile);
        }
        VeskDal::DalDatabase::connectStringToMap(_parameterS, strConnect, 0);
        std::unique_ptr<VeskDal::DalDatabase> padmin(VeskDal::DalDynamic::dalDatabase("postgresql"));
        padmin->open(_parameterS);
        padmin->executeScript(std::string("DROP SCHEMA IF EXISTS ") + g_pszBenchSchema + " CASCADE");
        padmin->executeScript(std::string("CREATE SCHEMA ") + g_pszBenchSchema);
        _parameterS["options"] = std::string("-c search_path=") + g_pszBenchSchema;
        _pdatabase.reset(VeskDal::DalDynamic::dalDatabase("postgresql"));
        _pdatabase->open(_parameterS);
        fill(*_pdatabase, "postgresql");
    }

    VeskDal::DalDatabase& database() { return *_pdatabase; }

    // The same parameters as libpq keywords.
    std::string conninfo() const
    {
        std::string strInfo;
        auto add = [&](const char* pszKeyword, const char* pszName) {
            auto it = _parameterS.find(pszName);
            if (it == _parameterS.end()) {
                return;
            }
            std::string strValue;
            for (char c : it->second) {
                if (c == '\'' || c == '\\') {
                    strValue += '\\';
                }
                strValue += c;
            }
            strInfo += std::string(pszKeyword) + "='" + strValue + "' ";
        };
        add("host", "host");
        add("port", "port");
        add("user", "user");
        add("password", "password");
        add("dbname", "database");
        add("sslmode", "sslmode");
        add("options", "options");
        return strInfo;
    }

private:
    VeskDal::DalDatabase::ConnectionParameterMap _parameterS;
    std::unique_ptr<VeskDal::DalDatabase> _pdatabase;
};

PostgresqlBench* postgresqlBench(benchmark::State& state)
{
    if (g_strPgConnFile.empty()) {
        state.SkipWithError("PostgreSQL skipped: no connect file given (start a server with "
                            "tests/harness/dbservers.sh start DIR and pass DIR/pg.conn)");
        return nullptr;
    }
    static PostgresqlBench s_bench;
    return &s_bench;
}

void BM_UserGrants_QueryClass_PostgreSQL(benchmark::State& state)
{
    if (PostgresqlBench* pbench = postgresqlBench(state)) {
        queryClass(state, pbench->database());
    }
}

void BM_UserGrants_SqlLibrary_PostgreSQL(benchmark::State& state)
{
    if (PostgresqlBench* pbench = postgresqlBench(state)) {
        sqlLibrary(state, pbench->database());
    }
}

void BM_UserGrants_RawCApi_PostgreSQL(benchmark::State& state)
{
    PostgresqlBench* pbench = postgresqlBench(state);
    if (!pbench) {
        return;
    }
    PGconn* pconn = PQconnectdb(pbench->conninfo().c_str());
    if (PQstatus(pconn) != CONNECTION_OK) {
        state.SkipWithError(PQerrorMessage(pconn));
        PQfinish(pconn);
        return;
    }
    PGresult* pprepared = PQprepare(pconn, "grants", rawSelect("$1", "$2").c_str(), 2, nullptr);
    PQclear(pprepared);
    const char* apszValue[2] = {"D1", "user7"};
    std::vector<Grant> grantS;
    for (auto _ : state) {
        PGresult* presult = PQexecPrepared(pconn, "grants", 2, apszValue, nullptr, nullptr, 0);
        grantS.clear();
        int nRows = PQntuples(presult);
        for (int nRow = 0; nRow < nRows; ++nRow) {
            grantS.push_back({PQgetvalue(presult, nRow, 0), PQgetvalue(presult, nRow, 1),
                              std::atoi(PQgetvalue(presult, nRow, 2)), std::atoi(PQgetvalue(presult, nRow, 3)),
                              std::atoi(PQgetvalue(presult, nRow, 4))});
        }
        PQclear(presult);
        if (grantS.size() != g_nRoles) {
            state.SkipWithError("wrong number of rows");
            break;
        }
    }
    PQfinish(pconn);
}

} // namespace

BENCHMARK(BM_UserGrants_QueryClass_SQLite);
BENCHMARK(BM_UserGrants_SqlLibrary_SQLite);
BENCHMARK(BM_UserGrants_RawCApi_SQLite);
BENCHMARK(BM_UserGrants_QueryClass_PostgreSQL);
BENCHMARK(BM_UserGrants_SqlLibrary_PostgreSQL);
BENCHMARK(BM_UserGrants_RawCApi_PostgreSQL);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [benchmark flags] [PG_CONN_FILE]\n", argv[0]);
        return 1;
    }
    if (argc == 2) {
        g_strPgConnFile = argv[1];
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
