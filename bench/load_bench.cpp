// Load on a real ostreld: N client processes at once, each on a connection of its own, each repeating a
// login (authenticate) followed by a permission check on the user it got back, for a few seconds. Reported
// per run: logins per second, and the median and 99th-percentile time of one login with its check,
// at 1, 4 and 16 clients, once with the lowest password cost (the framework: transport, RSA, XML,
// database, grants) and once with the plug-in's default cost (Argon2id at OWASP's minimum).
//
// The database is a generated organisation on SQLite (2,000 users in 20 domains, each in 2 teams of
// 100, 10 products of 5 roles and 8 permissions; see bench/gen), every user with the password
// "bench-pw"; the daemon runs with its defaults (2048-bit key, the smallest it accepts) and logs
// warnings only. Besides the rate and the latencies each run reports the CPU time per login of the
// daemon and of the clients.
//
// The daemon listens on plain TCP and on TLS at once, with a throw-away CA and a P-256 certificate
// made here by the openssl command. At the lowest cost, 1 and 16 clients also run:
//   lowCostMetrics         the same logins with --metrics on, /metrics scraped every second (1 and 16
//                          clients), set beside lowCost at the end;
//   lowCostTls             the same logins over TLS, on one connection per client;
//   plainConnectPerLogin   a new connection for every login (connect, fetch the key, log in), plain;
//   tlsResumedPerLogin     the same over TLS, each connection resuming the client's last session;
//   tlsFullPerLogin        the same over TLS with a full handshake each time, as a new process makes
//                          (the client library also builds a new TLS context each time, as one would).
// quietBesideFlood: one client logging in over IPv6 loopback while 64 connections of another peer
// (IPv4 loopback, client processes at the lowest priority, as if on another machine) flood the
// daemon with logins; its median is set beside the same client alone (lowCost/1): the daemon
// hands login work out in turns per peer.
// A connection per login also reports the mean time of the connect with its handshake (connect_ms).
// At the end each TLS run's rate is set beside plain TCP's, and full handshakes beside resumed ones,
// with the daemon's CPU per login (the best of each with --benchmark_repetitions).
//
// What a login costs the framework: around each run the benchmark times, in-process and on one
// thread, the two costs a login has whatever the framework does: the daemon's RSA token decryption
// (its own KeyPair, a key of the run's size, a token encrypted as clients do) and the plug-in's
// password check at the run's cost. The daemon's CPU per login less those two is the framework's
// share (framing, XML, the account and grant reads, authorisation, the session, the audit line,
// threads and system calls); each run reports rsa_ms, hash_ms, framework_ms and
// framework_per_rsa, and a table at the end sets them side by side with the rate and latencies.
//
//   bench_load [benchmark flags]
//   bench_load --soak[=MINUTES]     the soak run below (30 minutes unless given), nothing else

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "AuthSql/PasswordHash.h"
#include "Corvel/DaemonComm.h"
#include "KeyPair.h"
#include "OstrelData/OstrelData.h"
#include "VeskDal/VeskDal.h"
#include "LoadKit.h"
#include "crypto/base64.h"
#include "gen/Generator.h"

namespace {

using namespace OstrelBench;
using Clock = std::chrono::steady_clock;

constexpr const char* pszPassword = "bench-pw";
constexpr int nSecondsPerRun = 4;

// Where a daemon listens.
struct Endpoints {
    std::string strPlain;
    std::string strPlain6;  // the same over IPv6 loopback: another peer to the daemon
    std::string strTls;
};

// The generated database and the certificates, made once per process, and a daemon on them with one
// password cost.
class Service {
public:
    Service()
    {
        char szDir[] = "/tmp/ostrel-load-XXXXXX";
        if (mkdtemp(szDir) == nullptr) throw std::runtime_error("no temporary folder");
        _strDir = szDir;
        _strConnect = "engine=sqlite;database=ostrel;file=" + _strDir + "/ostrel.db";
        // Connect-string parameters to try without a rebuild, such as "cache_kib=256".
        if (const char* pszExtra = std::getenv("OSTREL_BENCH_SQLITE_ARGS")) _strConnect += std::string(";") + pszExtra;
        VeskDal::DalDatabase::ConnectionParameterMap parameterS;
        VeskDal::DalDatabase::connectStringToMap(parameterS, _strConnect, 0);
        std::unique_ptr<VeskDal::DalDatabase> pdb(VeskDal::DalDynamic::dalDatabase("sqlite"));
        pdb->open(parameterS);
        OstrelGen::loadSchema(*pdb, std::string(OSTREL_SQL_DIR) + "/sqlite.sql");
        OstrelGen::fill(*pdb, loadSize(), OSTREL_BENCH_PLUGIN);
        // Every user gets the same password; one hash at each cost serves them all.
        pdb->close();
        admin({"init", "--plugin", OSTREL_BENCH_PLUGIN, "--sql-dir", OSTREL_SQL_DIR});
        admin({"param", "set", "library", "1", "lockout_threshold", "0"});
        makeCertificates();
    }
    ~Service()
    {
        stopDaemon();
        std::error_code ignored;
        std::filesystem::remove_all(_strDir, ignored);
    }

    // The CA that signed the daemon's certificate (PEM).
    std::string caFile() const { return _strDir + "/ca.pem"; }

    // A daemon whose plug-in hashes at the given cost (empty: the default), with every user's
    // password stored at that cost.
    // With bMetrics, it serves /metrics too (metricsAddress()).
    const Endpoints& daemonAt(const std::string& strCost, int nKeyBits, bool bMetrics)
    {
        if (_pid > 0 && strCost == _strCost && nKeyBits == _nKeyBits && bMetrics == !_strMetrics.empty())
            return _endpoints;
        stopDaemon();
        if (strCost.empty()) {
            removeParam("argon2_opslimit");
            removeParam("argon2_memlimit_kib");
        } else {
            admin({"param", "set", "library", "1", "argon2_opslimit", "1"});
            admin({"param", "set", "library", "1", "argon2_memlimit_kib", strCost});
        }
        setPasswords();
        std::vector<std::string> argS{OSTREL_BENCH_DAEMON, "--connect", _strConnect,
                                      "--listen", "127.0.0.1:0", "--listen", "[::1]:0", "--listen", "tls:127.0.0.1:0",
                                      "--tls-cert", _strDir + "/server.pem", "--tls-key", _strDir + "/server.key",
                                      "--address-file", _strDir + "/address", "--log-level", "warning",
                                      "--key-bits", std::to_string(nKeyBits)};
        _strMetrics = bMetrics ? "127.0.0.1:" + std::to_string(freeLoopbackPort()) : std::string();
        if (bMetrics) argS.insert(argS.end(), {"--metrics", _strMetrics});
        // Daemon options to try without a rebuild, blank-separated.
        if (const char* pszExtra = std::getenv("OSTREL_BENCH_DAEMON_ARGS")) {
            std::istringstream extra(pszExtra);
            for (std::string strArg; extra >> strArg;)
                argS.push_back(strArg);
        }
        std::vector<std::string> addressS;
        _pid = startDaemon(argS, _strDir + "/daemon.log", _strDir + "/address", addressS);
        _endpoints = Endpoints();
        for (const std::string& strLine : addressS)
            (strLine.compare(0, 4, "tls:") == 0 ? _endpoints.strTls
             : strLine[0] == '['                ? _endpoints.strPlain6
                                                : _endpoints.strPlain) = strLine;
        if (_endpoints.strPlain.empty() || _endpoints.strTls.empty())
            throw std::runtime_error("ostreld did not start: " + readFile(_strDir + "/daemon.log"));
        _strCost = strCost;
        _nKeyBits = nKeyBits;
        return _endpoints;
    }

    // Where the daemon serves its metrics; empty when it does not.
    const std::string& metricsAddress() const { return _strMetrics; }

    // CPU seconds the daemon has used so far.
    double daemonCpuSeconds() const { return processCpuSeconds(_pid); }
    pid_t daemonPid() const { return _pid; }

    // Renames team 1 in the database, which the daemon's watcher sees as a change of the model and
    // reloads; n makes each name new.
    void changeModel(int n) { admin({"team", "change", "1", "--name", "Team 1 (" + std::to_string(n) + ")"}); }

private:
    // A CA of its own and a certificate from it for the loopback address, both P-256 (what a
    // deployment would pick), so that the clients check a chain and a name as they would in use.
    void makeCertificates()
    {
        const std::string strLog = _strDir + "/openssl.log";
        // A new P-256 key in strKey and for it a certificate request in strOut, or with -x509 a
        // self-signed certificate.
        auto newKey = [&](const std::string& strSubject, const std::string& strKey, const std::string& strOut,
                          const std::vector<std::string>& moreS) {
            std::vector<std::string> argS{"openssl", "req",    "-newkey", "ec",   "-pkeyopt", "ec_paramgen_curve:P-256",
                                          "-nodes",  "-subj",  strSubject, "-keyout", strKey, "-out", strOut};
            argS.insert(argS.end(), moreS.begin(), moreS.end());
            run(argS, strLog);
        };
        newKey("/CN=ostrel bench CA", _strDir + "/ca.key", caFile(), {"-x509", "-days", "2"});
        newKey("/CN=localhost", _strDir + "/server.key", _strDir + "/server.csr", {});
        std::ofstream(_strDir + "/server.ext") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
        run({"openssl", "x509", "-req", "-in", _strDir + "/server.csr", "-CA", caFile(), "-CAkey", _strDir + "/ca.key",
             "-set_serial", "1", "-days", "2", "-extfile", _strDir + "/server.ext", "-out", _strDir + "/server.pem"},
            strLog);
    }

    void admin(const std::vector<std::string>& wordS)
    {
        std::vector<std::string> argS{OSTREL_BENCH_ADMIN, "--connect", _strConnect};
        argS.insert(argS.end(), wordS.begin(), wordS.end());
        run(argS, _strDir + "/admin.log");
    }
    void removeParam(const std::string& strName)
    {
        try {
            admin({"param", "remove", "library", "1", strName});
        } catch (const std::runtime_error&) {
            // Not set: nothing to remove.
        }
    }
    // One user gets the password through the plug-in at the daemon's cost; every other user gets
    // a copy of that hash.
    void setPasswords()
    {
        const std::string strFirst = OstrelGen::domainName(0) + "/" + OstrelGen::userId(0);
        run({OSTREL_BENCH_ADMIN, "--connect", _strConnect, "user", "change", strFirst, "--password-stdin"},
            _strDir + "/admin.log", std::string(pszPassword) + "\n");
        shareFirstUsersHash(_strConnect, OstrelGen::userId(0));
    }
    void stopDaemon()
    {
        OstrelBench::stopDaemon(_pid);
        _pid = -1;
    }

    std::string _strDir;
    std::string _strConnect;
    Endpoints _endpoints;
    std::string _strCost;
    int _nKeyBits = 0;
    std::string _strMetrics;
    pid_t _pid = -1;
};

Service& service()
{
    static Service s_service;
    return s_service;
}

// How often a client of a run connects.
enum class Connect {
    once,            // one connection for the whole run
    perLogin,        // a new one for every login; over TLS it resumes the client's last session
    perLoginAfresh,  // a new one for every login, over TLS with a full handshake each time
};

// One configuration of the load; each runs at the client counts listed.
struct RunSpec {
    const char* pszName;
    std::string strCost;  // Argon2id memory (KiB) at one pass; empty: the plug-in's default cost
    int nKeyBits;
    bool bTls;
    Connect connect;
    std::vector<int64_t> clientS;
    // Clients of another peer that log in as fast as they can beside the measured ones, which then
    // come over IPv6 loopback: the daemon's turns are per peer.
    int nFlood = 0;
    // The daemon counts for --metrics, and is scraped every second meanwhile (a monitoring system
    // asks every 15 s or so: this is harsher).
    bool bMetrics = false;
};

// The trust of a client's connection n. The client library keeps a TLS context per trust setting,
// and in it the last session to each service, so that every connection would resume the one
// before; for a full handshake each time, connection n names the CA file by a path of its own:
// the same folder, then n in binary as a run of "/." and "/", then the name.
Corvel::DaemonCommTls trustFor(const std::string& strCAFile, Connect connect, unsigned n)
{
    Corvel::DaemonCommTls tls;
    tls.strCAFile = strCAFile;
    std::string strSpelling;
    for (; connect == Connect::perLoginAfresh && n > 0; n >>= 1)
        strSpelling += n & 1 ? "/." : "/";
    tls.strCAFile.insert(strCAFile.rfind('/'), strSpelling);
    return tls;
}

// CPU time of the calling thread, in milliseconds.
double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return 1e3 * static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The CPU time of one call of op: the median of seven batches' means, each batch as many calls as
// fill nBudgetMs / 7 (at least nMinCalls / 7), after a few calls to warm up. Other work on a shared
// machine slows a batch now and then; the median leaves those out.
template <class Op>
double medianCpuMs(Op op, double dBudgetMs, int nMinCalls)
{
    constexpr int nBatches = 7;
    for (int i = 0; i < 3; ++i)
        op();
    std::vector<double> meanS;
    for (int b = 0; b < nBatches; ++b) {
        const double dStart = threadCpuMs();
        int nCalls = 0;
        double dSpent = 0;
        while (nCalls < (nMinCalls + nBatches - 1) / nBatches || dSpent < dBudgetMs / nBatches) {
            op();
            ++nCalls;
            dSpent = threadCpuMs() - dStart;
        }
        meanS.push_back(dSpent / nCalls);
    }
    std::sort(meanS.begin(), meanS.end());
    return meanS[nBatches / 2];
}

// What every login costs the daemon whatever the framework does, timed here on one thread: the
// RSA private operation of its token decryption and one password check.
struct FixedCosts {
    double dRsaMs = 0;
    double dHashMs = 0;
};

FixedCosts fixedCosts(const RunSpec& spec)
{
    // Made once per key size: generating a key takes a while.
    static std::map<int, std::unique_ptr<Ostreld::KeyPair>> s_keyS;
    std::unique_ptr<Ostreld::KeyPair>& pkey = s_keyS[spec.nKeyBits];
    if (!pkey) pkey = std::make_unique<Ostreld::KeyPair>(spec.nKeyBits);
    // The token as a client makes it: the password raised to the public exponent, in Base64.
    unsigned char abyCipher[4096];
    unsigned long nCipher = sizeof abyCipher;
    if (rsa_exptmod(reinterpret_cast<const unsigned char*>(pszPassword), std::strlen(pszPassword), abyCipher,
                    &nCipher, PK_PUBLIC, &pkey->publicKey()) != CRYPT_OK)
        throw std::runtime_error("cannot encrypt a token");
    unsigned char abyText[8192];
    unsigned long nText = sizeof abyText;
    base64_encode(abyCipher, nCipher, abyText, &nText);
    const std::string strToken(reinterpret_cast<const char*>(abyText), nText);

    FixedCosts costs;
    std::string strPlain;
    costs.dRsaMs = medianCpuMs(
        [&] {
            if (!pkey->decrypt(strToken, strPlain) || strPlain != pszPassword)
                throw std::runtime_error("the token does not decrypt");
        },
        200, 100);
    // The daemon's plug-in stores hashes at one pass over strCost KiB (see daemonAt).
    AuthSql::PasswordCost cost = AuthSql::PasswordCost::standard();
    if (!spec.strCost.empty()) cost = AuthSql::PasswordCost{1, std::stoul(spec.strCost) * 1024};
    const std::string strHash = AuthSql::hashPassword(pszPassword, cost);
    costs.dHashMs = medianCpuMs(
        [&] {
            if (!AuthSql::verifyPassword(strHash, pszPassword)) throw std::runtime_error("the hash does not match");
        },
        200, 14);
    return costs;
}

// The body of a client of the run: connects, says it is ready, waits for the start and logs in
// until the end of the run, as client c of nClients, timing each login (kind 0).
void clientBody(int c, int nClients, const RunSpec& spec, const std::string& strAddress,
                const std::function<void()>& ready, ClientOutcome& outcome, std::vector<std::vector<double>>& latencyS)
{
    std::vector<double>& loginS = latencyS[0];
    const std::string strCAFile = service().caFile();
    LoadClient client(strAddress, pszPassword);
    // The first connection is made before the clock starts, so that a resuming client has a
    // session from the first timed login on.
    client.connect(trustFor(strCAFile, spec.connect, 0));
    client.fetchKey();
    const bool bPerLogin = spec.connect != Connect::once;
    if (bPerLogin) client.disconnect();
    ready();
    const Clock::time_point tEnd = Clock::now() + std::chrono::seconds(nSecondsPerRun);
    for (int nUser = c; Clock::now() < tEnd; nUser = (nUser + nClients) % loadSize().nUsers) {
        OstrelData::User user(domainOf(nUser), OstrelGen::userId(nUser), "", "", "");
        const Clock::time_point t0 = Clock::now();
        if (bPerLogin) {
            client.connect(trustFor(strCAFile, spec.connect, static_cast<unsigned>(loginS.size() + 1)));
            outcome.dConnectMs += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            client.fetchKey();
        }
        if (!client.loginAndCheck(user)) ++outcome.nRefused;
        // The user waits for the answer, not for the connection to close.
        loginS.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        if (bPerLogin) client.disconnect();
    }
}

// What the comparison at the end needs of a run: the best of its repetitions, since a machine shared
// with other work only ever makes a run slower.
struct RunResult {
    double dLoginsPerSecond = 0;
    double dDaemonCpuMs = 1e9;  // per login
    double dP50Ms = 1e9;
    // The repetition with the least daemon CPU per login, whole: its rate, latencies and the costs
    // timed beside it.
    struct Repetition {
        double dLoginsPerSecond = 0;
        double dP50Ms = 0;
        double dP99Ms = 0;
        double dDaemonCpuMs = 1e9;
        FixedCosts costs;
    } leanest;
};
// By run and client count ("lowCost/16"). Written by the runs, which the library makes one after
// another on the main thread.
std::map<std::string, RunResult> g_resultS;

void loginLoad(benchmark::State& state, const RunSpec& spec)
{
    const int nClients = static_cast<int>(state.range(0));
    std::string strAddress, strFloodAddress;
    try {
        const Endpoints& endpoints = service().daemonAt(spec.strCost, spec.nKeyBits, spec.bMetrics);
        strAddress = spec.bTls ? endpoints.strTls : spec.nFlood > 0 ? endpoints.strPlain6 : endpoints.strPlain;
        strFloodAddress = endpoints.strPlain;
    } catch (const std::runtime_error& e) {
        // One configuration the daemon refuses leaves the others to run.
        std::string strWhy = e.what();
        strWhy.erase(strWhy.find_last_not_of('\n') + 1);
        state.SkipWithError(strWhy.c_str());
        return;
    }
    for (auto _ : state) {
        // The fixed costs are timed just before and just after the run, while the daemon is idle,
        // and averaged: on a shared machine one moment's figure can be a third off the next's.
        FixedCosts costsBefore;
        try {
            costsBefore = fixedCosts(spec);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            return;
        }
        const double dClientCpuStart = childrenCpuSeconds();
        double dDaemonCpuStart = 0;
        // Started once the clients are forked (a fork copies only the thread that makes it).
        std::thread scraper;
        std::atomic<bool> bScraping{true};
        std::atomic<int> nScrapes{0};
        // The measured clients first, then the flooders (whose outcomes only say they kept going).
        const ClientsResult clients = runClients(
            nClients + spec.nFlood, 1,
            [&](int c, const std::function<void()>& ready, ClientOutcome& outcome,
                std::vector<std::vector<double>>& latencyS) {
                if (c < nClients) return clientBody(c, nClients, spec, strAddress, ready, outcome, latencyS);
                // A flooding peer is another machine: its processes must not take this machine's
                // CPU from the measured client (only the daemon's work is being shared out).
                setpriority(PRIO_PROCESS, 0, 19);
                clientBody(c, nClients + spec.nFlood, spec, strFloodAddress, ready, outcome, latencyS);
            },
            [&] {
                dDaemonCpuStart = service().daemonCpuSeconds();
                if (!spec.bMetrics) return;
                scraper = std::thread([&] {
                    while (bScraping.load()) {
                        try {
                            if (httpGet(service().metricsAddress(), "/metrics").find("ostrel_logins_total") !=
                                std::string::npos)
                                ++nScrapes;
                        } catch (const std::runtime_error&) {
                            // Counted as missing below.
                        }
                        for (int i = 0; i < 10 && bScraping.load(); ++i)
                            std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    }
                });
            });
        bScraping.store(false);
        if (scraper.joinable()) scraper.join();
        if (spec.bMetrics && nScrapes.load() < nSecondsPerRun - 1) {
            state.SkipWithError("the metrics were not served");
            return;
        }
        const double dDaemonCpu = service().daemonCpuSeconds() - dDaemonCpuStart;
        const double dClientCpu = childrenCpuSeconds() - dClientCpuStart;
        const double dSeconds = clients.dSeconds;
        std::vector<double> allS;
        int nRefused = 0;
        double dConnectMs = 0;
        double dFloodLogins = 0;
        for (size_t i = 0; i < clients.outcomeS.size() && !clients.bFailed; ++i) {
            nRefused += clients.outcomeS[i].nRefused;
            dConnectMs += clients.outcomeS[i].dConnectMs;
            const std::vector<double>& oneS = clients.latencyS[i][0];
            if (i < static_cast<size_t>(nClients))
                allS.insert(allS.end(), oneS.begin(), oneS.end());
            else
                dFloodLogins += static_cast<double>(oneS.size());
        }
        state.SetIterationTime(dSeconds);
        if (clients.bFailed || nRefused > 0 || allS.empty()) {
            state.SkipWithError(clients.bFailed ? "a client lost its connection" : "logins were refused");
            return;
        }
        std::sort(allS.begin(), allS.end());
        const double dLogins = static_cast<double>(allS.size());
        state.counters["logins_per_s"] = dLogins / dSeconds;
        state.counters["p50_ms"] = percentile(allS, 50);
        state.counters["p99_ms"] = percentile(allS, 99);
        state.counters["logins"] = dLogins;
        // Where the time goes: CPU per login in the daemon and in the clients (all on this machine;
        // the clients' figure includes their first connection and key fetch, made before the clock).
        state.counters["daemon_cpu_ms"] = 1000 * dDaemonCpu / dLogins;
        state.counters["client_cpu_ms"] = 1000 * dClientCpu / dLogins;
        if (spec.connect != Connect::once) state.counters["connect_ms"] = dConnectMs / dLogins;
        if (spec.nFlood > 0) state.counters["flood_logins_per_s"] = dFloodLogins / dSeconds;
        const double dDaemonCpuMs = 1000 * dDaemonCpu / (dLogins + dFloodLogins);
        FixedCosts costs;
        try {
            const FixedCosts costsAfter = fixedCosts(spec);
            costs.dRsaMs = (costsBefore.dRsaMs + costsAfter.dRsaMs) / 2;
            costs.dHashMs = (costsBefore.dHashMs + costsAfter.dHashMs) / 2;
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            return;
        }
        const double dFrameworkMs = dDaemonCpuMs - costs.dRsaMs - costs.dHashMs;
        state.counters["rsa_ms"] = costs.dRsaMs;
        state.counters["hash_ms"] = costs.dHashMs;
        state.counters["framework_ms"] = dFrameworkMs;
        state.counters["framework_per_rsa"] = dFrameworkMs / costs.dRsaMs;
        state.counters["p99_per_p50"] = percentile(allS, 99) / percentile(allS, 50);
        RunResult& result = g_resultS[std::string(spec.pszName) + "/" + std::to_string(nClients)];
        result.dLoginsPerSecond = std::max(result.dLoginsPerSecond, dLogins / dSeconds);
        result.dDaemonCpuMs = std::min(result.dDaemonCpuMs, dDaemonCpuMs);
        result.dP50Ms = std::min(result.dP50Ms, percentile(allS, 50));
        if (dDaemonCpuMs < result.leanest.dDaemonCpuMs)
            result.leanest = RunResult::Repetition{dLogins / dSeconds, percentile(allS, 50), percentile(allS, 99),
                                                   dDaemonCpuMs, costs};
    }
}

// In the order they run: the daemon restarts only when the cost or the key changes.
const RunSpec s_runS[] = {
    // 8 KiB and one pass: libsodium's lowest, so the figures are the framework's.
    {"lowCost", "8", 2048, false, Connect::once, {1, 4, 16}},
    {"lowCostMetrics", "8", 2048, false, Connect::once, {1, 16}, 0, true},
    {"lowCostTls", "8", 2048, true, Connect::once, {1, 16}},
    {"plainConnectPerLogin", "8", 2048, false, Connect::perLogin, {1, 16}},
    {"tlsResumedPerLogin", "8", 2048, true, Connect::perLogin, {1, 16}},
    {"tlsFullPerLogin", "8", 2048, true, Connect::perLoginAfresh, {1, 16}},
    {"defaultCost", "", 2048, false, Connect::once, {1, 4, 16}},
    // One client of one peer logging in while 64 connections of another flood the daemon with
    // logins; set beside lowCost/1 (the same client alone).
    {"quietBesideFlood", "8", 2048, false, Connect::once, {1}, 64},
};

// Rates set side by side at the end: the first run's over the second's.
const struct {
    const char* pszOver;
    const char* pszUnder;
    const char* pszWhat;
} s_ratioS[] = {
    {"lowCostTls", "lowCost", "TLS / plain, a connection per client (target >= 0.9)"},
    {"lowCostMetrics", "lowCost", "metrics on and scraped every second / off (target: no measurable loss)"},
    {"tlsResumedPerLogin", "plainConnectPerLogin", "TLS resumed / plain, a connection per login"},
    {"tlsFullPerLogin", "plainConnectPerLogin", "TLS full handshake / plain, a connection per login"},
    {"tlsFullPerLogin", "tlsResumedPerLogin", "TLS full / resumed handshake, a connection per login"},
};

// On a shared machine the rate moves by a tenth or more from one run to the next; the daemon's CPU
// per login, shown beside it, is steadier, and --benchmark_repetitions=N compares the best of N.
void printRatios()
{
    std::printf("\nDaemon CPU per login = RSA token decryption + password check + framework (RSA and check "
                "timed in-process just before and after each run; the repetition with the least daemon CPU):\n"
                "%-24s %9s %8s %8s %7s %9s %8s %8s %9s %7s\n",
                "run", "logins/s", "p50 ms", "p99 ms", "p99/p50", "daemon ms", "RSA ms", "hash ms", "frame ms",
                "fw/RSA");
    for (const RunSpec& spec : s_runS)
        for (int64_t nClients : spec.clientS) {
            const std::string strRun = std::string(spec.pszName) + "/" + std::to_string(nClients);
            auto it = g_resultS.find(strRun);
            if (it == g_resultS.end()) continue;
            const RunResult::Repetition& r = it->second.leanest;
            const double dFrameworkMs = r.dDaemonCpuMs - r.costs.dRsaMs - r.costs.dHashMs;
            std::printf("%-24s %9.1f %8.2f %8.2f %7.2f %9.3f %8.3f %8.3f %9.3f %7.2f\n", strRun.c_str(),
                        r.dLoginsPerSecond, r.dP50Ms, r.dP99Ms, r.dP99Ms / r.dP50Ms, r.dDaemonCpuMs, r.costs.dRsaMs,
                        r.costs.dHashMs, dFrameworkMs, dFrameworkMs / r.costs.dRsaMs);
        }
    std::printf("Targets at the lowest cost, 16 clients: framework / RSA <= 0.3, p99 / p50 <= 3.\n\n");

    auto itQuiet = g_resultS.find("quietBesideFlood/1");
    auto itAlone = g_resultS.find("lowCost/1");
    if (itQuiet != g_resultS.end() && itAlone != g_resultS.end())
        std::printf("A quiet peer's median login beside 64 flooding connections / alone (target <= 3): "
                    "%.3f / %.3f ms = %.2f\n",
                    itQuiet->second.dP50Ms, itAlone->second.dP50Ms, itQuiet->second.dP50Ms / itAlone->second.dP50Ms);
    for (const auto& ratio : s_ratioS)
        for (int nClients : {1, 4, 16}) {
            const std::string strClients = "/" + std::to_string(nClients);
            auto itOver = g_resultS.find(ratio.pszOver + strClients);
            auto itUnder = g_resultS.find(ratio.pszUnder + strClients);
            if (itOver == g_resultS.end() || itUnder == g_resultS.end()) continue;
            const RunResult& over = itOver->second;
            const RunResult& under = itUnder->second;
            std::printf("%s, %d client(s): %.1f / %.1f logins/s = %.3f (daemon CPU per login %.3f / %.3f ms)\n",
                        ratio.pszWhat, nClients, over.dLoginsPerSecond, under.dLoginsPerSecond,
                        over.dLoginsPerSecond / under.dLoginsPerSecond, over.dDaemonCpuMs, under.dDaemonCpuMs);
        }
}


// ---- soak: bench_load --soak[=MINUTES]
//
// One daemon at the lowest cost, with metrics, for MINUTES (30 unless given): 8 client processes
// log in and check, and every fourth login is kept as a session and a kept session of the client's is
// taken up again (retrievesession); with more than 16 kept, that is the oldest, which is then ended
// (killsession);
// the model changes in the database every minute, so the daemon reloads it. The daemon's resident
// memory is sampled every 10 s. It passes when nothing was refused or lost, every reload went
// through, and the memory at the end is within 5 % of its level after the first minute.

// Kinds of operation a soak client times.
enum SoakKind { soakLogin, soakKeep, soakRetrieve, soakKill, soakKinds };
const char* const s_apszSoakKind[] = {"login+check", "persistsession", "retrievesession", "killsession"};

void soakClient(int c, std::chrono::seconds duration, const std::string& strAddress,
                const std::function<void()>& ready, ClientOutcome& outcome, std::vector<std::vector<double>>& latencyS)
{
    LoadClient client(strAddress, pszPassword);
    client.connect();
    client.fetchKey();
    ready();
    std::deque<OstrelData::Session> keptS;
    constexpr size_t nKept = 16;
    auto timed = [&](SoakKind kind, const std::function<bool()>& op) {
        const Clock::time_point t0 = Clock::now();
        if (!op()) ++outcome.nRefused;
        latencyS[kind].push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    };
    const Clock::time_point tEnd = Clock::now() + duration;
    for (int nUser = c, n = 0; Clock::now() < tEnd; nUser = (nUser + 8) % loadSize().nUsers, ++n) {
        OstrelData::User user(domainOf(nUser), OstrelGen::userId(nUser), "", "", "");
        OstrelData::AuthenticatedUser authenticated;
        timed(soakLogin, [&] { return client.loginAndCheck(user, &authenticated); });
        if (n % 4 != 0) continue;
        timed(soakKeep, [&] { return client.persist(authenticated); });
        keptS.push_back(authenticated.session());
        if (keptS.size() <= nKept) {
            const OstrelData::Session& again = keptS[static_cast<size_t>(n / 4) % keptS.size()];
            timed(soakRetrieve, [&] { return client.retrieve(again); });
            continue;
        }
        // Only its owner (or an administrator of users) may end a session: take it up, then end it.
        const OstrelData::Session oldest = keptS.front();
        keptS.pop_front();
        timed(soakRetrieve, [&] { return client.retrieve(oldest); });
        timed(soakKill, [&] { return client.kill(oldest); });
    }
}

// A counter's value from the daemon's metrics text; -1 when absent.
double metricValue(const std::string& strText, const std::string& strSample)
{
    const size_t nAt = strText.find("\n" + strSample + " ");
    return nAt == std::string::npos ? -1 : std::strtod(strText.c_str() + nAt + strSample.size() + 2, nullptr);
}

int soak(int nMinutes)
{
    const Endpoints& endpoints = service().daemonAt("8", 2048, true);
    const pid_t pid = service().daemonPid();
    const std::chrono::seconds duration(60 * nMinutes);
    std::printf("soak: %d minutes, 8 clients, a model change every minute; the daemon's resident memory:\n",
                nMinutes);
    std::vector<std::pair<int, long>> sampleS;  // seconds since the start, KiB
    std::atomic<bool> bDone{false};
    std::atomic<int> nChangeFailures{0};
    std::thread sampler;
    auto atStart = [&] {
        sampler = std::thread([&] {
            const Clock::time_point tStart = Clock::now();
            for (int nTick = 1; !bDone; ++nTick) {
                std::this_thread::sleep_until(tStart + std::chrono::seconds(10 * nTick));
                if (bDone) break;
                sampleS.emplace_back(10 * nTick, residentKiB(pid));
                std::printf("  %5d s %9.1f MiB\n", 10 * nTick, static_cast<double>(sampleS.back().second) / 1024);
                std::fflush(stdout);
                if (nTick % 6 != 0) continue;
                try {
                    service().changeModel(nTick / 6);
                } catch (const std::exception&) {
                    ++nChangeFailures;
                }
            }
        });
    };
    const ClientsResult clients = runClients(
        8, soakKinds,
        [&](int c, const std::function<void()>& ready, ClientOutcome& outcome,
            std::vector<std::vector<double>>& latencyS) {
            soakClient(c, duration, endpoints.strPlain, ready, outcome, latencyS);
        },
        atStart);
    bDone = true;
    if (sampler.joinable()) sampler.join();

    int nRefused = 0;
    for (const ClientOutcome& outcome : clients.outcomeS)
        nRefused += outcome.nRefused;
    for (int k = 0; k < soakKinds && !clients.bFailed; ++k) {
        std::vector<double> allS;
        for (const auto& oneS : clients.latencyS)
            allS.insert(allS.end(), oneS[static_cast<size_t>(k)].begin(), oneS[static_cast<size_t>(k)].end());
        std::sort(allS.begin(), allS.end());
        std::printf("%-16s %9zu  p50 %7.2f ms  p99 %7.2f ms\n", s_apszSoakKind[k], allS.size(), percentile(allS, 50),
                    percentile(allS, 99));
    }
    const std::string strMetrics = httpGet(service().metricsAddress(), "/metrics");
    const double dReloads = metricValue(strMetrics, "ostrel_model_reloads_total{outcome=\"ok\"}");
    const double dReloadErrors = metricValue(strMetrics, "ostrel_model_reloads_total{outcome=\"error\"}");
    long nFirstMinuteKiB = 0, nEndKiB = 0;
    for (const auto& sample : sampleS) {
        if (sample.first <= 60) nFirstMinuteKiB = sample.second;
        nEndKiB = sample.second;
    }
    const double dRatio = nFirstMinuteKiB > 0 ? static_cast<double>(nEndKiB) / static_cast<double>(nFirstMinuteKiB) : 0;
    std::printf("reloads: %.0f done, %.0f failed, %d model changes not made\n", dReloads, dReloadErrors,
                nChangeFailures.load());
    std::printf("resident memory at the end / after the first minute (target <= 1.05): %.1f / %.1f MiB = %.3f\n",
                static_cast<double>(nEndKiB) / 1024, static_cast<double>(nFirstMinuteKiB) / 1024, dRatio);
    const bool bPassed = !clients.bFailed && nRefused == 0 && nChangeFailures == 0 && dReloadErrors == 0 &&
                         dReloads >= nMinutes - 1 && dRatio > 0 && dRatio <= 1.05;
    std::printf("soak %s%s, %d refused\n", bPassed ? "passed" : "FAILED",
                clients.bFailed ? ": a client lost its connection or failed" : "", nRefused);
    return bPassed ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (strArg != "--soak" && strArg.compare(0, 7, "--soak=") != 0) continue;
        const int nMinutes = strArg.size() > 7 ? std::atoi(strArg.c_str() + 7) : 30;
        if (nMinutes < 2 || nMinutes > 24 * 60) {
            std::fprintf(stderr, "bench_load: --soak takes 2 to 1440 minutes\n");
            return 2;
        }
        try {
            return soak(nMinutes);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "bench_load: %s\n", e.what());
            return 1;
        }
    }
    for (const RunSpec& spec : s_runS) {
        benchmark::internal::Benchmark* pbenchmark =
            benchmark::RegisterBenchmark(spec.pszName, [&spec](benchmark::State& state) { loginLoad(state, spec); });
        for (int64_t nClients : spec.clientS)
            pbenchmark->Arg(nClients);
        pbenchmark->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::fflush(stdout);
    printRatios();
    return 0;
}
