// Several ostreld on one PostgreSQL database. Side by side in one run, on the same database: one
// daemon with 16 client processes, and two daemons with 8 each (client c on daemon c mod n), for
//   login     a login with a permission check on the user it got back, again and again;
//   keep      a login, then persistsession of it (kept sessions in the database, the default);
//   retrieve  retrievesession, again and again, of a session kept before the clock started, on the
//             other daemon when there are two (the grants are found again at each retrieval).
// Reported per run: operations per second, median and 99th percentile (ms), the daemons' CPU per
// operation; at the end the two daemons' figures over the one daemon's, and what keep and retrieve
// cost beside a login (keep's CPU is that of a login and its keep less a login's).
//
// Then, when the server has pg_stat_statements loaded (see README), what each operation costs the
// database, counted by the database itself: statements (each BEGIN and COMMIT counts) and rows
// written (by the statements and by the triggers they fire), per operation, for a login, failed
// logins, keep, retrieve, kill, a grant added with ostrel-admin while two daemons run (the change
// counter's bump, and each daemon's reload on the notification), one daemon's reload, and one
// round of the periodic clean-up of kept sessions.
//
// The organisation is bench_load's (2,000 users in 20 domains) in a schema of its own, every user
// with the same password at the lowest Argon2id cost, so that the figures are the framework's and
// the database's; the daemons log warnings only and run with --cleanup-interval 3600, so that no
// clean-up round falls into a run.
//
//   bench_cluster [benchmark flags] [PG_CONN_FILE]
//
// PG_CONN_FILE holds a server connect string such as tests/harness/dbservers.sh writes (DIR/pg.conn);
// without it there is nothing to run.

#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "LoadKit.h"
#include "VeskDal/VeskDal.h"
#include "gen/Generator.h"

namespace {

using namespace OstrelBench;
using Clock = std::chrono::steady_clock;

constexpr const char* pszPassword = "bench-pw";
constexpr int nSecondsPerRun = 4;
const char* const pszSchema = "ostrel_cluster_bench";

std::string g_strServer;  // the connect string of PG_CONN_FILE

// A libpq connection to the server, for what the data-access layer does not offer: the schema of
// the bench, and the server's statement statistics.
class Server {
public:
    explicit Server(const std::string& strConnect)
    {
        VeskDal::DalDatabase::ConnectionParameterMap parameterS;
        VeskDal::DalDatabase::connectStringToMap(parameterS, strConnect, VeskDal::DalDatabase::csClearMap);
        std::string strConninfo;
        for (const auto& entry : parameterS) {
            if (entry.first == "engine") continue;
            std::string strValue;
            for (char ch : entry.second)
                strValue += ch == '\'' || ch == '\\' ? std::string("\\") + ch : std::string(1, ch);
            strConninfo += (entry.first == "database" ? "dbname" : entry.first) + "='" + strValue + "' ";
        }
        _pconn = PQconnectdb(strConninfo.c_str());
        if (PQstatus(_pconn) != CONNECTION_OK) {
            const std::string strWhy = PQerrorMessage(_pconn);
            PQfinish(_pconn);
            throw std::runtime_error("cannot connect to PostgreSQL: " + strWhy);
        }
        // DROP SCHEMA ... CASCADE names every table it drops.
        PQsetNoticeProcessor(_pconn, [](void*, const char*) {}, nullptr);
    }
    ~Server() { PQfinish(_pconn); }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // The first row's values of the statement's result; throws with the server's words.
    std::vector<std::string> run(const std::string& strSql)
    {
        PGresult* presult = PQexec(_pconn, strSql.c_str());
        const ExecStatusType status = PQresultStatus(presult);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            const std::string strWhy = PQresultErrorMessage(presult);
            PQclear(presult);
            throw std::runtime_error(strWhy);
        }
        std::vector<std::string> valueS;
        for (int i = 0; PQntuples(presult) > 0 && i < PQnfields(presult); ++i)
            valueS.push_back(PQgetvalue(presult, 0, i));
        PQclear(presult);
        return valueS;
    }

private:
    PGconn* _pconn = nullptr;
};

// The generated organisation in a schema of its own, and the daemons on it.
class Cluster {
public:
    Cluster()
    {
        char szDir[] = "/tmp/ostrel-cluster-XXXXXX";
        if (mkdtemp(szDir) == nullptr) throw std::runtime_error("no temporary folder");
        _strDir = szDir;
        Server(g_strServer).run(std::string("DROP SCHEMA IF EXISTS ") + pszSchema + " CASCADE; CREATE SCHEMA " +
                                pszSchema);
        VeskDal::DalDatabase::ConnectionParameterMap parameterS;
        VeskDal::DalDatabase::connectStringToMap(parameterS, g_strServer, VeskDal::DalDatabase::csClearMap);
        parameterS["options"] = std::string("-c search_path=") + pszSchema;
        _strConnect = VeskDal::DalDatabase::mapToConnectString(parameterS);
        // The connect string holds the server's password: it goes to the programs in a file only we
        // may read, never on a command line.
        {
            std::ofstream(connectFile()) << _strConnect << "\n";
        }
        chmod(connectFile().c_str(), 0600);
        {
            std::unique_ptr<VeskDal::DalDatabase> pdb(VeskDal::DalDynamic::dalDatabase("postgresql"));
            pdb->open(parameterS);
            OstrelGen::loadSchema(*pdb, std::string(OSTREL_SQL_DIR) + "/postgresql.sql");
            OstrelGen::fill(*pdb, loadSize(), OSTREL_BENCH_PLUGIN);
        }
        admin({"init", "--plugin", OSTREL_BENCH_PLUGIN, "--sql-dir", OSTREL_SQL_DIR});
        // 8 KiB and one pass: libsodium's lowest, so the figures are the framework's.
        admin({"param", "set", "library", "1", "argon2_opslimit", "1"});
        admin({"param", "set", "library", "1", "argon2_memlimit_kib", "8"});
        const std::string strFirst = OstrelGen::domainName(0) + "/" + OstrelGen::userId(0);
        run({OSTREL_BENCH_ADMIN, "--connect-file", connectFile(), "user", "change", strFirst, "--password-stdin"},
            _strDir + "/admin.log", std::string(pszPassword) + "\n");
        shareFirstUsersHash(_strConnect, OstrelGen::userId(0));
    }
    ~Cluster()
    {
        stop();
        try {
            Server(g_strServer).run(std::string("DROP SCHEMA IF EXISTS ") + pszSchema + " CASCADE");
        } catch (const std::runtime_error&) {
        }
        std::error_code ignored;
        std::filesystem::remove_all(_strDir, ignored);
    }

    std::string connectFile() const { return _strDir + "/connect"; }

    // nDaemons daemons on the database (those running first stopped), each with the options given
    // besides the common ones; returns their plain addresses.
    const std::vector<std::string>& start(int nDaemons, const std::vector<std::string>& optionS)
    {
        if (nDaemons == static_cast<int>(_pidS.size()) && optionS == _optionS) return _addressS;
        stop();
        for (int i = 0; i < nDaemons; ++i) {
            const std::string strName = _strDir + "/daemon" + std::to_string(i);
            std::vector<std::string> argS{OSTREL_BENCH_DAEMON, "--connect-file", connectFile(), "--listen",
                                          "127.0.0.1:0", "--address-file", strName + ".address", "--log-level",
                                          "warning"};
            argS.insert(argS.end(), optionS.begin(), optionS.end());
            std::vector<std::string> addressS;
            _pidS.push_back(startDaemon(argS, strName + ".log", strName + ".address", addressS));
            _addressS.push_back(addressS.front());
        }
        _optionS = optionS;
        return _addressS;
    }
    void stop()
    {
        for (pid_t pid : _pidS)
            stopDaemon(pid);
        _pidS.clear();
        _addressS.clear();
        _optionS.clear();
    }

    // CPU seconds all daemons have used so far.
    double daemonCpuSeconds() const
    {
        double d = 0;
        for (pid_t pid : _pidS)
            d += processCpuSeconds(pid);
        return d;
    }
    // Asks daemon i to reload its model.
    void hangUp(size_t i) const { kill(_pidS.at(i), SIGHUP); }

    void admin(const std::vector<std::string>& wordS)
    {
        std::vector<std::string> argS{OSTREL_BENCH_ADMIN, "--connect-file", connectFile()};
        argS.insert(argS.end(), wordS.begin(), wordS.end());
        run(argS, _strDir + "/admin.log");
    }

private:
    std::string _strDir;
    std::string _strConnect;
    std::vector<pid_t> _pidS;
    std::vector<std::string> _addressS;
    std::vector<std::string> _optionS;
};

Cluster& cluster()
{
    static Cluster s_cluster;
    return s_cluster;
}

// The daemons of the timed runs: no clean-up round within a run (see the head of the file).
const std::vector<std::string> s_timedOptionS{"--cleanup-interval", "3600"};

double ms(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

OstrelData::User userNumber(int nUser)
{
    return OstrelData::User(domainOf(nUser), OstrelGen::userId(nUser), "", "", "");
}

enum class Work { login, keep, retrieve };

// One run: the work, the number of daemons and of clients on each.
struct RunSpec {
    const char* pszName;
    Work work;
    int nDaemons;
    int nClientsPerDaemon;
};

const RunSpec s_runS[] = {
    {"login/1x16", Work::login, 1, 16},       {"login/2x8", Work::login, 2, 8},
    {"keep/1x16", Work::keep, 1, 16},         {"keep/2x8", Work::keep, 2, 8},
    {"retrieve/1x16", Work::retrieve, 1, 16}, {"retrieve/2x8", Work::retrieve, 2, 8},
};

// What the comparison at the end needs of a run.
struct RunResult {
    double dPerSecond = 0;   // operations (the loop's rounds) per second
    double dP50Ms = 0;       // of the operation measured: the login, the keep, the retrieve
    double dP99Ms = 0;
    double dDaemonCpuMs = 0; // per round, all daemons together
};
std::map<std::string, RunResult> g_resultS;

// The body of client c: the kinds timed are 0 the login or the retrieve, 1 the keep.
void clientBody(int c, const RunSpec& spec, const std::vector<std::string>& addressS,
                const std::function<void()>& ready, ClientOutcome& outcome, std::vector<std::vector<double>>& latencyS)
{
    const int nClients = spec.nDaemons * spec.nClientsPerDaemon;
    LoadClient client(addressS[static_cast<size_t>(c % spec.nDaemons)], pszPassword);
    client.connect();
    client.fetchKey();
    OstrelData::Session kept;
    if (spec.work == Work::retrieve) {
        // Kept on one daemon, retrieved on the other when there are two.
        OstrelData::AuthenticatedUser authenticated;
        if (!client.loginAndCheck(userNumber(c), &authenticated) || !client.persist(authenticated))
            throw std::runtime_error("cannot keep the session to retrieve");
        kept = OstrelData::Session(authenticated.session().str());
        client.disconnect();
        LoadClient other(addressS[static_cast<size_t>((c + 1) % spec.nDaemons)], pszPassword);
        other.connect();
        ready();
        const Clock::time_point tEnd = Clock::now() + std::chrono::seconds(nSecondsPerRun);
        while (Clock::now() < tEnd) {
            const Clock::time_point t0 = Clock::now();
            if (!other.retrieve(kept)) ++outcome.nRefused;
            latencyS[0].push_back(ms(t0));
        }
        return;
    }
    ready();
    const Clock::time_point tEnd = Clock::now() + std::chrono::seconds(nSecondsPerRun);
    for (int nUser = c; Clock::now() < tEnd; nUser = (nUser + nClients) % loadSize().nUsers) {
        OstrelData::AuthenticatedUser authenticated;
        Clock::time_point t0 = Clock::now();
        if (!client.loginAndCheck(userNumber(nUser), &authenticated)) {
            ++outcome.nRefused;
            continue;
        }
        latencyS[0].push_back(ms(t0));
        if (spec.work != Work::keep) continue;
        t0 = Clock::now();
        if (!client.persist(authenticated)) throw std::runtime_error("persistsession refused: " + client.lastReply());
        latencyS[1].push_back(ms(t0));
    }
}

void clusterLoad(benchmark::State& state, const RunSpec& spec)
{
    std::vector<std::string> addressS;
    try {
        addressS = cluster().start(spec.nDaemons, s_timedOptionS);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    for (auto _ : state) {
        double dCpuStart = 0;
        const ClientsResult clients = runClients(
            spec.nDaemons * spec.nClientsPerDaemon, 2,
            [&](int c, const std::function<void()>& ready, ClientOutcome& outcome,
                std::vector<std::vector<double>>& latencyS) { clientBody(c, spec, addressS, ready, outcome, latencyS); },
            [&] { dCpuStart = cluster().daemonCpuSeconds(); });
        const double dCpu = cluster().daemonCpuSeconds() - dCpuStart;
        state.SetIterationTime(clients.dSeconds);
        std::vector<double> firstS, keepS;
        int nRefused = 0;
        for (size_t i = 0; i < clients.outcomeS.size() && !clients.bFailed; ++i) {
            nRefused += clients.outcomeS[i].nRefused;
            firstS.insert(firstS.end(), clients.latencyS[i][0].begin(), clients.latencyS[i][0].end());
            keepS.insert(keepS.end(), clients.latencyS[i][1].begin(), clients.latencyS[i][1].end());
        }
        if (clients.bFailed || nRefused > 0 || firstS.empty()) {
            state.SkipWithError(clients.bFailed ? "a client lost its connection" : "requests were refused");
            return;
        }
        std::sort(firstS.begin(), firstS.end());
        std::sort(keepS.begin(), keepS.end());
        const std::vector<double>& measuredS = spec.work == Work::keep ? keepS : firstS;
        const double dRounds = static_cast<double>(firstS.size());
        RunResult& result = g_resultS[spec.pszName];
        result.dPerSecond = dRounds / clients.dSeconds;
        result.dP50Ms = percentile(measuredS, 50);
        result.dP99Ms = percentile(measuredS, 99);
        result.dDaemonCpuMs = 1000 * dCpu / dRounds;
        state.counters["per_s"] = result.dPerSecond;
        state.counters["p50_ms"] = result.dP50Ms;
        state.counters["p99_ms"] = result.dP99Ms;
        state.counters["daemon_cpu_ms"] = result.dDaemonCpuMs;
        if (spec.work == Work::keep) {
            state.counters["login_p50_ms"] = percentile(firstS, 50);
            state.counters["login_p99_ms"] = percentile(firstS, 99);
        }
    }
}

// ---- what each operation costs the database

// Statements and rows written so far in this database, by every client, as pg_stat_statements
// counts them.
struct DatabaseCount {
    double dStatements = 0;   // sent by a client (BEGIN and COMMIT included)
    double dWrites = 0;       // of those, INSERT, UPDATE and DELETE
    double dRowsWritten = 0;  // by those and by the statements of the triggers they fired
};

DatabaseCount databaseCount(Server& server)
{
    const std::vector<std::string> valueS = server.run(
        "SELECT coalesce(sum(calls) FILTER (WHERE toplevel), 0),"
        " coalesce(sum(calls) FILTER (WHERE toplevel AND query ~* '^\\s*(insert|update|delete)'), 0),"
        " coalesce(sum(rows) FILTER (WHERE query ~* '^\\s*(insert|update|delete)'), 0)"
        " FROM pg_stat_statements WHERE dbid = (SELECT oid FROM pg_database WHERE datname = current_database())"
        " AND query NOT LIKE '%pg_stat_statements%'");
    DatabaseCount count;
    count.dStatements = std::stod(valueS.at(0));
    count.dWrites = std::stod(valueS.at(1));
    count.dRowsWritten = std::stod(valueS.at(2));
    return count;
}

// The counts once they have stood still for a while: the work that follows a request on its own
// (a daemon's reload on a notification) is done.
DatabaseCount settledCount(Server& server)
{
    DatabaseCount last = databaseCount(server);
    for (int nStill = 0; nStill < 6;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const DatabaseCount now = databaseCount(server);
        nStill = now.dStatements == last.dStatements ? nStill + 1 : 0;
        last = now;
    }
    return last;
}

struct CostRow {
    std::string strWhat;
    double dStatements;
    double dWrites;
    double dRowsWritten;
};
std::vector<CostRow> g_costS;

// Counts around each of nTimes runs of operation (after prepare, which is not counted) and adds
// their mean to the table; with bSettle each count waits until the database is quiet.
void measure(Server& server, const std::string& strWhat, int nTimes, const std::function<void(int)>& prepare,
             const std::function<void(int)>& operation, bool bSettle = false)
{
    DatabaseCount sum;
    for (int i = 0; i < nTimes; ++i) {
        if (prepare) prepare(i);
        const DatabaseCount before = bSettle ? settledCount(server) : databaseCount(server);
        operation(i);
        const DatabaseCount after = bSettle ? settledCount(server) : databaseCount(server);
        sum.dStatements += after.dStatements - before.dStatements;
        sum.dWrites += after.dWrites - before.dWrites;
        sum.dRowsWritten += after.dRowsWritten - before.dRowsWritten;
    }
    g_costS.push_back(CostRow{strWhat, sum.dStatements / nTimes, sum.dWrites / nTimes, sum.dRowsWritten / nTimes});
}

void require(bool bDone, const char* pszWhat)
{
    if (!bDone) throw std::runtime_error(std::string(pszWhat) + " refused");
}

void databaseCost(benchmark::State& state)
{
    for (auto _ : state) {
        std::unique_ptr<Server> pserver;
        try {
            pserver = std::make_unique<Server>(g_strServer);
            databaseCount(*pserver);
        } catch (const std::exception& e) {
            state.SkipWithError((std::string("pg_stat_statements is not usable on this server (see the README): ") +
                                 e.what()).c_str());
            return;
        }
        Server& server = *pserver;
        const Clock::time_point tStart = Clock::now();
        try {
            // A change is read at once on its notification, and otherwise not within the
            // measurement; a last use is written again after 3 seconds (a tenth of the idle
            // time-out), so that a retrieval that writes it can be measured too; failures delay
            // nothing.
            const std::vector<std::string>& addressS = cluster().start(
                2, {"--reload-interval", "3600", "--cleanup-interval", "3600", "--session-timeout", "30",
                    "--failure-delay", "0"});
            LoadClient a(addressS[0], pszPassword), b(addressS[1], pszPassword);
            a.connect();
            a.fetchKey();
            b.connect();
            b.fetchKey();
            settledCount(server);
            constexpr int nTimes = 20;
            // Users no run has used, one per measurement, so that each is the account's first.
            auto user = [](int nBase, int i) { return userNumber(nBase + i); };
            measure(server, "login (authenticate and its grants), success", nTimes, nullptr,
                    [&](int i) { require(a.loginAndCheck(user(1000, i)), "a login"); });
            measure(server, "login, wrong password of a known user", nTimes, nullptr,
                    [&](int i) { require(!a.loginWith(user(1100, i), "not-the-password"), "a failure"); });
            measure(server, "login, unknown user", nTimes, nullptr, [&](int i) {
                OstrelData::User nobody(domainOf(i), "nobody" + std::to_string(i), "", "", "");
                require(!a.loginWith(nobody, pszPassword), "a failure");
            });
            std::vector<OstrelData::AuthenticatedUser> loginS(nTimes);
            std::vector<OstrelData::Session> keptS;
            measure(
                server, "keep (persistsession) on daemon A", nTimes,
                [&](int i) { require(a.loginAndCheck(user(1200, i), &loginS[static_cast<size_t>(i)]), "a login"); },
                [&](int i) {
                    require(a.persist(loginS[static_cast<size_t>(i)]), "persistsession");
                    keptS.emplace_back(loginS[static_cast<size_t>(i)].session().str());
                });
            measure(server, "retrieve (retrievesession) on daemon B", nTimes, nullptr,
                    [&](int i) { require(b.retrieve(keptS[static_cast<size_t>(i)]), "retrievesession"); });
            std::this_thread::sleep_for(std::chrono::milliseconds(3500));
            measure(server, "retrieve, last use older than the renewal interval", nTimes, nullptr,
                    [&](int i) { require(b.retrieve(keptS[static_cast<size_t>(i)]), "retrievesession"); });
            // One's own session may be killed without administrative rights: B takes it first.
            measure(
                server, "kill (killsession) on daemon B", nTimes,
                [&](int i) { require(b.retrieve(keptS[static_cast<size_t>(i)]), "retrievesession"); },
                [&](int i) { require(b.kill(keptS[static_cast<size_t>(i)]), "killsession"); });
            constexpr int nChanges = 3;
            measure(
                server, "grant add (ostrel-admin), both daemons reloading", nChanges, nullptr,
                [&](int i) {
                    cluster().admin({"grant", "add", "user",
                                     OstrelGen::domainName((1300 + i) % loadSize().nDomains) + "/" +
                                         OstrelGen::userId(1300 + i),
                                     "1", "permission", "1"});
                },
                true);
            measure(server, "one daemon's reload (SIGHUP)", nChanges, nullptr,
                    [&](int) { cluster().hangUp(0); }, true);
            cluster().stop();
            measure(
                server, "grant add (ostrel-admin), no daemon running", nChanges, nullptr,
                [&](int i) {
                    cluster().admin({"grant", "add", "user",
                                     OstrelGen::domainName((1310 + i) % loadSize().nDomains) + "/" +
                                         OstrelGen::userId(1310 + i),
                                     "1", "permission", "1"});
                },
                true);

            // A clean-up round with what the timed runs kept (at the default idle time-out, so
            // that they are not removed but checked).
            const std::string strKept =
                server.run(std::string("SELECT count(*) FROM ") + pszSchema + ".\"KeptSession\"").at(0);
            const Clock::time_point tDaemon = Clock::now();
            cluster().start(1, {"--reload-interval", "3600", "--cleanup-interval", "6"});
            measure(server, "clean-up round of one daemon, " + strKept + " kept sessions", 1, nullptr, [&](int) {
                std::this_thread::sleep_until(tDaemon + std::chrono::milliseconds(9000));
            }, true);
            cluster().stop();
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - tStart).count());
    }
}

// ---- the comparison

void printComparison()
{
    auto find = [](const std::string& strName) -> const RunResult* {
        auto it = g_resultS.find(strName);
        return it == g_resultS.end() ? nullptr : &it->second;
    };
    std::printf("\nTwo daemons x 8 clients / one daemon x 16 clients, on one PostgreSQL database:\n");
    for (const char* pszWork : {"login", "keep", "retrieve"}) {
        const RunResult* ptwo = find(std::string(pszWork) + "/2x8");
        const RunResult* pone = find(std::string(pszWork) + "/1x16");
        if (ptwo == nullptr || pone == nullptr) continue;
        std::printf("  %-8s %8.1f / %8.1f per s = %.2f;  p50 %.2f / %.2f ms, p99 %.2f / %.2f ms;"
                    "  daemon CPU %.3f / %.3f ms per round\n",
                    pszWork, ptwo->dPerSecond, pone->dPerSecond, ptwo->dPerSecond / pone->dPerSecond, ptwo->dP50Ms,
                    pone->dP50Ms, ptwo->dP99Ms, pone->dP99Ms, ptwo->dDaemonCpuMs, pone->dDaemonCpuMs);
    }
    std::printf("Keep and retrieve beside a login (same daemons and clients):\n");
    for (const char* pszShape : {"1x16", "2x8"}) {
        const RunResult* plogin = find(std::string("login/") + pszShape);
        const RunResult* pkeep = find(std::string("keep/") + pszShape);
        const RunResult* pretrieve = find(std::string("retrieve/") + pszShape);
        if (plogin == nullptr) continue;
        if (pkeep != nullptr)
            std::printf("  %-5s keep / login:     p50 %.2f / %.2f ms = %.2f;  daemon CPU %.3f / %.3f ms = %.2f\n",
                        pszShape, pkeep->dP50Ms, plogin->dP50Ms, pkeep->dP50Ms / plogin->dP50Ms,
                        pkeep->dDaemonCpuMs - plogin->dDaemonCpuMs, plogin->dDaemonCpuMs,
                        (pkeep->dDaemonCpuMs - plogin->dDaemonCpuMs) / plogin->dDaemonCpuMs);
        if (pretrieve != nullptr)
            std::printf("  %-5s retrieve / login: p50 %.2f / %.2f ms = %.2f;  daemon CPU %.3f / %.3f ms = %.2f\n",
                        pszShape, pretrieve->dP50Ms, plogin->dP50Ms, pretrieve->dP50Ms / plogin->dP50Ms,
                        pretrieve->dDaemonCpuMs, plogin->dDaemonCpuMs,
                        pretrieve->dDaemonCpuMs / plogin->dDaemonCpuMs);
    }
    if (!g_costS.empty()) {
        std::printf("\nWhat one operation costs the database (mean of its measurements):\n");
        std::printf("  %-58s %10s %8s %12s\n", "operation", "statements", "writes", "rows written");
        for (const CostRow& row : g_costS)
            std::printf("  %-58s %10.1f %8.1f %12.1f\n", row.strWhat.c_str(), row.dStatements, row.dWrites,
                        row.dRowsWritten);
    }
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [benchmark flags] [PG_CONN_FILE]\n", argv[0]);
        return 1;
    }
    if (argc < 2) {
        std::fprintf(stderr, "bench_cluster: no PostgreSQL connect-string file given (PG_CONN_FILE, as "
                             "tests/harness/dbservers.sh start DIR writes to DIR/pg.conn); nothing to run\n");
        return 0;
    }
    std::ifstream in(argv[1]);
    if (!in || !std::getline(in, g_strServer) || g_strServer.empty()) {
        std::fprintf(stderr, "bench_cluster: no connect string in %s\n", argv[1]);
        return 1;
    }
    for (const RunSpec& spec : s_runS)
        benchmark::RegisterBenchmark(spec.pszName, [&spec](benchmark::State& state) { clusterLoad(state, spec); })
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark("databaseCost", databaseCost)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::fflush(stdout);
    printComparison();
    return 0;
}
