// The database-backed factory on a generated organisation of the generator's default size (10,000
// users in 100 domains of 20 customers, 1,000 teams, 3 teams per user, 50 products of 20 roles and
// 20 permissions, grants at every level): initialize in modeSimple and modeAdmin (time and the
// process's peak resident memory), and authorize for every user (median and 99th percentile).
// SQLite always (in its default rollback-journal mode and in write-ahead-log mode); PostgreSQL when a
// connect-string file is given. The statement echo is off.
//
//   bench_datadb [benchmark flags] [PG_CONN_FILE]
//
// PG_CONN_FILE holds a server connect string such as tests/harness/dbservers.sh writes (DIR/pg.conn).
// Every measurement runs in a process of its own, forked from this lean one, so that peak memory is
// that of one load and nothing of an earlier run stays in the registries.

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Corvel/EventLogger.h"
#include "OstrelDataDB/OstrelDataDB.h"
#include "VeskDal/VeskDal.h"
#include "gen/Generator.h"

namespace {

const char* const g_pszBenchSchema = "ostrel_datadb_bench";

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
};

long peakKiB()
{
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
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

// ---- the databases

struct Engine {
    std::string strName;  // the benchmark's name for it
    std::string strEngine;
    std::string strConnect;
    std::function<void()> cleanup;
    // Run on the database once it is filled.
    std::string strAfterFill;
};

std::unique_ptr<VeskDal::DalDatabase> openDatabase(const std::string& strConnect)
{
    VeskDal::DalDatabase::ConnectionParameterMap parameterS;
    VeskDal::DalDatabase::connectStringToMap(parameterS, strConnect, VeskDal::DalDatabase::csClearMap);
    std::unique_ptr<VeskDal::DalDatabase> pdatabase(VeskDal::DalDynamic::dalDatabase(parameterS.at("engine")));
    pdatabase->open(parameterS);
    return pdatabase;
}

// Schema and organisation, written by a child so that this process stays small.
bool generate(const Engine& engine)
{
    const Report report = inChild([&engine](Report&) {
        std::unique_ptr<VeskDal::DalDatabase> pdatabase = openDatabase(engine.strConnect);
        if (engine.strEngine == "sqlite")
            pdatabase->executeScript("PRAGMA synchronous = OFF");
        OstrelGen::loadSchema(*pdatabase, std::string(OSTREL_SQL_DIR) + "/" + engine.strEngine + ".sql");
        OstrelGen::fill(*pdatabase, OstrelGen::Size(), "none");
        if (!engine.strAfterFill.empty())
            pdatabase->executeScript(engine.strAfterFill);
    });
    if (!report.bOk)
        std::fprintf(stderr, "bench_datadb: cannot generate the %s database: %s\n", engine.strName.c_str(),
                     report.szError);
    return report.bOk;
}

// A file of its own; with bWal in write-ahead-log mode (a setting kept in the file), where a read
// takes no file lock: the mode a server with many handles on one file would use.
Engine sqliteEngine(bool bWal)
{
    const std::string strFile =
        "/tmp/ostrel-datadb-bench-" + std::to_string(getpid()) + (bWal ? "-wal" : "") + ".db";
    std::remove(strFile.c_str());
    return Engine{bWal ? "sqlite-wal" : "sqlite", "sqlite", "engine=sqlite;database=ostrel;file=" + strFile,
                  [strFile]() {
                      for (const char* pszSuffix : {"", "-journal", "-wal", "-shm"})
                          std::remove((strFile + pszSuffix).c_str());
                  },
                  bWal ? "PRAGMA journal_mode = WAL" : ""};
}

// A schema of its own on the server, first on the search path of every handle.
bool postgresqlEngine(const std::string& strConnFile, Engine& engine)
{
    std::ifstream in(strConnFile);
    std::string strServer;
    if (!in || !std::getline(in, strServer) || strServer.empty()) {
        std::fprintf(stderr, "bench_datadb: no connect string in %s\n", strConnFile.c_str());
        return false;
    }
    try {
        openDatabase(strServer)->executeScript(std::string("DROP SCHEMA IF EXISTS ") + g_pszBenchSchema +
                                               " CASCADE; CREATE SCHEMA " + g_pszBenchSchema);
    } catch (const VeskDal::DalDatabaseException& e) {
        std::fprintf(stderr, "bench_datadb: %s\n", e.nativeExplanation().c_str());
        return false;
    }
    VeskDal::DalDatabase::ConnectionParameterMap parameterS;
    VeskDal::DalDatabase::connectStringToMap(parameterS, strServer, VeskDal::DalDatabase::csClearMap);
    parameterS["options"] = std::string("-c search_path=") + g_pszBenchSchema;
    engine = Engine{"postgresql", "postgresql", VeskDal::DalDatabase::mapToConnectString(parameterS),
                    [strServer]() {
                        try {
                            openDatabase(strServer)->executeScript(std::string("DROP SCHEMA IF EXISTS ") +
                                                                   g_pszBenchSchema + " CASCADE");
                        } catch (const VeskDal::DalDatabaseException&) {
                        }
                    },
                    ""};
    return true;
}

// ---- the measurements

void initializeBench(benchmark::State& state, const std::string& strConnect, OstrelData::Factory::Mode mode)
{
    long nPeakKiB = 0;
    double dCpuSeconds = 0;
    for (auto _ : state) {
        const Report report = inChild([&strConnect, mode](Report& r) {
            OstrelDal::setStatementEcho(OstrelDal::echoOff);
            const auto t0 = std::chrono::steady_clock::now();
            const double dCpu0 = threadCpuSeconds();
            OstrelDataDB::Factory::initialize(strConnect, mode);
            r.dCpuSeconds = threadCpuSeconds() - dCpu0;
            r.dSeconds = secondsSince(t0);
            r.nPeakKiB = peakKiB();
        });
        if (!report.bOk) {
            state.SkipWithError(report.szError);
            break;
        }
        state.SetIterationTime(report.dSeconds);
        nPeakKiB = std::max(nPeakKiB, report.nPeakKiB);
        dCpuSeconds += report.dCpuSeconds;
    }
    state.counters["peak_rss_MiB"] = static_cast<double>(nPeakKiB) / 1024.0;
    state.counters["cpu_ms"] = state.iterations() ? dCpuSeconds * 1e3 / static_cast<double>(state.iterations()) : 0;
}

void authorizeBench(benchmark::State& state, const std::string& strConnect)
{
    for (auto _ : state) {
        const Report report = inChild([&strConnect](Report& r) {
            OstrelDal::setStatementEcho(OstrelDal::echoOff);
            OstrelDataDB::Factory::initialize(strConnect, OstrelData::Factory::modeAdmin);
            std::vector<const OstrelData::User*> userS;
            for (const auto& entryDomain : OstrelData::Factory::domains()) {
                for (const auto& entryUser : entryDomain.second.users())
                    userS.push_back(&entryUser.second);
            }
            std::vector<double> microS;
            std::vector<double> cpuMicroS;
            microS.reserve(userS.size());
            cpuMicroS.reserve(userS.size());
            std::size_t nProducts = 0;
            for (const OstrelData::User* puser : userS) {
                // A copy, as an authentication hands a fresh user to authorize.
                OstrelData::User user(*puser);
                const auto t0 = std::chrono::steady_clock::now();
                const double dCpu0 = threadCpuSeconds();
                OstrelDataDB::Factory::authorize(user);
                cpuMicroS.push_back((threadCpuSeconds() - dCpu0) * 1e6);
                microS.push_back(secondsSince(t0) * 1e6);
                nProducts += static_cast<const OstrelData::User&>(user).products().size();
            }
            if (microS.empty())
                throw std::runtime_error("no users loaded");
            r.nUsers = static_cast<int>(microS.size());
            r.dMedianMicros = percentile(microS, 50);
            r.dP99Micros = percentile(microS, 99);
            r.dCpuMedianMicros = percentile(cpuMicroS, 50);
            r.dCpuP99Micros = percentile(cpuMicroS, 99);
            r.dSeconds = r.dMedianMicros / 1e6;
            r.dProductsPerUser = static_cast<double>(nProducts) / static_cast<double>(microS.size());
        });
        if (!report.bOk) {
            state.SkipWithError(report.szError);
            break;
        }
        state.SetIterationTime(report.dSeconds);
        state.counters["median_us"] = report.dMedianMicros;
        state.counters["p99_us"] = report.dP99Micros;
        state.counters["cpu_median_us"] = report.dCpuMedianMicros;
        state.counters["cpu_p99_us"] = report.dCpuP99Micros;
        state.counters["users"] = report.nUsers;
        state.counters["products_per_user"] = report.dProductsPerUser;
    }
}

void registerEngine(const Engine& engine)
{
    benchmark::RegisterBenchmark(("initialize/" + engine.strName + "/modeSimple").c_str(), initializeBench,
                                 engine.strConnect, OstrelData::Factory::modeSimple)
        ->UseManualTime()
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("initialize/" + engine.strName + "/modeAdmin").c_str(), initializeBench,
                                 engine.strConnect, OstrelData::Factory::modeAdmin)
        ->UseManualTime()
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("authorize/" + engine.strName + "/median_per_user").c_str(), authorizeBench,
                                 engine.strConnect)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMicrosecond);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    std::vector<Engine> engineS;
    engineS.push_back(sqliteEngine(false));
    engineS.push_back(sqliteEngine(true));
    if (argc > 1) {
        Engine engine;
        if (postgresqlEngine(argv[1], engine))
            engineS.push_back(engine);
    } else {
        std::fprintf(stderr, "bench_datadb: no PostgreSQL connect-string file given; PostgreSQL is skipped\n");
    }
    for (const Engine& engine : engineS) {
        if (generate(engine))
            registerEngine(engine);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const Engine& engine : engineS)
        engine.cleanup();
    return 0;
}
