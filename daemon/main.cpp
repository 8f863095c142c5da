// ostreld: serves the client protocol from the database-backed factory.

#include <fcntl.h>
#include <grp.h>
#include <malloc.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

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
    "  --help, --version\n"
    "\n"
    "Signals: SIGTERM and SIGINT stop it (replies in progress still go out); SIGHUP reloads the model,\n"
    "re-reads the TLS files and the configuration file, and applies what changed there but listen,\n"
    "connect, connect-file, mode, key-bits, sessions, auth-workers, allow-plaintext-logins,\n"
    "address-file and the socket options, which take a restart (a warning says so).\n"
    "Exit status: 0 after a clean stop (or a good --check-config), 1 when it cannot start, 2 for a bad\n"
    "command line or configuration file.\n";

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

int serve(const Options& options)
{
    Corvel::EventLogger& logger = Corvel::EventLogger::theLogger();
    const sigset_t signalS = handledSignals();
    pthread_sigmask(SIG_BLOCK, &signalS, nullptr);
    signal(SIGPIPE, SIG_IGN);
    OstrelDal::setStatementEcho(options.bTraceSql ? OstrelDal::echoLogger : OstrelDal::echoOff);

    logger.logInfo("ostreld " + OstrelDataDB::Factory::version().text() + " starting", Corvel::layerService);
    warnAboutDatabaseFile(options.strConnect);
    std::unique_ptr<Ostreld::KeyPair> pkey;
    try {
        pkey = std::make_unique<Ostreld::KeyPair>(options.nKeyBits);
    } catch (const std::exception& e) {
        logger.logError(e.what(), Corvel::layerService);
        return nExitFailure;
    }

    try {
        OstrelDataDB::Factory::initialize(options.strConnect, options.mode);
    } catch (const OstrelData::Exception& e) {
        logger.logError("Cannot load the model: " + e.legend() + " (code " + std::to_string(e.errorCode()) + ")",
                        Corvel::layerDatabase);
        return nExitFailure;
    } catch (const std::exception& e) {
        logger.logError(std::string("Cannot load the model: ") + e.what(), Corvel::layerDatabase);
        return nExitFailure;
    }
    size_t nServed = 0;
    for (const auto& entry : OstrelData::Factory::authenticators())
        nServed += entry.second != nullptr;
    logger.logInfo("Model loaded: " + std::to_string(OstrelData::Factory::domains().size()) + " domains (" +
                       std::to_string(nServed) + " with an authenticator), " +
                       std::to_string(OstrelData::Factory::products().size()) + " products",
                   Corvel::layerService);
    if (nServed == 0) logger.logWarning("No domain has an authenticator: nobody can log in", Corvel::layerService);
    OstrelData::Session::setSessionTimeout(static_cast<int>(options.nSessionSeconds));

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
    std::unique_ptr<Ostreld::Service> pservice;
    try {
        pservice = std::make_unique<Ostreld::Service>(*pkey, settings);
    } catch (const OstrelData::Exception& e) {
        logger.logError(e.legend(), Corvel::layerService);
        return nExitFailure;
    }
    Ostreld::Service& service = *pservice;

    Corvel::DaemonServerOptions serverOptions;
    serverOptions.nMaxConnections = static_cast<size_t>(options.nMaxConnections);
    serverOptions.nIdleMs = options.nIdleSeconds * 1000;
    serverOptions.nAnonymousIdleMs = options.nAnonymousSeconds * 1000;
    serverOptions.nMaxPerPeer = static_cast<size_t>(options.nMaxPerPeer);
    serverOptions.nMaxRequest = static_cast<uint32_t>(options.nMaxRequest);
    serverOptions.nUnixMode = options.nSocketMode;
    if (!options.strSocketGroup.empty()) {
        struct group* pgroup = getgrnam(options.strSocketGroup.c_str());
        char* pszEnd = nullptr;
        long nGid = std::strtol(options.strSocketGroup.c_str(), &pszEnd, 10);
        if (pgroup) {
            serverOptions.nUnixGroup = static_cast<int>(pgroup->gr_gid);
        } else if (*pszEnd == '\0' && nGid >= 0) {
            serverOptions.nUnixGroup = static_cast<int>(nGid);
        } else {
            logger.logError("No group '" + options.strSocketGroup + "' for --socket-group", Corvel::layerService);
            return nExitFailure;
        }
    }
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
    if (!options.strAddressFile.empty()) {
        try {
            writeAddressFile(options.strAddressFile, server.addresses());
        } catch (const std::exception& e) {
            logger.logError(e.what(), Corvel::layerService);
            server.stop();
            return nExitFailure;
        }
    }

    std::atomic<bool> bStopping{false};
    std::thread signalThread([&] {
        while (!bStopping.load()) {
            timespec wait{0, 250 * 1000 * 1000};
            int nSignal = sigtimedwait(&signalS, nullptr, &wait);
            if (nSignal == SIGHUP) {
                if (bTls) {
                    // A renewed certificate reaches new connections; open ones keep theirs.
                    try {
                        server.setTls(options.tls);
                        logger.logInfo("TLS certificate re-read from " + options.tls.strCertFile, Corvel::layerService);
                    } catch (const Corvel::Exception& e) {
                        logger.logError("TLS certificate not re-read, the old one stays: " + e.legend(),
                                        Corvel::layerService);
                    }
                }
                service.reload("SIGHUP");
            } else if (nSignal == SIGTERM || nSignal == SIGINT) {
                logger.logInfo(std::string("Stopping on ") + (nSignal == SIGTERM ? "SIGTERM" : "SIGINT"),
                               Corvel::layerService);
                server.requestStop();
            }
        }
    });

    std::unique_ptr<Ostreld::ModelWatcher> pwatcher;
    if (options.nReloadSeconds > 0)
        pwatcher = std::make_unique<Ostreld::ModelWatcher>(
            options.strConnect, options.nReloadSeconds * 1000, [&service](const std::string& strWhy) { service.reload(strWhy); });
    while (!server.waitForStopRequest(options.nCleanupSeconds * 1000))
        service.cleanUpSessions();
    pwatcher.reset();
    server.stop();
    bStopping.store(true);
    signalThread.join();
    if (!options.strAddressFile.empty()) std::remove(options.strAddressFile.c_str());
    logger.logInfo("ostreld stopped", Corvel::layerService);
    return nExitOk;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> argS(argv + 1, argv + argc);
    Options options;
    try {
        options = Ostreld::readOptions(argS);
    } catch (const OptionError& e) {
        std::cerr << "ostreld: " << e.what() << " (see ostreld --help)\n";
        return nExitUsage;
    }
    if (options.bHelp) {
        std::cout << pszUsage;
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
    // Every request builds and drops a few hundred kilobytes of XML and model objects on its
    // connection's thread. With the allocator's defaults each thread's heap is handed back to the
    // system after a request and faulted in again for the next one, which costs a tenth of a
    // login; keeping a few megabytes per heap avoids that.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 8 * 1024 * 1024);
    return serve(options);
}
