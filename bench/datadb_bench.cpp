// The database-backed factory on generated organisations (bench/gen) of one or more sizes, as an
// organisation grows: the default size is 10,000 users in 100 domains of 20 customers, 1,000 teams,
// 3 teams per user, 50 products of 20 roles and 20 permissions, grants at every level; other sizes
// scale customers, domains, teams, products and grants with the users, and keep what one user holds
// (OstrelGen::scaledTo). For each size and engine:
//   initialize in modeSimple and modeAdmin: time and the process's peak resident memory;
//   authorize: median and 99th percentile over every user, or over 10,000 of them taken at random
//     from a larger organisation (the best of three rounds); and the median of the same users' grant
//     selects alone (selects_median_us), the database's part;
//   adminUserList: ostrel-admin's "user list" of one domain with a pattern, as a whole run of the
//     tool (it loads the model first), with its peak memory;
//   heldUsers: one process holding up to 10,000 authorised users: the memory each adds, a first
//     authorize beside a repeated one, hasPermission over a stream of many users beside a hot set;
//   daemon: ostreld on the database, its resident memory once it listens and after 10,000 logins of
//     different users, each kept as a session (every user's password stored at the lowest hash
//     cost, so that logins are quick), and how long it took to start.
// SQLite always (at the default size also in write-ahead-log mode); PostgreSQL when a connect-string
// file is given. The statement echo is off. A table at the end gives every size's figures, with the
// database's size and the memory per team of the daemon beside modeAdmin's per user.
//
//   [OSTREL_BENCH_USERS=10000,100000,1000000] [OSTREL_BENCH_PRODUCTS=N] bench_datadb [benchmark flags]
//       [PG_CONN_FILE]
//
// OSTREL_BENCH_USERS lists the sizes, in users (default 10000); large sizes take minutes each (a
// million users some ten on SQLite, twenty on PostgreSQL), so the suite never runs them.
// OSTREL_BENCH_PRODUCTS=N keeps the catalogue at N products whatever the size. PG_CONN_FILE holds a
// server connect string such as tests/harness/dbservers.sh writes (DIR/pg.conn). Every measurement
// runs in a process of its own, forked from this lean one, so that peak memory is that of one load and
// nothing of an earlier run stays in the registries. Each size's databases are made, measured and
// removed before the next size's.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <libpq-fe.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "AuthSql/PasswordHash.h"
#include "Corvel/EventLogger.h"
#include "LoadKit.h"
#include "OstrelDal/OstrelDal.h"
#include "OstrelDataDB/OstrelDataDB.h"
#include "VeskDal/VeskDal.h"
#include "gen/Generator.h"

extern char** environ;

namespace {

const char* const g_pszBenchSchema = "ostrel_datadb_bench";
const char* const g_pszPassword = "bench-pw";
constexpr int g_nLogins = 10000;
// Users authorised per size: all of an organisation up to this many, else this many at random.
constexpr size_t g_nAuthorizeSample = 10000;
constexpr int g_nDefaultUsers = 10000;

// What a measuring process reports back through its pipe.
struct Report {
    bool bOk;
    char szError[512];
    double dSeconds;
    double dCpuSeconds;
    long nPeakKiB;
    double dMedianMicros;
    double dP99Micros;
    int nUsers;
    double dProductsPerUser;
    double dCpuMedianMicros;
    double dCpuP99Micros;
    long nRows;
    double dSelectMedianMicros;
    // heldUsers
    double dHeldKiBPerUser;
    double dFirstMicros, dRepeatMicros;
    double dStreamNanos, dHotNanos;
    double dMissNanos;  // one read from memory past the caches, for scale
    double dFirstFaults, dRepeatFaults;  // minor page faults per authorize
    double dTeamKiB;       // modeSimple: the heap the teams hold, per team
    double dCatalogueMiB;  // and the catalogue's
};

// One size's figures on one engine, for the table at the end; 0 where not measured.
struct Figures {
    long nRows = 0;
    double dGenerateSeconds = 0;
    double dDatabaseMiB = 0;
    int nTeams = 0;
    double dSimpleSeconds = 0, dSimpleMiB = 0;
    double dAdminSeconds = 0, dAdminMiB = 0;
    double dAuthorizeMedianMicros = 0, dAuthorizeP99Micros = 0;
    double dUserListSeconds = 0, dUserListMiB = 0;
    double dDaemonStartSeconds = 0, dDaemonStartMiB = 0, dDaemonLoggedInMiB = 0;
    double dTeamKiB = 0;
};
// By size, then engine; written by the benchmarks, which run one after another on the main thread.
std::map<int, std::map<std::string, Figures>> g_figureS;

long peakKiB()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Bytes the allocator has handed out and not had back, mapped blocks included.
double heapInUseBytes()
{
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks) + static_cast<double>(info.hblkhd);
}

// What the loaded teams hold on the heap, per team, then the catalogue's in all: what letting each
// go gives back. The first is the cost of one more team, the catalogue and the domains left out.
void measureTeamsAndCatalogue(Report& report)
{
    OstrelData::TeamMap& teamS = OstrelData::Factory::teams();
    const double dTeams = static_cast<double>(std::max<size_t>(teamS.size(), 1));
    const double dBefore = heapInUseBytes();
    for (auto& entry : OstrelData::Factory::customers())
        OstrelData::TeamPtrMap().swap(entry.second.teams());
    OstrelData::TeamMap().swap(teamS);
    const double dWithoutTeams = heapInUseBytes();
    OstrelData::ProductMap().swap(OstrelData::Factory::products());
    report.dTeamKiB = (dBefore - dWithoutTeams) / 1024.0 / dTeams;
    report.dCatalogueMiB = (dWithoutTeams - heapInUseBytes()) / 1048576.0;
}

long minorFaults()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

void setError(Report& report, const std::string& strError)
{
    std::snprintf(report.szError, sizeof report.szError, "%s", strError.c_str());
}

// Runs measure in a child process and returns its report.
Report inChild(const std::function<void(Report&)>& measure)
{
    Report report{};
    int afd[2];
    if (pipe(afd) != 0) {
        setError(report, "pipe failed");
        return report;
    }
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(afd[0]);
        // Domains whose library a load does not open are logged one by one; not the subject here.
        Corvel::EventLogger::setSink([](const std::string&) {});
        Report child{};
        try {
            measure(child);
            child.bOk = true;
        } catch (const OstrelData::Exception& e) {
            setError(child, "code " + std::to_string(e.errorCode()) + ": " + e.legend());
        } catch (const VeskDal::DalDatabaseException& e) {
            setError(child, e.nativeExplanation());
        } catch (const std::exception& e) {
            setError(child, e.what());
        }
        ssize_t nWritten = write(afd[1], &child, sizeof child);
        _exit(nWritten == static_cast<ssize_t>(sizeof child) ? 0 : 1);
    }
    close(afd[1]);
    if (pid < 0) {
        close(afd[0]);
        setError(report, "fork failed");
        return report;
    }
    size_t nHave = 0;
    char* p = reinterpret_cast<char*>(&report);
    while (nHave < sizeof report) {
        const ssize_t nGot = read(afd[0], p + nHave, sizeof report - nHave);
        if (nGot <= 0)
            break;
        nHave += static_cast<size_t>(nGot);
    }
    close(afd[0]);
    int nStatus = 0;
    waitpid(pid, &nStatus, 0);
    if (nHave != sizeof report) {
        report = Report{};
        setError(report, "the measuring process died");
    }
    return report;
}

double secondsSince(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// CPU time of this thread: on a machine shared with other work, wall time also counts the time
// others had the processor.
double threadCpuSeconds()
{
    struct timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double percentile(std::vector<double>& valueS, int nPercent)
{
    std::sort(valueS.begin(), valueS.end());
    return valueS[std::min(valueS.size() - 1, valueS.size() * static_cast<size_t>(nPercent) / 100)];
}

// Runs a program to its end, its output to strLog; its wall time and peak resident memory. Throws
// with the output when it fails.
Report timedRun(const std::vector<std::string>& argS, const std::string& strLog)
{
    std::vector<char*> argv;
    for (const std::string& str : argS)
        argv.push_back(const_cast<char*>(str.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, strLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const auto t0 = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int nSpawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (nSpawned != 0)
        throw std::runtime_error("cannot start " + argS[0]);
    int nStatus = 0;
    struct rusage usage {};
    wait4(pid, &nStatus, 0, &usage);
    Report report{};
    report.dSeconds = secondsSince(t0);
    report.nPeakKiB = usage.ru_maxrss;
    if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0)
        throw std::runtime_error(argS[0] + " failed: " + OstrelBench::readFile(strLog));
    return report;
}

// ---- the databases

struct Engine {
    std::string strName;  // the benchmark's name for it
    std::string strEngine;
    std::string strConnect;
    // Makes the empty place the schema goes in; false (with a message) when it cannot.
    std::function<bool()> prepare;
    std::function<void()> cleanup;
    // Run on the database once it is filled.
    std::string strAfterFill;
    // The database's bytes on disk.
    std::function<double()> bytes;
};

// Where this run keeps its files: the SQLite databases, the connect file the tools read, logs.
std::string g_strDir;

std::unique_ptr<VeskDal::DalDatabase> openDatabase(const std::string& strConnect)
{
    VeskDal::DalDatabase::ConnectionParameterMap parameterS;
    VeskDal::DalDatabase::connectStringToMap(parameterS, strConnect, VeskDal::DalDatabase::csClearMap);
    std::unique_ptr<VeskDal::DalDatabase> pdatabase(VeskDal::DalDynamic::dalDatabase(parameterS.at("engine")));
    pdatabase->open(parameterS);
    return pdatabase;
}

// The parameters of the password plug-in (library 1): the lowest hash cost, as the stored hashes
// have, and no lock-out, so that the daemon's logins neither rehash nor lock anyone.
void writeLibraryParams(VeskDal::DalDatabase& database)
{
    const AuthSql::PasswordCost cost = AuthSql::PasswordCost::lowest();
    const VeskDal::SqlTable table(VeskDal::SqlSchema(), "AuthenticationLibraryParam");
    for (const auto& param : std::vector<std::pair<const char*, std::string>>{
             {AuthSql::pszParamOpsLimit, std::to_string(cost.nOpsLimit)},
             {AuthSql::pszParamMemLimitKiB, std::to_string(cost.nMemLimit / 1024)},
             {"lockout_threshold", "0"}}) {
        VeskDal::SqlInsertStatement insert(table);
        insert.addColumn(VeskDal::SqlColumn(table, "AuthenticationLibrary"), VeskDal::SqlInteger(1));
        insert.addColumn(VeskDal::SqlColumn(table, "Param"), VeskDal::SqlText(param.first));
        insert.addColumn(VeskDal::SqlColumn(table, "Value"), VeskDal::SqlText(param.second));
        database.execute(insert);
    }
}

// Schema and organisation, written by a child so that this process stays small.
bool generate(const Engine& engine, const OstrelGen::Size& size, const std::string& strPasswordHash,
              Figures& figures)
{
    const Report report = inChild([&](Report& r) {
        std::unique_ptr<VeskDal::DalDatabase> pdatabase = openDatabase(engine.strConnect);
        if (engine.strEngine == "sqlite")
            pdatabase->executeScript("PRAGMA synchronous = OFF");
        OstrelGen::loadSchema(*pdatabase, std::string(OSTREL_SQL_DIR) + "/" + engine.strEngine + ".sql");
        const auto t0 = std::chrono::steady_clock::now();
        r.nRows = OstrelGen::fill(*pdatabase, size, OSTREL_BENCH_PLUGIN, strPasswordHash);
        writeLibraryParams(*pdatabase);
        if (!engine.strAfterFill.empty())
            pdatabase->executeScript(engine.strAfterFill);
        r.dSeconds = secondsSince(t0);
    });
    if (!report.bOk) {
        std::fprintf(stderr, "bench_datadb: cannot generate the %s database: %s\n", engine.strName.c_str(),
                     report.szError);
        return false;
    }
    figures.nRows = report.nRows;
    figures.dGenerateSeconds = report.dSeconds;
    figures.dDatabaseMiB = engine.bytes() / (1024.0 * 1024.0);
    figures.nTeams = size.nTeams;
    return true;
}

// Connect-string parameters to try without a rebuild (OSTREL_BENCH_SQLITE_ARGS, "mmap_mib=1024").
std::string sqliteExtra()
{
    const char* pszArgs = std::getenv("OSTREL_BENCH_SQLITE_ARGS");
    return pszArgs != nullptr && *pszArgs != '\0' ? std::string(";") + pszArgs : std::string();
}

// A file of its own; with bWal in write-ahead-log mode (a setting kept in the file), where a read
// takes no file lock: the mode a server with many handles on one file would use.
Engine sqliteEngine(bool bWal)
{
    const std::string strFile = g_strDir + (bWal ? "/ostrel-wal.db" : "/ostrel.db");
    auto remove = [strFile]() {
        for (const char* pszSuffix : {"", "-journal", "-wal", "-shm"})
            std::remove((strFile + pszSuffix).c_str());
    };
    return Engine{bWal ? "sqlite-wal" : "sqlite",
                  "sqlite",
                  "engine=sqlite;database=ostrel;file=" + strFile + sqliteExtra(),
                  [remove]() {
                      remove();
                      return true;
                  },
                  remove,
                  bWal ? "PRAGMA journal_mode = WAL" : "",
                  [strFile]() {
                      double dBytes = 0;
                      for (const char* pszSuffix : {"", "-wal"}) {
                          struct stat st {};
                          if (stat((strFile + pszSuffix).c_str(), &st) == 0)
                              dBytes += static_cast<double>(st.st_size);
                      }
                      return dBytes;
                  }};
}

// The bytes of the bench's schema on the server (tables, their indexes and TOAST), through libpq:
// the data-access layer selects from tables only.
double schemaBytes(const std::string& strServer)
{
    VeskDal::DalDatabase::ConnectionParameterMap parameterS;
    VeskDal::DalDatabase::connectStringToMap(parameterS, strServer, VeskDal::DalDatabase::csClearMap);
    std::string strConninfo;
    for (const auto& entry : parameterS) {
        if (entry.first == "engine")
            continue;
        std::string strValue;
        for (char ch : entry.second)
            strValue += ch == '\'' || ch == '\\' ? std::string("\\") + ch : std::string(1, ch);
        strConninfo += (entry.first == "database" ? "dbname" : entry.first) + "='" + strValue + "' ";
    }
    PGconn* pconn = PQconnectdb(strConninfo.c_str());
    double dBytes = 0;
    if (PQstatus(pconn) == CONNECTION_OK) {
        const char* apszParam[] = {g_pszBenchSchema};
        PGresult* presult = PQexecParams(pconn,
                                         "SELECT coalesce(sum(pg_total_relation_size(c.oid)), 0) FROM pg_class c "
                                         "JOIN pg_namespace n ON n.oid = c.relnamespace "
                                         "WHERE n.nspname = $1 AND c.relkind = 'r'",
                                         1, nullptr, apszParam, nullptr, nullptr, 0);
        if (PQresultStatus(presult) == PGRES_TUPLES_OK && PQntuples(presult) == 1)
            dBytes = std::strtod(PQgetvalue(presult, 0, 0), nullptr);
        PQclear(presult);
    }
    PQfinish(pconn);
    return dBytes;
}

// A schema of its own on the server, first on the search path of every handle; made afresh for
// each size.
bool postgresqlEngine(const std::string& strConnFile, Engine& engine)
{
    std::ifstream in(strConnFile);
    std::string strServer;
    if (!in || !std::getline(in, strServer) || strServer.empty()) {
        std::fprintf(stderr, "bench_datadb: no connect string in %s\n", strConnFile.c_str());
        return false;
    }
    auto run = [strServer](const std::string& strSql) {
        try {
            openDatabase(strServer)->executeScript(strSql);
            return true;
        } catch (const VeskDal::DalDatabaseException& e) {
            std::fprintf(stderr, "bench_datadb: %s\n", e.nativeExplanation().c_str());
            return false;
        }
    };
    const std::string strDrop = std::string("DROP SCHEMA IF EXISTS ") + g_pszBenchSchema + " CASCADE";
    VeskDal::DalDatabase::ConnectionParameterMap parameterS;
    VeskDal::DalDatabase::connectStringToMap(parameterS, strServer, VeskDal::DalDatabase::csClearMap);
    parameterS["options"] = std::string("-c search_path=") + g_pszBenchSchema;
    engine = Engine{"postgresql",
                    "postgresql",
                    VeskDal::DalDatabase::mapToConnectString(parameterS),
                    [run, strDrop]() { return run(strDrop + "; CREATE SCHEMA " + g_pszBenchSchema); },
                    [run, strDrop]() { run(strDrop); },
                    // The planner's statistics, as the server's autovacuum would gather them after a
                    // bulk load.
                    "ANALYZE",
                    [strServer]() { return schemaBytes(strServer); }};
    return true;
}

// The connect string goes to the tools and the daemon in a file only we may read: a server's holds
// its password.
std::string connectFileOf(const Engine& engine)
{
    const std::string strFile = g_strDir + "/" + engine.strName + ".connect";
    const int fd = open(strFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        throw std::runtime_error("cannot write " + strFile);
    const std::string strLine = engine.strConnect + "\n";
    const bool bWritten = write(fd, strLine.data(), strLine.size()) == static_cast<ssize_t>(strLine.size());
    close(fd);
    if (!bWritten)
        throw std::runtime_error("cannot write " + strFile);
    return strFile;
}

// ---- the measurements

// One size on one engine: made when its first benchmark runs, removed when another's is made.
struct Database {
    Engine engine;
    OstrelGen::Size size;
    Figures* pfigures;
    std::string strConnect;
    std::string strConnectFile;  // for the tools and the daemon
    bool bReady = false;
};
std::string g_strPasswordHash;
Database* g_pcurrent = nullptr;

// Whether the database is there, made now when another one (or none) is.
bool ready(Database& database)
{
    if (g_pcurrent == &database)
        return database.bReady;
    if (g_pcurrent != nullptr)
        g_pcurrent->engine.cleanup();
    g_pcurrent = &database;
    database.bReady = database.engine.prepare() &&
                      generate(database.engine, database.size, g_strPasswordHash, *database.pfigures);
    return database.bReady;
}

void initializeBench(benchmark::State& state, Database* pdatabase, OstrelData::Factory::Mode mode)
{
    Database& target = *pdatabase;
    if (!ready(target)) {
        state.SkipWithError("the database could not be made");
        return;
    }
    long nPeakKiB = 0;
    double dCpuSeconds = 0;
    double dSeconds = 0;
    double dTeamKiB = 0;
    double dCatalogueMiB = 0;
    for (auto _ : state) {
        const Report report = inChild([&target, mode](Report& r) {
            OstrelDal::setStatementEcho(OstrelDal::echoOff);
            const auto t0 = std::chrono::steady_clock::now();
            const double dCpu0 = threadCpuSeconds();
            OstrelDataDB::Factory::initialize(target.strConnect, mode);
            r.dCpuSeconds = threadCpuSeconds() - dCpu0;
            r.dSeconds = secondsSince(t0);
            r.nPeakKiB = peakKiB();
            if (mode == OstrelData::Factory::modeSimple)
                measureTeamsAndCatalogue(r);
        });
        if (!report.bOk) {
            state.SkipWithError(report.szError);
            return;
        }
        state.SetIterationTime(report.dSeconds);
        nPeakKiB = std::max(nPeakKiB, report.nPeakKiB);
        dTeamKiB = report.dTeamKiB;
        dCatalogueMiB = report.dCatalogueMiB;
        dCpuSeconds += report.dCpuSeconds;
        dSeconds += report.dSeconds;
    }
    const double dIterations = static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
    state.counters["peak_rss_MiB"] = static_cast<double>(nPeakKiB) / 1024.0;
    state.counters["cpu_ms"] = dCpuSeconds * 1e3 / dIterations;
    Figures& figures = *target.pfigures;
    (mode == OstrelData::Factory::modeAdmin ? figures.dAdminSeconds : figures.dSimpleSeconds) = dSeconds / dIterations;
    (mode == OstrelData::Factory::modeAdmin ? figures.dAdminMiB : figures.dSimpleMiB) =
        static_cast<double>(nPeakKiB) / 1024.0;
    if (mode == OstrelData::Factory::modeSimple) {
        state.counters["team_heap_KiB"] = dTeamKiB;
        state.counters["catalogue_heap_MiB"] = dCatalogueMiB;
        figures.dTeamKiB = dTeamKiB;
    }
}

// The selects authorize makes for one user, the same statements on the same handle, without
// building his products: what the database's part of it costs. Returns the rows read.
size_t grantSelects(const OstrelData::User& user)
{
    OstrelDal::Connection connection = OstrelDal::connection();
    VeskDal::DalDatabase& database = connection.db();
    VeskDal::DalReads reads(database);
    const VeskDal::SqlSchema& schema = OstrelDal::schema();
    const VeskDal::SqlText valCustomer(user.domain().customer()->customer());
    const VeskDal::SqlText valDomain(user.domain().domain());
    const VeskDal::SqlText valUserId(user.userId());
    OstrelDal::GenericProductRoleQuery customerRole(VeskDal::SqlTable(schema, "CustomerProductRole", "PR"));
    OstrelDal::GenericProductPermissionQuery customerPermission(
        VeskDal::SqlTable(schema, "CustomerProductPermission", "PP"));
    OstrelDal::GenericProductRoleQuery teamRole(VeskDal::SqlTable(schema, "TeamProductRole", "PR"));
    OstrelDal::GenericProductPermissionQuery teamPermission(VeskDal::SqlTable(schema, "TeamProductPermission", "PP"));
    OstrelDal::GenericProductRoleQuery userRole(VeskDal::SqlTable(schema, "UserProductRole", "PR"));
    OstrelDal::GenericProductPermissionQuery userPermission(VeskDal::SqlTable(schema, "UserProductPermission", "PP"));
    customerRole.constrainCustomer(valCustomer);
    customerPermission.constrainCustomer(valCustomer);
    userRole.constrainDomain(valDomain);
    userRole.constrainUserId(valUserId);
    userPermission.constrainDomain(valDomain);
    userPermission.constrainUserId(valUserId);
    VeskDal::DalDatabase::Result result;
    size_t nRows = 0;
    auto select = [&](auto& query) {
        result.clear();
        query.select(result, database, VeskDal::SqlQueryBase::full);
        nRows += result.size();
    };
    select(customerRole);
    select(customerPermission);
    for (const auto& entry : user.teams()) {
        teamRole.constrainTeam(VeskDal::SqlInteger(entry.first));
        select(teamRole);
        teamPermission.constrainTeam(VeskDal::SqlInteger(entry.first));
        select(teamPermission);
    }
    select(userRole);
    select(userPermission);
    return nRows;
}

// The model loaded in modeAdmin, and its users in no order the keys would favour (a look-up at
// random reads what a cache holds no better than a real login would), at most g_nAuthorizeSample.
std::vector<const OstrelData::User*> loadedUsersAtRandom(const std::string& strConnect)
{
    OstrelDal::setStatementEcho(OstrelDal::echoOff);
    OstrelDataDB::Factory::initialize(strConnect, OstrelData::Factory::modeAdmin);
    std::vector<const OstrelData::User*> userS;
    for (const auto& entryDomain : OstrelData::Factory::domains()) {
        for (const auto& entryUser : entryDomain.second.users())
            userS.push_back(&entryUser.second);
    }
    std::shuffle(userS.begin(), userS.end(), std::mt19937(1));
    userS.resize(std::min(userS.size(), g_nAuthorizeSample));
    return userS;
}

void authorizeBench(benchmark::State& state, Database* pdatabase)
{
    Database& target = *pdatabase;
    if (!ready(target)) {
        state.SkipWithError("the database could not be made");
        return;
    }
    for (auto _ : state) {
        const Report report = inChild([&target](Report& r) {
            const std::vector<const OstrelData::User*> userS = loadedUsersAtRandom(target.strConnect);
            // Three rounds over the same users, the one with the lowest median kept: other work on a
            // shared machine only ever slows a round, and every round reads what the first left in
            // the caches alike.
            std::size_t nProducts = 0;
            std::vector<double> microS;
            for (int nRound = 0; nRound < 3; ++nRound) {
                std::vector<double> roundS;
                std::vector<double> cpuMicroS;
                roundS.reserve(userS.size());
                cpuMicroS.reserve(userS.size());
                nProducts = 0;
                for (const OstrelData::User* puser : userS) {
                    // A copy, as an authentication hands a fresh user to authorize.
                    OstrelData::User user(*puser);
                    const auto t0 = std::chrono::steady_clock::now();
                    const double dCpu0 = threadCpuSeconds();
                    OstrelDataDB::Factory::authorize(user);
                    cpuMicroS.push_back((threadCpuSeconds() - dCpu0) * 1e6);
                    roundS.push_back(secondsSince(t0) * 1e6);
                    nProducts += static_cast<const OstrelData::User&>(user).products().size();
                }
                if (roundS.empty())
                    throw std::runtime_error("no users loaded");
                const double dMedian = percentile(roundS, 50);
                if (nRound > 0 && dMedian >= r.dMedianMicros)
                    continue;
                microS = roundS;
                r.dMedianMicros = dMedian;
                r.dP99Micros = percentile(roundS, 99);
                r.dCpuMedianMicros = percentile(cpuMicroS, 50);
                r.dCpuP99Micros = percentile(cpuMicroS, 99);
            }
            r.nUsers = static_cast<int>(microS.size());
            r.dSeconds = r.dMedianMicros / 1e6;
            std::vector<double> selectS;
            selectS.reserve(userS.size());
            for (const OstrelData::User* puser : userS) {
                const auto t0 = std::chrono::steady_clock::now();
                benchmark::DoNotOptimize(grantSelects(*puser));
                selectS.push_back(secondsSince(t0) * 1e6);
            }
            r.dSelectMedianMicros = percentile(selectS, 50);
            r.dProductsPerUser = static_cast<double>(nProducts) / static_cast<double>(microS.size());
        });
        if (!report.bOk) {
            state.SkipWithError(report.szError);
            return;
        }
        state.SetIterationTime(report.dSeconds);
        state.counters["median_us"] = report.dMedianMicros;
        state.counters["p99_us"] = report.dP99Micros;
        state.counters["cpu_median_us"] = report.dCpuMedianMicros;
        state.counters["cpu_p99_us"] = report.dCpuP99Micros;
        state.counters["users"] = report.nUsers;
        state.counters["products_per_user"] = report.dProductsPerUser;
        state.counters["selects_median_us"] = report.dSelectMedianMicros;
        target.pfigures->dAuthorizeMedianMicros = report.dMedianMicros;
        target.pfigures->dAuthorizeP99Micros = report.dP99Micros;
    }
}

// Nanoseconds one read takes that depends on the one before, at random over nBytes: what a check
// pays for each cache miss of its chain once the users it reads are past the caches.
double memoryReadNanos(size_t nBytes)
{
    const size_t nLines = std::max<size_t>(nBytes / 64, 1024);
    struct alignas(64) Line {
        size_t nNext;
    };
    std::vector<Line> lineS(nLines);
    std::vector<size_t> orderS(nLines);
    for (size_t i = 0; i < nLines; ++i) orderS[i] = i;
    std::shuffle(orderS.begin(), orderS.end(), std::mt19937(3));
    for (size_t i = 0; i < nLines; ++i) lineS[orderS[i]].nNext = orderS[(i + 1) % nLines];
    const size_t nSteps = 1000000;
    size_t n = orderS[0];
    const auto t0 = std::chrono::steady_clock::now();
    for (size_t i = 0; i < nSteps; ++i) n = lineS[n].nNext;
    benchmark::DoNotOptimize(n);
    return secondsSince(t0) * 1e9 / static_cast<double>(nSteps);
}

// What authorised users cost one process that holds them: the model loaded (modeAdmin), then up to
// 10,000 users authorised and all kept; the resident memory they add, each user's first authorize
// beside a repeated one, and hasPermission over a stream of 200,000 checks spread over every held
// user and product beside 200 checks asked over and over.
void heldUsersBench(benchmark::State& state, Database* pdatabase)
{
    Database& target = *pdatabase;
    if (!ready(target)) {
        state.SkipWithError("the database could not be made");
        return;
    }
    for (auto _ : state) {
        const Report report = inChild([&target](Report& r) {
            std::vector<OstrelData::User> heldS;
            for (const OstrelData::User* puser : loadedUsersAtRandom(target.strConnect))
                heldS.push_back(*puser);
            if (heldS.empty()) throw std::runtime_error("no users loaded");
            const long nLoadedKiB = OstrelBench::residentKiB(getpid());
            std::vector<double> firstS, repeatS;
            const long nFaults0 = minorFaults();
            for (OstrelData::User& user : heldS) {
                const auto t0 = std::chrono::steady_clock::now();
                OstrelDataDB::Factory::authorize(user);
                firstS.push_back(secondsSince(t0) * 1e6);
            }
            const long nFaults1 = minorFaults();
            r.dHeldKiBPerUser = static_cast<double>(OstrelBench::residentKiB(getpid()) - nLoadedKiB) /
                                static_cast<double>(heldS.size());
            for (const OstrelData::User& held : heldS) {
                OstrelData::User user(held);
                user.products().clear();
                const auto t0 = std::chrono::steady_clock::now();
                OstrelDataDB::Factory::authorize(user);
                repeatS.push_back(secondsSince(t0) * 1e6);
            }
            const double dUsers = static_cast<double>(heldS.size());
            r.dFirstFaults = static_cast<double>(nFaults1 - nFaults0) / dUsers;
            r.dRepeatFaults = static_cast<double>(minorFaults() - nFaults1) / dUsers;
            r.dFirstMicros = percentile(firstS, 50);
            r.dRepeatMicros = percentile(repeatS, 50);
            // The probes point at the catalogue, as an application's own roles and permissions do.
            std::vector<std::pair<const OstrelData::User*, OstrelData::Permission>> probeS;
            std::mt19937 random(2);
            const OstrelData::ProductMap& catalogueS = OstrelData::Factory::products();
            for (int i = 0; i < 200000; ++i) {
                const OstrelData::User& user = heldS[random() % heldS.size()];
                const OstrelData::ProductMap& productS = user.products();
                if (productS.empty()) continue;
                auto it = productS.begin();
                std::advance(it, static_cast<long>(random() % productS.size()));
                probeS.emplace_back(&user, OstrelData::Permission(catalogueS.at(it->first),
                                                                  static_cast<int>(random() % 20) + 1, "",
                                                                  OstrelData::PRStatus::statusDenied));
            }
            if (probeS.size() < 1000) throw std::runtime_error("the users hold too few products");
            // Nanoseconds a check over nChecks checks taken round the first nProbes probes; the
            // median of five batches.
            auto timeChecks = [&probeS](size_t nProbes, size_t nChecks) {
                std::vector<double> batchS;
                for (int b = 0; b < 5; ++b) {
                    size_t nHeld = 0;
                    const auto t0 = std::chrono::steady_clock::now();
                    for (size_t i = 0; i < nChecks; ++i) {
                        const auto& probe = probeS[i % nProbes];
                        nHeld += probe.first->hasPermission(probe.second) ? 1 : 0;
                    }
                    benchmark::DoNotOptimize(nHeld);
                    batchS.push_back(secondsSince(t0) * 1e9 / static_cast<double>(nChecks));
                }
                return percentile(batchS, 50);
            };
            r.dStreamNanos = timeChecks(probeS.size(), probeS.size());
            r.dHotNanos = timeChecks(200, probeS.size());
            r.dMissNanos = memoryReadNanos(static_cast<size_t>(r.dHeldKiBPerUser * 1024 * dUsers));
            r.nUsers = static_cast<int>(heldS.size());
        });
        if (!report.bOk) {
            state.SkipWithError(report.szError);
            return;
        }
        state.SetIterationTime(report.dFirstMicros / 1e6);
        state.counters["users"] = report.nUsers;
        state.counters["held_KiB_per_user"] = report.dHeldKiBPerUser;
        state.counters["first_authorize_us"] = report.dFirstMicros;
        state.counters["repeat_authorize_us"] = report.dRepeatMicros;
        state.counters["first_per_repeat"] = report.dFirstMicros / report.dRepeatMicros;
        state.counters["first_faults"] = report.dFirstFaults;
        state.counters["repeat_faults"] = report.dRepeatFaults;
        state.counters["stream_check_ns"] = report.dStreamNanos;
        state.counters["hot_check_ns"] = report.dHotNanos;
        state.counters["stream_per_hot"] = report.dStreamNanos / report.dHotNanos;
        state.counters["memory_read_ns"] = report.dMissNanos;
    }
}

// "user list DOMAIN PATTERN" of the first domain: the users whose id starts with "user1".
void userListBench(benchmark::State& state, Database* pdatabase)
{
    Database& target = *pdatabase;
    if (!ready(target)) {
        state.SkipWithError("the database could not be made");
        return;
    }
    for (auto _ : state) {
        Report report{};
        try {
            report = timedRun({OSTREL_BENCH_ADMIN, "--connect-file", target.strConnectFile, "--plugin", OSTREL_BENCH_PLUGIN,
                               "user", "list", OstrelGen::domainName(0), "user1%"},
                              g_strDir + "/admin.log");
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            return;
        }
        state.SetIterationTime(report.dSeconds);
        int nListed = 0;
        std::istringstream lineS(OstrelBench::readFile(g_strDir + "/admin.log"));
        for (std::string strLine; std::getline(lineS, strLine);)
            nListed += strLine.compare(0, OstrelGen::domainName(0).size() + 1, OstrelGen::domainName(0) + "/") == 0;
        state.counters["peak_rss_MiB"] = static_cast<double>(report.nPeakKiB) / 1024.0;
        state.counters["listed"] = nListed;
        target.pfigures->dUserListSeconds = report.dSeconds;
        target.pfigures->dUserListMiB = static_cast<double>(report.nPeakKiB) / 1024.0;
    }
}

// g_nLogins logins through one connection, of users spread over the whole organisation.
void logIn(const std::string& strAddress, const OstrelGen::Size& size)
{
    OstrelBench::LoadClient client(strAddress, g_pszPassword);
    client.connect();
    client.fetchKey();
    const OstrelData::Customer customer("customer0", "");
    const long nStride = std::max(1, size.nUsers / g_nLogins);
    for (long n = 0; n < g_nLogins; ++n) {
        const int nUser = static_cast<int>((n * nStride) % size.nUsers);
        const OstrelData::Domain domain(customer, OstrelGen::domainName(nUser % size.nDomains));
        const OstrelData::User user(domain, OstrelGen::userId(nUser), "", "", "");
        OstrelData::AuthenticatedUser authenticated;
        if (!client.loginAndCheck(user, &authenticated) || !client.persist(authenticated))
            throw std::runtime_error("the login of " + OstrelGen::userId(nUser) + " or keeping it was refused: " +
                                     client.lastReply());
    }
}

void daemonBench(benchmark::State& state, Database* pdatabase)
{
    Database& target = *pdatabase;
    if (!ready(target)) {
        state.SkipWithError("the database could not be made");
        return;
    }
    for (auto _ : state) {
        const std::string strAddressFile = g_strDir + "/address";
        std::vector<std::string> addressS;
        pid_t pid = -1;
        const auto t0 = std::chrono::steady_clock::now();
        try {
            pid = OstrelBench::startDaemon({OSTREL_BENCH_DAEMON, "--connect-file", target.strConnectFile, "--listen",
                                            "127.0.0.1:0", "--address-file", strAddressFile, "--log-level", "warning",
                                            "--reload-interval", "0"},
                                           g_strDir + "/daemon.log", strAddressFile, addressS);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            return;
        }
        const double dStartSeconds = secondsSince(t0);
        const long nStartKiB = OstrelBench::residentKiB(pid);
        const auto tLogins = std::chrono::steady_clock::now();
        const Report report = inChild([&](Report&) { logIn(addressS.front(), target.size); });
        const double dLoginSeconds = secondsSince(tLogins);
        const long nLoggedInKiB = OstrelBench::residentKiB(pid);
        OstrelBench::stopDaemon(pid);
        if (!report.bOk) {
            state.SkipWithError(report.szError);
            return;
        }
        state.SetIterationTime(dStartSeconds);
        state.counters["start_rss_MiB"] = static_cast<double>(nStartKiB) / 1024.0;
        state.counters["after_logins_rss_MiB"] = static_cast<double>(nLoggedInKiB) / 1024.0;
        state.counters["logins_per_s"] = g_nLogins / dLoginSeconds;
        target.pfigures->dDaemonStartSeconds = dStartSeconds;
        target.pfigures->dDaemonStartMiB = static_cast<double>(nStartKiB) / 1024.0;
        target.pfigures->dDaemonLoggedInMiB = static_cast<double>(nLoggedInKiB) / 1024.0;
    }
}

void registerDatabase(Database* pdatabase)
{
    const std::string strPrefix = pdatabase->engine.strName + "/" + std::to_string(pdatabase->size.nUsers);
    // A large organisation loads for minutes: once is enough to see how it grows.
    const int nLoads = pdatabase->size.nUsers <= g_nDefaultUsers ? 3 : 1;
    benchmark::RegisterBenchmark(("initialize/" + strPrefix + "/modeSimple").c_str(), initializeBench, pdatabase,
                                 OstrelData::Factory::modeSimple)
        ->UseManualTime()
        ->Iterations(nLoads)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("initialize/" + strPrefix + "/modeAdmin").c_str(), initializeBench, pdatabase,
                                 OstrelData::Factory::modeAdmin)
        ->UseManualTime()
        ->Iterations(nLoads)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("authorize/" + strPrefix + "/median_per_user").c_str(), authorizeBench, pdatabase)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("heldUsers/" + strPrefix).c_str(), heldUsersBench, pdatabase)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("adminUserList/" + strPrefix).c_str(), userListBench, pdatabase)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("daemon/" + strPrefix + "/start").c_str(), daemonBench, pdatabase)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
}

// The sizes of OSTREL_BENCH_USERS ("10000,100000"); empty when it is malformed.
std::vector<int> benchSizes()
{
    const char* pszSizes = std::getenv("OSTREL_BENCH_USERS");
    if (pszSizes == nullptr || *pszSizes == '\0')
        return {g_nDefaultUsers};
    std::vector<int> sizeS;
    std::istringstream wordS(pszSizes);
    for (std::string strWord; std::getline(wordS, strWord, ',');) {
        if (strWord.empty() || strWord.size() > 8 || strWord.find_first_not_of("0123456789") != std::string::npos)
            return {};
        const int nUsers = std::stoi(strWord);
        if (nUsers < 1 || nUsers > 10000000)
            return {};
        sizeS.push_back(nUsers);
    }
    return sizeS;
}

void printTable()
{
    std::printf("\n%-10s %-10s %9s %8s %8s %7s %13s %13s %11s %11s %13s %9s %9s %9s %8s %9s %9s\n", "users", "engine",
                "rows", "gen_s", "db_MiB", "teams", "simple_s/MiB", "admin_s/MiB", "auth_med_us", "auth_p99_us",
                "userlist_s/MiB", "d_start_s", "d_MiB", "d_10k_MiB", "KiB/team", "heap/team", "KiB/user");
    for (const auto& entrySize : g_figureS) {
        for (const auto& entry : entrySize.second) {
            const Figures& f = entry.second;
            if (f.nRows == 0)
                continue;  // filtered out
            // All the daemon holds at start counted against its teams (an upper bound: the catalogue,
            // the domains and the process itself are in it too), and what the teams alone hold on the
            // heap once loaded; modeAdmin's memory beyond modeSimple's, which loads all but the
            // users, against its users.
            const double dPerTeam = f.nTeams ? f.dDaemonStartMiB * 1024.0 / f.nTeams : 0;
            const double dPerUser = (f.dAdminMiB - f.dSimpleMiB) * 1024.0 / entrySize.first;
            std::printf("%-10d %-10s %9ld %8.1f %8.1f %7d %6.2f/%-6.0f %6.2f/%-6.0f %11.1f %11.1f %6.2f/%-6.0f %9.2f %9.0f "
                        "%9.0f %8.2f %9.2f %9.2f\n",
                        entrySize.first, entry.first.c_str(), f.nRows, f.dGenerateSeconds, f.dDatabaseMiB, f.nTeams,
                        f.dSimpleSeconds, f.dSimpleMiB, f.dAdminSeconds, f.dAdminMiB, f.dAuthorizeMedianMicros,
                        f.dAuthorizeP99Micros, f.dUserListSeconds, f.dUserListMiB, f.dDaemonStartSeconds,
                        f.dDaemonStartMiB, f.dDaemonLoggedInMiB, dPerTeam, f.dTeamKiB, dPerUser);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    const std::vector<int> sizeS = benchSizes();
    if (sizeS.empty()) {
        std::fprintf(stderr, "bench_datadb: OSTREL_BENCH_USERS takes user counts from 1 to 10000000, comma-separated\n");
        return 2;
    }
    // A catalogue of a fixed size instead of one that grows with the users: tells what of a cost's
    // growth is the catalogue's.
    int nProducts = 0;
    if (const char* pszProducts = std::getenv("OSTREL_BENCH_PRODUCTS")) {
        const std::string strProducts = pszProducts;
        const bool bNumber = !strProducts.empty() && strProducts.size() <= 6 &&
                             strProducts.find_first_not_of("0123456789") == std::string::npos;
        if (!bNumber || (nProducts = std::stoi(strProducts)) < OstrelGen::Size().nProductsPerTeam) {
            std::fprintf(stderr, "bench_datadb: OSTREL_BENCH_PRODUCTS takes a product count from %d to 999999\n",
                         OstrelGen::Size().nProductsPerTeam);
            return 2;
        }
    }
    char szDir[] = "/tmp/ostrel-datadb-bench-XXXXXX";
    if (mkdtemp(szDir) == nullptr) {
        std::fprintf(stderr, "bench_datadb: no temporary folder\n");
        return 1;
    }
    g_strDir = szDir;
    const std::string strPgConnFile = argc > 1 ? argv[1] : "";
    if (strPgConnFile.empty())
        std::fprintf(stderr, "bench_datadb: no PostgreSQL connect-string file given; PostgreSQL is skipped\n");
    // One hash at the lowest cost serves every user: hashing each would take longer than the fill.
    g_strPasswordHash = AuthSql::hashPassword(g_pszPassword, AuthSql::PasswordCost::lowest());

    // The benchmarks run in the order they are registered: size by size, engine by engine, each
    // database made by its first benchmark and removed when the next one is made.
    std::vector<std::unique_ptr<Database>> databaseS;
    for (const int nUsers : sizeS) {
        std::vector<Engine> engineS;
        engineS.push_back(sqliteEngine(false));
        // The journal mode changes what a read locks, not how the costs grow: at the default size only.
        if (nUsers == g_nDefaultUsers)
            engineS.push_back(sqliteEngine(true));
        Engine engine;
        if (!strPgConnFile.empty() && postgresqlEngine(strPgConnFile, engine))
            engineS.push_back(engine);
        for (const Engine& one : engineS) {
            OstrelGen::Size size = OstrelGen::scaledTo(nUsers);
            if (nProducts > 0)
                size.nProducts = nProducts;
            databaseS.push_back(std::make_unique<Database>(Database{one, size,
                                                                    &g_figureS[nUsers][one.strName], one.strConnect,
                                                                    connectFileOf(one), false}));
            registerDatabase(databaseS.back().get());
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    if (g_pcurrent != nullptr)
        g_pcurrent->engine.cleanup();
    benchmark::Shutdown();
    printTable();
    std::error_code ignored;
    std::filesystem::remove_all(g_strDir, ignored);
    return 0;
}
