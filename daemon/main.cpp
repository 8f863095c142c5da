// ostreld: serves the client protocol from the database-backed factory.

#include <fcntl.h>
#include <grp.h>
#include <malloc.h>
#include <systemd/sd-daemon.h>
#include <time.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Corvel/DaemonServer.h"
#include "Corvel/EventLogger.h"
#include "Corvel/Exception.h"
#include "KeyPair.h"
#include "Metrics.h"
#include "ModelWatcher.h"
#include "Options.h"
#include "OstrelData/OstrelData.h"
#include "OstrelDal/ConnectFile.h"
#include "OstrelDal/StatementEcho.h"
#include "OstrelDataDB/OstrelFactory.h"
#include "Service.h"
#include "VeskDal/DalDatabase.h"
#include "VeskDal/SqlException.h"

namespace {

constexpr int nExitOk = 0;
constexpr int nExitFailure = 1;
constexpr int nExitUsage = 2;

using Ostreld::OptionError;
using Ostreld::Options;

constexpr const char* pszDefaultConnect = "engine=sqlite;database=/var/lib/ostrel/ostrel.db";

const char* const pszUsage =
    "usage: ostreld [OPTIONS]\n"
    "\n"
    "Serves Ostrel clients from the model in the database.\n"
    "\n"
    "  --config PATH           the configuration file (default /etc/ostrel/ostreld.conf, where a missing\n"
    "                          file is no error): every option below but --check-config, --help and\n"
    "                          --version as a line \"name = value\" (flags take yes or no), \"#\" comment\n"
    "                          lines; the command line overrides it. SIGHUP re-reads it\n"
    "  --check-config          read the configuration, open the database and load the model as a start\n"
    "                          would, say what is wrong or OK, and exit without listening\n"
    "  --connect CONNECT       database connect string\n"
    "                          (default: $OSTREL_CONNECT, else engine=sqlite;database=/var/lib/ostrel/ostrel.db)\n"
    "  --connect-file PATH     the connect string as the first line of a file only its owner may\n"
    "                          read (keeps a database password off the command line)\n"
    "  --listen ADDRESS        host:port, [v6addr]:port, *:port, host (port 7420) or unix:/path,\n"
    "                          or tls:host:port, tls:[v6addr]:port, tls:*:port (port 7421) for TLS;\n"
    "                          may be given several times (default: 127.0.0.1:7420)\n"
    "  --tls-cert FILE         certificate chain (PEM) of the tls: listeners; re-read on SIGHUP\n"
    "  --tls-key FILE          its private key (PEM; default: in the certificate file)\n"
    "  --tls-client-ca FILE    require client certificates signed by these CAs (PEM)\n"
    "  --tls-ciphers LIST      OpenSSL cipher list for TLS 1.2 (default: OpenSSL's)\n"
    "  --tls-min-version V     1.2 (default) or 1.3\n"
    "  --allow-plaintext-logins  take passwords over plain TCP from beyond loopback (only on a\n"
    "                          network where nobody can read or redirect the traffic)\n"
    "  --mode MODE             authenticator (default), all, admin, simple or signoff: how much of\n"
    "                          the model to load; only authenticator loads the plug-ins\n"
    "  --key-bits N            size of the RSA key made at start (default 2048, at least 2048)\n"
    "  --trace-sql             log every SQL statement\n"
    "  --log-level LEVEL       error, warning, info (default) or debug\n"
    "  --max-connections N     connections served at once (default 256)\n"
    "  --idle-timeout SECONDS  a connection silent this long is closed (default 300)\n"
    "  --anonymous-timeout SECONDS  one without a login that sends no request this long (pings\n"
    "                          do not count) is closed (default 60)\n"
    "  --max-per-peer N        connections from one address or unix user (default 64); at either\n"
    "                          limit a new connection takes the place of the longest-waiting one\n"
    "                          without a login\n"
    "  --max-request BYTES     longest request accepted (default 1048576)\n"
    "  --session-timeout SECONDS  a login or kept session unused this long ends (default 1800)\n"
    "  --session-lifetime SECONDS a kept session ends this long after it was kept, however much it\n"
    "                          is used (default 43200)\n"
    "  --sessions database|memory  where kept sessions live: in the database, shared with every\n"
    "                          daemon on it and kept over restarts (default), or in this daemon only\n"
    "  --reload-interval SECONDS how often the model's change counter in the database is read, and\n"
    "                          the model reloaded when it moved (default 5; 0: only on SIGHUP); on\n"
    "                          PostgreSQL a change is also picked up at once\n"
    "  --cleanup-interval SECONDS how often timed-out kept sessions are dropped, and those of locked,\n"
    "                          removed or re-passworded accounts ended (default 60)\n"
    "  --auth-workers N        logins checked at once, each hashing a password (default: one per core);\n"
    "                          handed out in turn to the peers waiting\n"
    "  --failure-delay MS      the longest wait of a login from an address whose logins keep failing\n"
    "                          (from 100 ms after three failures, doubling; default 5000; 0: none)\n"
    "  --max-elements N        elements one request may hold (default 100000)\n"
    "  --parse-budget N        elements of all the requests parsed at once (default 400000); the\n"
    "                          rest wait for room (a parsed element takes a hundred bytes and more)\n"
    "  --address-file PATH     once listening, write the addresses there, one a line\n"
    "  --socket-mode MODE      mode of unix socket files, in octal (default 0660)\n"
    "  --socket-group GROUP    group of unix socket files (default: the daemon's)\n"
    "  --metrics ADDRESS       serve GET /metrics (Prometheus text) and /healthz over plain HTTP on\n"
    "                          host:port, [v6addr]:port or port (on 127.0.0.1); off by default\n"
    "  --help, --version\n"
    "\n"
    "Exit status: 0 after a clean stop (or a good --check-config), 1 when it cannot start (or a\n"
    "configuration that does not work), 2 for a bad command line or configuration file.\n";

// The help: the options, then what SIGHUP changes, from the table of options.
std::string usage()
{
    std::string strText = "Signals: SIGTERM and SIGINT stop it (replies in progress still go out). SIGHUP reloads "
                          "the model, re-reads the TLS files and the configuration file, and applies what changed "
                          "there, but for";
    for (const Ostreld::OptionSpec& spec : Ostreld::optionSpecs())
        if (spec.change == Ostreld::OptionSpec::changeAtRestart) strText += std::string(" ") + spec.pszName + ",";
    strText.back() = ':';
    strText += " they take a restart, and a warning says so.";
    std::string strWrapped, strLine;
    for (std::string::size_type nStart = 0; nStart < strText.size();) {
        std::string::size_type nEnd = strText.find(' ', nStart);
        if (nEnd == std::string::npos) nEnd = strText.size();
        const std::string strWord = strText.substr(nStart, nEnd - nStart);
        if (!strLine.empty() && strLine.size() + 1 + strWord.size() > 100) {
            strWrapped += strLine + "\n";
            strLine.clear();
        }
        strLine += (strLine.empty() ? "" : " ") + strWord;
        nStart = nEnd + 1;
    }
    const std::string strUsage = pszUsage;
    const std::string::size_type nExit = strUsage.find("Exit status:");
    return strUsage.substr(0, nExit) + strWrapped + strLine + "\n" + strUsage.substr(nExit);
}

// SIGTERM, SIGINT and SIGHUP are taken by one thread with sigtimedwait; every other thread has
// them blocked (the mask is set before any thread starts and is inherited).
sigset_t handledSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

void writeAddressFile(const std::string& strPath, const std::vector<std::string>& addressS)
{
    // Written whole under a new name of its own in the same folder and renamed, so that a reader
    // never sees half of it; mkstemp makes the file itself, so no link planted under a
    // predictable name can redirect the write.
    std::string strTemplate = strPath + ".XXXXXX";
    int fd = mkstemp(&strTemplate[0]);
    if (fd < 0) throw std::runtime_error("cannot write beside " + strPath + ": " + std::strerror(errno));
    std::string strText;
    for (const std::string& strAddress : addressS)
        strText += strAddress + "\n";
    bool bOk = fchmod(fd, 0644) == 0 && write(fd, strText.data(), strText.size()) == ssize_t(strText.size());
    bOk = close(fd) == 0 && bOk;
    if (!bOk || std::rename(strTemplate.c_str(), strPath.c_str()) != 0) {
        const int nErrno = errno;
        unlink(strTemplate.c_str());
        throw std::runtime_error("cannot write " + strPath + ": " + std::strerror(nErrno));
    }
}

// An SQLite database holds the password hashes and names the plug-ins the daemon loads: one that
// others may write (or read) is worth a warning at every start.
void warnAboutDatabaseFile(const std::string& strConnect)
{
    VeskDal::DalDatabase::ConnectionParameterMap parameterS;
    try {
        VeskDal::DalDatabase::connectStringToMap(parameterS, strConnect, VeskDal::DalDatabase::csClearMap);
    } catch (...) {
        return;  // the connection itself will say what is wrong
    }
    auto itEngine = parameterS.find("engine");
    auto itFile = parameterS.find("file");  // SQLite takes "file" before "database"
    if (itFile == parameterS.end()) itFile = parameterS.find("database");
    if (itEngine == parameterS.end() || itEngine->second != "sqlite" || itFile == parameterS.end()) return;
    struct stat st;
    if (stat(itFile->second.c_str(), &st) != 0) return;
    Corvel::EventLogger& logger = Corvel::EventLogger::theLogger();
    if (st.st_mode & 022)
        logger.logWarning("The database file " + itFile->second + " may be written by others than its owner" +
                              ((st.st_mode & 020) ? std::string(" (group)") : std::string()) +
                              ": whoever can write it can make ostreld load any shared object (chmod 600)",
                          Corvel::layerSecurity);
    else if (st.st_mode & 004)
        logger.logWarning("The database file " + itFile->second +
                              " may be read by every local user, password hashes included (chmod 600)",
                          Corvel::layerSecurity);
}

// systemd's readiness protocol: told only when the service manager asked for it (NOTIFY_SOCKET;
// sd_notify does nothing otherwise).
void notifyServiceManager(const std::string& strState)
{
    sd_notify(0, strState.c_str());
}

std::string joined(const std::vector<std::string>& textS)
{
    std::string strText;
    for (const std::string& str : textS)
        strText += (strText.empty() ? "" : ", ") + str;
    return strText;
}

// What the service takes from the options.
Ostreld::Service::Settings serviceSettings(const Options& options)
{
    Ostreld::Service::Settings settings;
    unsigned nCores = std::thread::hardware_concurrency();
    settings.bAllowPlaintextLogins = options.bAllowPlaintextLogins;
    settings.nSessionLifetimeSeconds = options.nSessionLifetimeSeconds;
    settings.bSessionsInDatabase = options.bSessionsInDatabase;
    settings.nFailureDelayMaxMs = options.nFailureDelayMs;
    settings.nMaxElements = static_cast<size_t>(options.nMaxElements);
    settings.nParseBudget = static_cast<size_t>(options.nParseBudget);
    // A login is CPU work (the RSA step, the hash): more at once than there are cores only shares
    // the cores out between them, and a quiet peer's turn then runs beside the flooders' turns.
    settings.nAuthSlots = options.nAuthWorkers > 0 ? static_cast<int>(options.nAuthWorkers)
                                                   : static_cast<int>(nCores > 1 ? nCores : 2);
    return settings;
}

// The transport's limits and time-outs from the options; its socket settings are added at start.
Corvel::DaemonServerOptions serverLimits(const Options& options)
{
    Corvel::DaemonServerOptions serverOptions;
    serverOptions.nMaxConnections = static_cast<size_t>(options.nMaxConnections);
    serverOptions.nIdleMs = options.nIdleSeconds * 1000;
    serverOptions.nAnonymousIdleMs = options.nAnonymousSeconds * 1000;
    serverOptions.nMaxPerPeer = static_cast<size_t>(options.nMaxPerPeer);
    serverOptions.nMaxRequest = static_cast<uint32_t>(options.nMaxRequest);
    return serverOptions;
}

// The group of unix socket files; false (logged) when there is no such group.
bool socketGroup(const Options& options, int& nGroup)
{
    nGroup = -1;
    if (options.strSocketGroup.empty()) return true;
    struct group* pgroup = getgrnam(options.strSocketGroup.c_str());
    char* pszEnd = nullptr;
    long nGid = std::strtol(options.strSocketGroup.c_str(), &pszEnd, 10);
    if (pgroup) {
        nGroup = static_cast<int>(pgroup->gr_gid);
    } else if (*pszEnd == '\0' && pszEnd != options.strSocketGroup.c_str() && nGid >= 0 &&
               nGid < INT_MAX) {
        nGroup = static_cast<int>(nGid);
    } else {
        Corvel::EventLogger::theLogger().logError("No group '" + options.strSocketGroup + "' for socket-group",
                                                  Corvel::layerService);
        return false;
    }
    return true;
}

// Loads the model as the options say; false (logged) when it cannot.
bool loadModel(const Options& options)
{
    Corvel::EventLogger& logger = Corvel::EventLogger::theLogger();
    try {
        OstrelDataDB::Factory::initialize(options.strConnect, options.mode);
    } catch (const OstrelData::Exception& e) {
        logger.logError("Cannot load the model: " + e.legend() + " (code " + std::to_string(e.errorCode()) + ")",
                        Corvel::layerDatabase);
        return false;
    } catch (const std::exception& e) {
        logger.logError(std::string("Cannot load the model: ") + e.what(), Corvel::layerDatabase);
        return false;
    }
    size_t nServed = 0;
    for (const auto& entry : OstrelData::Factory::authenticators())
        nServed += entry.second != nullptr;
    logger.logInfo("Model loaded: " + std::to_string(OstrelData::Factory::domains().size()) + " domains (" +
                       std::to_string(nServed) + " with an authenticator), " +
                       std::to_string(OstrelData::Factory::products().size()) + " products",
                   Corvel::layerService);
    if (nServed == 0) logger.logWarning("No domain has an authenticator: nobody can log in", Corvel::layerService);
    return true;
}

// Where the options came from, for the log.
std::string configurationSource(const Options& options)
{
    return options.bConfigFileFound ? "configuration from " + options.strConfigFile
                                    : "no configuration file at " + options.strConfigFile;
}

// Every connection takes a descriptor, and the daemon needs some of its own (listeners, the
// database, the plug-ins' files): short of them, accept() fails while the limit says there is room.
void warnAboutFileLimit(const Options& options)
{
    struct rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return;
    const unsigned long long nNeeded = static_cast<unsigned long long>(options.nMaxConnections) + 64;
    if (nNeeded > limit.rlim_cur)
        Corvel::EventLogger::theLogger().logWarning(
            "max-connections " + std::to_string(options.nMaxConnections) + " needs about " + std::to_string(nNeeded) +
                " file descriptors, but the limit is " + std::to_string(static_cast<unsigned long long>(limit.rlim_cur)) +
                " (raise LimitNOFILE or ulimit -n, or lower max-connections)",
            Corvel::layerService);
}

// What systemd may show of a configuration that did not read: anyone may read a unit's status, so
// nothing of the values (they are quoted in the reason, and only there).
std::string shortReason(const std::string& strReason)
{
    std::string strShort = strReason.substr(0, strReason.find('\''));
    while (!strShort.empty() && (strShort.back() == ' ' || strShort.back() == ','))
        strShort.pop_back();
    if (strShort.size() >= 4 && strShort.compare(strShort.size() - 4, 4, " not") == 0) strShort.resize(strShort.size() - 4);
    while (!strShort.empty() && (strShort.back() == ' ' || strShort.back() == ','))
        strShort.pop_back();
    return strShort.size() > 160 ? strShort.substr(0, 157) + "..." : strShort;
}

// What SIGHUP changes besides the model: the configuration is read again (the command line as it
// was given, the file anew) and what may change while serving is applied; every other change is
// named in a warning. A file that does not read leaves everything as it was. Made before the
// signal thread starts; reread() runs on that thread, which alone owns the model watcher meanwhile.
class Reconfiguration {
public:
    // nCounterAtLoad: the model's change counter as read before the model was loaded (-1: unknown).
    Reconfiguration(const std::vector<std::string>& argS, const Options& started, Corvel::DaemonServer& server,
                    Ostreld::Service& service, std::int64_t nCounterAtLoad)
        : _argS(argS), _started(started), _applied(started), _server(server), _service(service),
          _nCleanupSeconds(started.nCleanupSeconds), _nConnectDigest(std::hash<std::string>{}(started.strConnect))
    {
        startWatcher(nCounterAtLoad);
    }

    // Returns why the file was not taken, short and without its values, or "" when it was.
    std::string reread()
    {
        Corvel::EventLogger& logger = Corvel::EventLogger::theLogger();
        Options next;
        try {
            next = Ostreld::readOptions(_argS);
        } catch (const OptionError& e) {
            logger.logError(std::string("Configuration not re-read, the running settings stay: ") + e.what(),
                            Corvel::layerService);
            rereadTls();
            return shortReason(e.what());
        }
        const std::vector<std::string> restartS =
            Ostreld::changedOptions(_started, next, Ostreld::OptionSpec::changeAtRestart);
        for (const std::string& strName : restartS)
            logger.logWarning("Option " + strName + " changed in " + next.strConfigFile +
                                  ": it takes a restart of ostreld to take effect",
                              Corvel::layerService);
        // The same connect-file may hold another string now; only a digest of the one started
        // with is kept, to tell.
        if (std::find(restartS.begin(), restartS.end(), "connect") == restartS.end() &&
            std::find(restartS.begin(), restartS.end(), "connect-file") == restartS.end()) {
            try {
                if (std::hash<std::string>{}(OstrelDal::chosenConnectString(next.connect, next.connectFile,
                                                                            pszDefaultConnect)) != _nConnectDigest)
                    logger.logWarning("The connect string" +
                                          (next.connectFile ? " in " + *next.connectFile : std::string()) +
                                          " changed: it takes a restart of ostreld to take effect",
                                      Corvel::layerService);
            } catch (const VeskDal::DalDatabaseException& e) {
                logger.logWarning(std::string("The connect string cannot be read now (") + e.what() +
                                      "); the database ostreld started with stays",
                                  Corvel::layerService);
            }
        }
        const std::vector<std::string> changedS =
            Ostreld::changedOptions(_applied, next, Ostreld::OptionSpec::changeAtReload);
        const bool bWatcherChanged = next.nReloadSeconds != _applied.nReloadSeconds;
        next.strConnect = _applied.strConnect;
        _applied = next;
        Corvel::EventLogger::setLevel(next.logLevel);
        OstrelDal::setStatementEcho(next.bTraceSql ? OstrelDal::echoLogger : OstrelDal::echoOff);
        OstrelData::Session::setSessionTimeout(static_cast<int>(next.nSessionSeconds));
        _service.setLimits(serviceSettings(next));
        _server.setLimits(serverLimits(next));
        _nCleanupSeconds.store(next.nCleanupSeconds);
        if (bWatcherChanged) {
            _pwatcher.reset();
            startWatcher();
        }
        logger.logInfo("Configuration re-read (" + configurationSource(next) + ")" +
                           (changedS.empty() ? std::string(": nothing changed that applies now")
                                             : ": applied " + joined(changedS)),
                       Corvel::layerService);
        rereadTls();
        return std::string();
    }

    // The model reloaded on the signal, through the watcher when there is one, which then takes
    // the change as seen rather than reloading it again.
    // Whether the model is whole afterwards: a failed reload leaves it as far as it got.
    bool reloadModel(const std::string& strWhy)
    {
        if (_pwatcher)
            _pwatcher->reloadNow(strWhy);
        else
            _service.reload(strWhy);
        return _service.modelWhole();
    }

    long cleanupMs() const { return _nCleanupSeconds.load() * 1000; }
    // Once the signal thread has ended.
    void stopWatcher() { _pwatcher.reset(); }

private:
    void startWatcher(std::int64_t nSeenAtLoad = -1)
    {
        Ostreld::Service& service = _service;
        if (_applied.nReloadSeconds > 0)
            _pwatcher = std::make_unique<Ostreld::ModelWatcher>(
                _applied.strConnect, _applied.nReloadSeconds * 1000,
                [&service](const std::string& strWhy) { service.reload(strWhy); },
                [&service] { return service.modelWhole(); }, nSeenAtLoad);
    }

    // A renewed certificate reaches new connections; open ones keep theirs.
    void rereadTls()
    {
        if (_started.tls.strCertFile.empty()) return;  // no tls: listener
        Corvel::EventLogger& logger = Corvel::EventLogger::theLogger();
        try {
            _server.setTls(_applied.tls);
            logger.logInfo("TLS certificate re-read from " + _applied.tls.strCertFile, Corvel::layerService);
        } catch (const Corvel::Exception& e) {
            logger.logError("TLS certificate not re-read, the old one stays: " + e.legend(), Corvel::layerService);
        }
    }

    const std::vector<std::string> _argS;
    const Options _started;  // what the daemon started with: the options that take a restart keep it
    Options _applied;        // what the last good read gave
    Corvel::DaemonServer& _server;
    Ostreld::Service& _service;
    std::atomic<long> _nCleanupSeconds;
    std::unique_ptr<Ostreld::ModelWatcher> _pwatcher;
    const size_t _nConnectDigest;  // of the connect string started with, which may hold a password
};

// --check-config: what a start does short of making the key and listening, said in a word.
int checkConfig(const Options& options)
{
    Corvel::EventLogger& logger = Corvel::EventLogger::theLogger();
    OstrelDal::setStatementEcho(options.bTraceSql ? OstrelDal::echoLogger : OstrelDal::echoOff);
    warnAboutDatabaseFile(options.strConnect);
    int nGroup = -1;
    bool bOk = socketGroup(options, nGroup);
    if (!options.tls.strCertFile.empty()) {
        try {
            Corvel::DaemonServer probe([](Corvel::ConnectionContext&, const std::string&) { return std::string(); });
            probe.setTls(options.tls);
        } catch (const Corvel::Exception& e) {
            logger.logError("Cannot serve TLS: " + e.legend(), Corvel::layerService);
            bOk = false;
        }
    }
    // A check must leave no trace: above all, no empty SQLite file where the database is yet to be
    // made (ostrel-admin init would then find one).
    Options checked = options;
    checked.strConnect = OstrelDal::readOnlyConnectString(options.strConnect);
    if (loadModel(checked)) {
        // The service checks at its making that the database can keep sessions; the key it is
        // given serves nothing here, so the smallest will do.
        try {
            Ostreld::KeyPair key(2048);
            OstrelData::Session::setSessionTimeout(static_cast<int>(options.nSessionSeconds));
            Ostreld::Service service(key, serviceSettings(options));
        } catch (const OstrelData::Exception& e) {
            logger.logError(e.legend(), Corvel::layerService);
            bOk = false;
        } catch (const std::exception& e) {
            logger.logError(e.what(), Corvel::layerService);
            bOk = false;
        }
    } else {
        bOk = false;
    }
    if (!bOk) {
        std::cerr << "ostreld: the configuration does not work (" << configurationSource(options) << ")\n";
        return nExitFailure;
    }
    std::cout << "ostreld: configuration OK (" << configurationSource(options) << ")\n";
    return nExitOk;
}

int serve(const Options& options, const std::vector<std::string>& argS)
{
    Corvel::EventLogger& logger = Corvel::EventLogger::theLogger();
    const sigset_t signalS = handledSignals();
    pthread_sigmask(SIG_BLOCK, &signalS, nullptr);
    signal(SIGPIPE, SIG_IGN);
    OstrelDal::setStatementEcho(options.bTraceSql ? OstrelDal::echoLogger : OstrelDal::echoOff);

    logger.logInfo("ostreld " + OstrelDataDB::Factory::version().text() + " starting (" + configurationSource(options) +
                       ")",
                   Corvel::layerService);
    warnAboutDatabaseFile(options.strConnect);
    warnAboutFileLimit(options);
    std::unique_ptr<Ostreld::KeyPair> pkey;
    try {
        pkey = std::make_unique<Ostreld::KeyPair>(options.nKeyBits);
    } catch (const std::exception& e) {
        logger.logError(e.what(), Corvel::layerService);
        return nExitFailure;
    }

    // Read before the load, so that a change made while the model loads and the daemon starts is
    // reloaded at the watcher's first look rather than taken as seen.
    const std::int64_t nCounterAtLoad =
        options.nReloadSeconds > 0 ? Ostreld::ModelWatcher::counterBeforeLoad(options.strConnect) : -1;
    if (!loadModel(options)) return nExitFailure;
    OstrelData::Session::setSessionTimeout(static_cast<int>(options.nSessionSeconds));

    const Ostreld::Service::Settings settings = serviceSettings(options);
    // Off, nothing counts: every hook is a null check.
    std::unique_ptr<Ostreld::Metrics> pmetrics;
    if (!options.strMetrics.empty()) pmetrics = std::make_unique<Ostreld::Metrics>(Ostreld::Service::requestNames());
    std::unique_ptr<Ostreld::Service> pservice;
    try {
        pservice = std::make_unique<Ostreld::Service>(*pkey, settings, pmetrics.get());
    } catch (const OstrelData::Exception& e) {
        logger.logError(e.legend(), Corvel::layerService);
        return nExitFailure;
    }
    Ostreld::Service& service = *pservice;

    Corvel::DaemonServerOptions serverOptions = serverLimits(options);
    serverOptions.nUnixMode = options.nSocketMode;
    if (!socketGroup(options, serverOptions.nUnixGroup)) return nExitFailure;
    Corvel::DaemonServer server(
        [&service](Corvel::ConnectionContext& context, const std::string& strRequest) {
            return service.answer(context, strRequest);
        },
        serverOptions);
    server.setCloseHandler([&service](Corvel::ConnectionContext& context) { service.connectionClosed(context); });
    const bool bTls = !options.tls.strCertFile.empty();
    try {
        if (bTls) server.setTls(options.tls);
    } catch (const Corvel::Exception& e) {
        logger.logError("Cannot serve TLS: " + e.legend(), Corvel::layerService);
        return nExitFailure;
    }
    try {
        for (const std::string& strAddress : options.listenS)
            server.listen(strAddress);
        server.start();
    } catch (const Corvel::Exception& e) {
        logger.logError("Cannot listen: " + e.legend(), Corvel::layerService);
        return nExitFailure;
    }
    for (const std::string& strAddress : server.addresses()) {
        if (strAddress.compare(0, 4, "tls:") == 0 || Ostreld::isLoopback(strAddress)) continue;
        logger.logWarning("Plain TCP on " + strAddress + ": anyone on the network path can read and redirect "
                              "what crosses it; " +
                              (options.bAllowPlaintextLogins
                                   ? std::string("passwords ARE taken there (--allow-plaintext-logins)")
                                   : std::string("passwords from beyond loopback are refused there")) +
                              "; listen on tls:HOST:PORT instead",
                          Corvel::layerSecurity);
    }
    // Up before the address file is written: whoever waits for that finds the metrics served too.
    std::unique_ptr<Ostreld::MetricsListener> pmetricsListener;
    if (pmetrics) {
        pmetrics->setSources({[&server] { return static_cast<long>(server.connections().size()); },
                              [&service] { return service.keptSessionCount(); },
                              [&service] { return service.healthProblem(); }});
        try {
            pmetricsListener = std::make_unique<Ostreld::MetricsListener>(*pmetrics, options.strMetrics);
        } catch (const std::exception& e) {
            logger.logError(std::string("Cannot serve metrics: ") + e.what(), Corvel::layerService);
            server.stop();
            return nExitFailure;
        }
        logger.logInfo("Metrics on http://" + pmetricsListener->address() + "/metrics, health on /healthz",
                       Corvel::layerService);
        if (!Ostreld::isLoopback(pmetricsListener->address()))
            logger.logWarning("Metrics on " + pmetricsListener->address() +
                                  " beyond loopback: plain HTTP without authentication, anyone who reaches it reads them",
                              Corvel::layerSecurity);
    }
    if (!options.strAddressFile.empty()) {
        try {
            writeAddressFile(options.strAddressFile, server.addresses());
        } catch (const std::exception& e) {
            logger.logError(e.what(), Corvel::layerService);
            server.stop();
            return nExitFailure;
        }
    }

    const std::string strServing = "STATUS=Serving on " + joined(server.addresses());
    notifyServiceManager("READY=1\n" + strServing);

    Reconfiguration reconfiguration(argS, options, server, service, nCounterAtLoad);
    std::atomic<bool> bStopping{false};
    std::thread signalThread([&] {
        while (!bStopping.load()) {
            timespec wait{0, 250 * 1000 * 1000};
            int nSignal = sigtimedwait(&signalS, nullptr, &wait);
            if (nSignal == SIGHUP) {
                timespec now{};
                clock_gettime(CLOCK_MONOTONIC, &now);
                notifyServiceManager("RELOADING=1\nSTATUS=Reloading\nMONOTONIC_USEC=" +
                                     std::to_string(static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000));
                std::string strNotRead;
                bool bWhole = false;
                // An exception ending this thread would end the daemon: a reload that throws is
                // one that failed.
                try {
                    strNotRead = reconfiguration.reread();
                    bWhole = reconfiguration.reloadModel("SIGHUP");
                } catch (const std::exception& e) {
                    logger.logError(std::string("Reload on SIGHUP failed: ") + e.what(), Corvel::layerService);
                }
                // systemctl reload has returned long since: the status is where a failure shows.
                notifyServiceManager("READY=1\n" +
                                     (!strNotRead.empty() ? "STATUS=Configuration not re-read: " + strNotRead
                                      : !bWhole ? std::string("STATUS=Model reload failed: serving it as far as it got (see the log)")
                                                : strServing));
            } else if (nSignal == SIGTERM || nSignal == SIGINT) {
                logger.logInfo(std::string("Stopping on ") + (nSignal == SIGTERM ? "SIGTERM" : "SIGINT"),
                               Corvel::layerService);
                server.requestStop();
            }
        }
    });

    while (!server.waitForStopRequest(reconfiguration.cleanupMs())) {
        service.cleanUpSessions();
        // A busy round leaves free pages scattered through the heap; handing those back each
        // round keeps the daemon's resident memory at what it uses, not at what it once used.
        malloc_trim(0);
    }
    notifyServiceManager("STOPPING=1\nSTATUS=Stopping");
    bStopping.store(true);
    signalThread.join();
    reconfiguration.stopWatcher();
    pmetricsListener.reset();  // it asks the server and the service
    server.stop();
    if (!options.strAddressFile.empty()) std::remove(options.strAddressFile.c_str());
    logger.logInfo("ostreld stopped", Corvel::layerService);
    return nExitOk;
}

// Whether the operator chose an allocator setting, in its variable or through glibc's tunables.
bool allocatorSettingGiven(const char* pszVariable, const char* pszTunable)
{
    if (std::getenv(pszVariable) != nullptr) return true;
    const char* pszTunables = std::getenv("GLIBC_TUNABLES");
    return pszTunables != nullptr && std::strstr(pszTunables, pszTunable) != nullptr;
}

// Made before any thread starts; what the operator set still decides.
void setAllocatorDefaults()
{
    // glibc gives every thread that allocates an arena of its own, up to eight per core, and each
    // reload leaves the arenas it passed through a little more scattered: under a steady load
    // with a reload a minute, two arenas kept growing where one stayed level, and on two cores one
    // served as many logins. With many cores under a heavy load of logins more may serve better.
    if (!allocatorSettingGiven("MALLOC_ARENA_MAX", "glibc.malloc.arena_max")) mallopt(M_ARENA_MAX, 1);
    // Every request builds and drops a few hundred kilobytes of XML and model objects. With the
    // allocator's defaults the heap is handed back to the system after a request and faulted in
    // again for the next one, which costs a tenth of a login; keeping a few megabytes avoids that.
    // A fixed threshold also keeps glibc from raising it after a reload's first large free.
    if (!allocatorSettingGiven("MALLOC_MMAP_THRESHOLD_", "glibc.malloc.mmap_threshold"))
        mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
    if (!allocatorSettingGiven("MALLOC_TRIM_THRESHOLD_", "glibc.malloc.trim_threshold"))
        mallopt(M_TRIM_THRESHOLD, 8 * 1024 * 1024);
}

} // namespace

int main(int argc, char** argv)
{
    setAllocatorDefaults();
    const std::vector<std::string> argS(argv + 1, argv + argc);
    Options options;
    try {
        options = Ostreld::readOptions(argS);
    } catch (const OptionError& e) {
        std::cerr << "ostreld: " << e.what() << " (see ostreld --help)\n";
        return nExitUsage;
    }
    if (options.bHelp) {
        std::cout << usage();
        return nExitOk;
    }
    if (options.bVersion) {
        std::cout << "ostreld " << OstrelDataDB::Factory::version().text() << "\n";
        return nExitOk;
    }
    Corvel::EventLogger::setLevel(options.logLevel);
    try {
        options.strConnect = OstrelDal::chosenConnectString(options.connect, options.connectFile, pszDefaultConnect);
    } catch (const VeskDal::DalDatabaseException& e) {
        std::cerr << "ostreld: " << e.what() << "\n";
        return nExitFailure;
    }
    if (options.bCheckConfig) return checkConfig(options);
    return serve(options, argS);
}
