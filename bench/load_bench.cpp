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
//   bench_load [benchmark flags]

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Corvel/DaemonComm.h"
#include "OstrelData/OstrelData.h"
#include "OstrelDataXML/OstrelFactory.h"
#include "VeskDal/VeskDal.h"
#include "crypto/base64.h"
#include "crypto/rsa.h"
#include "gen/Generator.h"

extern char** environ;

namespace {

using Codec = OstrelDataXML::Factory;
using Clock = std::chrono::steady_clock;

constexpr const char* pszPassword = "bench-pw";
constexpr int nSecondsPerRun = 4;

OstrelGen::Size benchSize()
{
    OstrelGen::Size size;
    size.nCustomers = 5;
    size.nDomains = 20;
    size.nUsers = 2000;
    size.nTeams = 100;
    size.nTeamsPerUser = 2;
    size.nProducts = 10;
    size.nRoles = 5;
    size.nPermissions = 8;
    size.nPermissionsPerRole = 3;
    size.nProductsPerTeam = 2;
    return size;
}

std::string readFile(const std::string& strPath)
{
    std::ifstream in(strPath);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs a program to its end (found on PATH when the name has no slash); throws with its output
// when it fails.
void run(const std::vector<std::string>& argS, const std::string& strLog)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, strLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, strLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    std::vector<char*> argv;
    for (const std::string& str : argS)
        argv.push_back(const_cast<char*>(str.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + argS[0]);
    posix_spawn_file_actions_destroy(&actions);
    int nStatus = 0;
    waitpid(pid, &nStatus, 0);
    if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0) {
        std::string strCommand;
        for (const std::string& str : argS)
            strCommand += (strCommand.empty() ? "" : " ") + str;
        throw std::runtime_error(strCommand + " failed: " + readFile(strLog));
    }
}

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
        VeskDal::DalDatabase::ConnectionParameterMap parameterS;
        VeskDal::DalDatabase::connectStringToMap(parameterS, _strConnect, 0);
        std::unique_ptr<VeskDal::DalDatabase> pdb(VeskDal::DalDynamic::dalDatabase("sqlite"));
        pdb->open(parameterS);
        OstrelGen::loadSchema(*pdb, std::string(OSTREL_SQL_DIR) + "/sqlite.sql");
        OstrelGen::fill(*pdb, benchSize(), OSTREL_BENCH_PLUGIN);
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
    const Endpoints& daemonAt(const std::string& strCost, int nKeyBits)
    {
        if (_pid > 0 && strCost == _strCost && nKeyBits == _nKeyBits) return _endpoints;
        stopDaemon();
        if (strCost.empty()) {
            removeParam("argon2_opslimit");
            removeParam("argon2_memlimit_kib");
        } else {
            admin({"param", "set", "library", "1", "argon2_opslimit", "1"});
            admin({"param", "set", "library", "1", "argon2_memlimit_kib", strCost});
        }
        setPasswords();
        std::remove((_strDir + "/address").c_str());
        std::vector<std::string> argS{OSTREL_BENCH_DAEMON, "--connect", _strConnect,
                                      "--listen", "127.0.0.1:0", "--listen", "[::1]:0", "--listen", "tls:127.0.0.1:0",
                                      "--tls-cert", _strDir + "/server.pem", "--tls-key", _strDir + "/server.key",
                                      "--address-file", _strDir + "/address", "--log-level", "warning",
                                      "--key-bits", std::to_string(nKeyBits)};
        // Daemon options to try without a rebuild, blank-separated.
        if (const char* pszExtra = std::getenv("OSTREL_BENCH_DAEMON_ARGS")) {
            std::istringstream extra(pszExtra);
            for (std::string strArg; extra >> strArg;)
                argS.push_back(strArg);
        }
        std::vector<char*> argv;
        for (const std::string& str : argS)
            argv.push_back(const_cast<char*>(str.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string strLog = _strDir + "/daemon.log";
        posix_spawn_file_actions_addopen(&actions, 2, strLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, 2, 1);  // the database pool reports on stdout
        if (posix_spawn(&_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            throw std::runtime_error("cannot start ostreld");
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 1200 && readFile(_strDir + "/address").empty(); ++i) {
            if (waitpid(_pid, nullptr, WNOHANG) == _pid) {
                _pid = -1;
                throw std::runtime_error("ostreld did not start: " + readFile(strLog));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        std::istringstream addressS(readFile(_strDir + "/address"));
        _endpoints = Endpoints();
        for (std::string strLine; std::getline(addressS, strLine);)
            (strLine.compare(0, 4, "tls:") == 0 ? _endpoints.strTls
             : strLine[0] == '['                ? _endpoints.strPlain6
                                                : _endpoints.strPlain) = strLine;
        if (_endpoints.strPlain.empty() || _endpoints.strTls.empty())
            throw std::runtime_error("ostreld did not start: " + readFile(strLog));
        _strCost = strCost;
        _nKeyBits = nKeyBits;
        return _endpoints;
    }

    // CPU seconds the daemon has used so far.
    double daemonCpuSeconds() const
    {
        std::string strStat = readFile("/proc/" + std::to_string(_pid) + "/stat");
        std::string::size_type n = strStat.rfind(')');
        if (n == std::string::npos) return 0;
        std::istringstream fields(strStat.substr(n + 2));
        std::string strField;
        unsigned long long nUser = 0, nSystem = 0;
        for (int i = 3; i <= 15 && fields >> strField; ++i) {
            if (i == 14) nUser = std::stoull(strField);
            if (i == 15) nSystem = std::stoull(strField);
        }
        return static_cast<double>(nUser + nSystem) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }

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
        std::vector<std::string> argS{OSTREL_BENCH_ADMIN, "--connect",    _strConnect,       "user",
                                      "change",           strFirst,       "--password-stdin"};
        std::vector<char*> argv;
        for (const std::string& str : argS)
            argv.push_back(const_cast<char*>(str.c_str()));
        argv.push_back(nullptr);
        int afd[2];
        if (pipe(afd) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, afd[0], 0);
        posix_spawn_file_actions_addclose(&actions, afd[1]);
        pid_t pid = -1;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            throw std::runtime_error("cannot start ostrel-admin");
        posix_spawn_file_actions_destroy(&actions);
        close(afd[0]);
        std::string strLine = std::string(pszPassword) + "\n";
        if (write(afd[1], strLine.data(), strLine.size()) != static_cast<ssize_t>(strLine.size()))
            throw std::runtime_error("cannot hand the password over");
        close(afd[1]);
        int nStatus = 0;
        waitpid(pid, &nStatus, 0);

        VeskDal::DalDatabase::ConnectionParameterMap parameterS;
        VeskDal::DalDatabase::connectStringToMap(parameterS, _strConnect, 0);
        std::unique_ptr<VeskDal::DalDatabase> pdb(VeskDal::DalDynamic::dalDatabase("sqlite"));
        pdb->open(parameterS);
        VeskDal::SqlTable table(VeskDal::SqlSchema(), "User");
        VeskDal::SqlSelectStatement select(table);
        select.addColumn(VeskDal::SqlColumn(table, "AuthenticationToken"));
        select.setWhere(VeskDal::SqlCondition(VeskDal::SqlColumn(table, "UserId"),
                                              VeskDal::SqlText(OstrelGen::userId(0)), VeskDal::condEqual));
        VeskDal::DalDatabase::Result result;
        pdb->query(result, select, 0);
        if (result.empty()) throw std::runtime_error("the first user has no row");
        VeskDal::SqlUpdateStatement update(table);
        update.addColumn(VeskDal::SqlColumn(table, "AuthenticationToken"), result.front()["AuthenticationToken"]);
        update.setWhere(VeskDal::SqlCondition(VeskDal::SqlColumn(table, "UserId"), VeskDal::SqlText(""),
                                              VeskDal::condNotEqual));
        pdb->execute(update);
    }
    void stopDaemon()
    {
        if (_pid <= 0) return;
        kill(_pid, SIGTERM);
        waitpid(_pid, nullptr, 0);
        _pid = -1;
    }

    std::string _strDir;
    std::string _strConnect;
    Endpoints _endpoints;
    std::string _strCost;
    int _nKeyBits = 0;
    pid_t _pid = -1;
};

Service& service()
{
    static Service s_service;
    return s_service;
}

// The CPU time of the client processes that have ended and been waited for.
double clientCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Writes all of a buffer to a pipe; false when the reader is gone.
bool writeAll(int fd, const void* pv, size_t nSize)
{
    const char* pch = static_cast<const char*>(pv);
    while (nSize > 0) {
        ssize_t n = write(fd, pch, nSize);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        pch += n;
        nSize -= static_cast<size_t>(n);
    }
    return true;
}

// Reads exactly nSize bytes; false at the end of the pipe before that.
bool readAll(int fd, void* pv, size_t nSize)
{
    char* pch = static_cast<char*>(pv);
    while (nSize > 0) {
        ssize_t n = read(fd, pch, nSize);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        pch += n;
        nSize -= static_cast<size_t>(n);
    }
    return true;
}

// One client with its own link to the daemon.
class LoadClient {
public:
    explicit LoadClient(const std::string& strAddress)
        : _comm(Corvel::DaemonComm::Callback([this](Corvel::DaemonComm::Status status, const std::string& strMessage) {
              std::lock_guard<std::mutex> lock(_mx);
              _bBroken = _bBroken || status == Corvel::DaemonComm::error;
              if (status == Corvel::DaemonComm::response) {
                  _strReply = strMessage;
                  _bReply = true;
              }
              _cv.notify_all();
          }))
    {
        mp_init(&_key.e);
        mp_init(&_key.d);
        mp_init(&_key.N);
        std::string s1, s2, s3;
        int n = 0;
        _comm.locateService(s1, s2, s3, n, strAddress, "ostreld");
    }
    ~LoadClient() { rsa_free(&_key); }

    // Connects; a TLS address with the given trust.
    void connect(const Corvel::DaemonCommTls& tls)
    {
        _comm.setTls(tls);
        _comm.connect();
    }
    void disconnect() { _comm.disconnect(); }
    // Fetches the daemon's key, as the client library does on every connection it makes.
    void fetchKey()
    {
        Vesk::XMLDoc request = Codec::Envelope::request("initialize");
        request.rootNode()->attribute("version", "5.0.4.0");
        Vesk::XMLDoc reply = Vesk::XMLDoc::parse(Vesk::String(exchange(request.stream().str())));
        Codec::RsaKey::fromXML(reply.rootNode()->findChild("rsa"), _key);
    }

    // One login and a permission check on its result; false when the login was refused.
    bool loginAndCheck(const OstrelData::User& user)
    {
        Vesk::XMLDoc request = Codec::Envelope::request("authenticate");
        Codec::User::toXML(request.rootNode(), user);
        request.rootNode()->addNode("authenticationtoken", encrypted());
        Codec::Profile::toXML(request.rootNode(), OstrelData::Profile("", false));
        Vesk::XMLDoc reply = Vesk::XMLDoc::parse(Vesk::String(exchange(request.stream().str())));
        const Vesk::XMLNode* puser = reply.rootNode()->findChild("authenticateduser");
        if (puser == nullptr) return false;
        OstrelData::AuthenticatedUser authenticated = Codec::AuthenticatedUser::fromXML(puser);
        const OstrelData::ProductMap& productS = static_cast<const OstrelData::User&>(authenticated).products();
        bool bHeld = false;
        for (const auto& product : productS)
            for (const auto& permission : product.second.permissions())
                bHeld = bHeld || permission.second.hasPermission();
        benchmark::DoNotOptimize(bHeld);
        return true;
    }

private:
    std::string exchange(const std::string& strRequest)
    {
        {
            std::lock_guard<std::mutex> lock(_mx);
            _bReply = false;
        }
        _comm.send(strRequest);
        std::unique_lock<std::mutex> lock(_mx);
        if (!_cv.wait_for(lock, std::chrono::seconds(30), [this] { return _bReply || _bBroken; }) || !_bReply)
            throw std::runtime_error("no reply");
        return _strReply;
    }

    std::string encrypted() const
    {
        unsigned char abyCipher[4096];
        unsigned long nCipher = sizeof abyCipher;
        rsa_exptmod(reinterpret_cast<const unsigned char*>(pszPassword), std::strlen(pszPassword), abyCipher,
                    &nCipher, PK_PUBLIC, &_key);
        unsigned char abyText[8192];
        unsigned long nText = sizeof abyText;
        base64_encode(abyCipher, nCipher, abyText, &nText);
        return std::string(reinterpret_cast<const char*>(abyText), nText);
    }

    Corvel::DaemonComm _comm;
    std::mutex _mx;
    std::condition_variable _cv;
    bool _bReply = false;
    bool _bBroken = false;
    std::string _strReply;
    rsa_key _key{};
};

// The users the clients log in as: client c takes users c, c + N, c + 2N, ... in turn.
const OstrelData::Domain& domainOf(int nUser)
{
    static const OstrelData::Customer s_customer("customer0", "");
    static std::vector<std::unique_ptr<OstrelData::Domain>> s_domainS;
    static std::once_flag s_once;
    std::call_once(s_once, [] {
        for (int d = 0; d < benchSize().nDomains; ++d)
            s_domainS.push_back(std::make_unique<OstrelData::Domain>(s_customer, OstrelGen::domainName(d)));
    });
    return *s_domainS[static_cast<size_t>(nUser % benchSize().nDomains)];
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

// What one client process sends back when its run is over: how it went, then its latencies.
struct ClientOutcome {
    int nRefused = 0;
    int bFailed = 0;
    uint64_t nLogins = 0;
    double dConnectMs = 0;  // all its timed connects together, handshakes included
};

// The body of client process c: connects, says it is ready, waits for the start, logs in until the
// end of the run and sends its outcome and latencies (ms) through fdOut. Never returns.
[[noreturn]] void clientProcess(int c, int nClients, const RunSpec& spec, const std::string& strAddress,
                                int fdReady, int fdStart, int fdOut)
{
    ClientOutcome outcome;
    std::vector<double> latencyS;
    try {
        const std::string strCAFile = service().caFile();
        LoadClient client(strAddress);
        // The first connection is made before the clock starts, so that a resuming client has a
        // session from the first timed login on.
        client.connect(trustFor(strCAFile, spec.connect, 0));
        client.fetchKey();
        const bool bPerLogin = spec.connect != Connect::once;
        if (bPerLogin) client.disconnect();
        char ch = 'r';
        if (!writeAll(fdReady, &ch, 1)) _exit(3);
        // The start is the end of that pipe: the read returns once the parent closes it.
        while (read(fdStart, &ch, 1) < 0 && errno == EINTR) {
        }
        const Clock::time_point tEnd = Clock::now() + std::chrono::seconds(nSecondsPerRun);
        for (int nUser = c; Clock::now() < tEnd; nUser = (nUser + nClients) % benchSize().nUsers) {
            OstrelData::User user(domainOf(nUser), OstrelGen::userId(nUser), "", "", "");
            const Clock::time_point t0 = Clock::now();
            if (bPerLogin) {
                client.connect(trustFor(strCAFile, spec.connect, static_cast<unsigned>(latencyS.size() + 1)));
                outcome.dConnectMs += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
                client.fetchKey();
            }
            if (!client.loginAndCheck(user)) ++outcome.nRefused;
            // The user waits for the answer, not for the connection to close.
            latencyS.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
            if (bPerLogin) client.disconnect();
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_load: client %d: %s\n", c, e.what());
        outcome.bFailed = 1;
    }
    outcome.nLogins = latencyS.size();
    const bool bSent = writeAll(fdOut, &outcome, sizeof outcome) &&
                       writeAll(fdOut, latencyS.data(), latencyS.size() * sizeof(double));
    _exit(bSent ? 0 : 3);
}

// What the comparison at the end needs of a run: the best of its repetitions, since a machine shared
// with other work only ever makes a run slower.
struct RunResult {
    double dLoginsPerSecond = 0;
    double dDaemonCpuMs = 1e9;  // per login
    double dP50Ms = 1e9;
};
// By run and client count ("lowCost/16"). Written by the runs, which the library makes one after
// another on the main thread.
std::map<std::string, RunResult> g_resultS;

void loginLoad(benchmark::State& state, const RunSpec& spec)
{
    const int nClients = static_cast<int>(state.range(0));
    std::string strAddress, strFloodAddress;
    try {
        const Endpoints& endpoints = service().daemonAt(spec.strCost, spec.nKeyBits);
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
        // Every client is a process of its own, as applications are: the client library keeps
        // one connection and its caches per process, so nothing is shared between clients here
        // that would not be shared between real ones.
        int afdReady[2], afdStart[2];
        if (pipe(afdReady) != 0 || pipe(afdStart) != 0) throw std::runtime_error("no pipe");
        std::vector<pid_t> pidS;
        std::vector<int> fdOutS;
        const double dClientCpuStart = clientCpuSeconds();
        // The measured clients first, then the flooders (whose outcomes only say they kept going).
        for (int c = 0; c < nClients + spec.nFlood; ++c) {
            int afdOut[2];
            if (pipe(afdOut) != 0) throw std::runtime_error("no pipe");
            pid_t pid = fork();
            if (pid < 0) throw std::runtime_error("cannot fork a client");
            if (pid == 0) {
                close(afdOut[0]);
                close(afdReady[0]);
                close(afdStart[1]);
                if (c < nClients) clientProcess(c, nClients, spec, strAddress, afdReady[1], afdStart[0], afdOut[1]);
                // A flooding peer is another machine: its processes must not take this machine's
                // CPU from the measured client (only the daemon's work is being shared out).
                setpriority(PRIO_PROCESS, 0, 19);
                clientProcess(c, nClients + spec.nFlood, spec, strFloodAddress, afdReady[1], afdStart[0], afdOut[1]);
            }
            close(afdOut[1]);
            pidS.push_back(pid);
            fdOutS.push_back(afdOut[0]);
        }
        close(afdReady[1]);
        close(afdStart[0]);
        // All connected before the clock starts; then all go at once.
        bool bFailed = false;
        for (int c = 0; c < nClients + spec.nFlood; ++c) {
            char ch = 0;
            if (!readAll(afdReady[0], &ch, 1)) bFailed = true;
        }
        const double dDaemonCpuStart = service().daemonCpuSeconds();
        const Clock::time_point tStart = Clock::now();
        close(afdStart[1]);  // the end of the pipe is the start signal
        close(afdReady[0]);

        std::vector<double> allS;
        int nRefused = 0;
        double dConnectMs = 0;
        double dFloodLogins = 0;
        for (size_t i = 0; i < fdOutS.size(); ++i) {
            const int fd = fdOutS[i];
            ClientOutcome outcome;
            if (!readAll(fd, &outcome, sizeof outcome) || outcome.bFailed ||
                outcome.nLogins > 10000000) {
                bFailed = true;
            } else {
                nRefused += outcome.nRefused;
                dConnectMs += outcome.dConnectMs;
                std::vector<double> oneS(static_cast<size_t>(outcome.nLogins));
                if (!readAll(fd, oneS.data(), oneS.size() * sizeof(double))) bFailed = true;
                if (i < static_cast<size_t>(nClients))
                    allS.insert(allS.end(), oneS.begin(), oneS.end());
                else
                    dFloodLogins += static_cast<double>(oneS.size());
            }
            close(fd);
        }
        const double dSeconds = std::chrono::duration<double>(Clock::now() - tStart).count();
        const double dDaemonCpu = service().daemonCpuSeconds() - dDaemonCpuStart;
        for (pid_t pid : pidS) {
            int nStatus = 0;
            waitpid(pid, &nStatus, 0);
            if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0) {
                std::fprintf(stderr, "bench_load: a client ended with status %d\n", nStatus);
                bFailed = true;
            }
        }
        const double dClientCpu = clientCpuSeconds() - dClientCpuStart;
        state.SetIterationTime(dSeconds);
        if (bFailed || nRefused > 0 || allS.empty()) {
            state.SkipWithError(bFailed ? "a client lost its connection" : "logins were refused");
            return;
        }
        std::sort(allS.begin(), allS.end());
        const double dLogins = static_cast<double>(allS.size());
        state.counters["logins_per_s"] = dLogins / dSeconds;
        state.counters["p50_ms"] = allS[allS.size() / 2];
        state.counters["p99_ms"] = allS[std::min(allS.size() - 1, allS.size() * 99 / 100)];
        state.counters["logins"] = dLogins;
        // Where the time goes: CPU per login in the daemon and in the clients (all on this machine;
        // the clients' figure includes their first connection and key fetch, made before the clock).
        state.counters["daemon_cpu_ms"] = 1000 * dDaemonCpu / dLogins;
        state.counters["client_cpu_ms"] = 1000 * dClientCpu / dLogins;
        if (spec.connect != Connect::once) state.counters["connect_ms"] = dConnectMs / dLogins;
        if (spec.nFlood > 0) state.counters["flood_logins_per_s"] = dFloodLogins / dSeconds;
        RunResult& result = g_resultS[std::string(spec.pszName) + "/" + std::to_string(nClients)];
        result.dLoginsPerSecond = std::max(result.dLoginsPerSecond, dLogins / dSeconds);
        result.dDaemonCpuMs = std::min(result.dDaemonCpuMs, 1000 * dDaemonCpu / (dLogins + dFloodLogins));
        result.dP50Ms = std::min(result.dP50Ms, allS[allS.size() / 2]);
    }
}

// In the order they run: the daemon restarts only when the cost or the key changes.
const RunSpec s_runS[] = {
    // 8 KiB and one pass: libsodium's lowest, so the figures are the framework's.
    {"lowCost", "8", 2048, false, Connect::once, {1, 4, 16}},
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
    {"tlsResumedPerLogin", "plainConnectPerLogin", "TLS resumed / plain, a connection per login"},
    {"tlsFullPerLogin", "plainConnectPerLogin", "TLS full handshake / plain, a connection per login"},
    {"tlsFullPerLogin", "tlsResumedPerLogin", "TLS full / resumed handshake, a connection per login"},
};

// On a shared machine the rate moves by a tenth or more from one run to the next; the daemon's CPU
// per login, shown beside it, is steadier, and --benchmark_repetitions=N compares the best of N.
void printRatios()
{
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

} // namespace

int main(int argc, char** argv)
{
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
