// The daemon's configuration file, its re-reading on SIGHUP, --check-config and what it tells
// systemd: a real ostreld on a real SQLite database.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "DaemonHarness.h"
#include "Options.h"

namespace {

using namespace DaemonTest;

class DaemonConfig : public ::testing::Test {
protected:
    DaemonConfig() : _db("sqlite")
    {
        char szDir[] = "/tmp/ostreld-config-XXXXXX";
        if (::mkdtemp(szDir) == nullptr) throw std::runtime_error("cannot make a temporary folder");
        _strDir = szDir;
        _strConfig = _strDir + "/ostreld.conf";
    }
    ~DaemonConfig() override { std::filesystem::remove_all(_strDir); }

    void writeConfig(const std::string& strText) const
    {
        // Written aside and renamed: a SIGHUP never finds half a file.
        std::ofstream(_strConfig + ".new") << strText;
        std::filesystem::rename(_strConfig + ".new", _strConfig);
    }
    ProgramResult runDaemon(std::vector<std::string> argS) const
    {
        argS.insert(argS.begin(), OSTREL_TEST_DAEMON);
        return runProgram(argS);
    }

    SampleDatabase _db;
    std::string _strDir;
    std::string _strConfig;
};

// A request of about 5000 bytes: over a max-request of 4096, and answered (with an exception, as
// it is no XML) under a larger one.
bool answersLargeRequest(const DaemonProcess& daemon)
{
    WireClient client(daemon.address());
    try {
        client.exchange(std::string(5000, 'x'), 5000);
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

TEST_F(DaemonConfig, FileSetsOptionsTheCommandLineOverridesAndBadLinesAreRefusedWithTheirPlace)
{
    // A repeated option and the log level from the file; the log level overridden.
    writeConfig("# ostreld\n\nlisten = 127.0.0.1:0\n  listen=unix:" + _strDir +
                "/ostreld.sock\nlog-level = debug\nmax-request = \"4096\"\ntrace-sql = no\n");
    {
        DaemonProcess daemon(_db.connectString(), {"--config", _strConfig, "--log-level", "warning"}, false);
        ASSERT_EQ(2u, daemon.addresses().size());
        EXPECT_EQ("unix:" + _strDir + "/ostreld.sock", daemon.addresses()[1]);
        EXPECT_FALSE(answersLargeRequest(daemon));
        EXPECT_EQ(0, daemon.stop());
        EXPECT_EQ(std::string::npos, daemon.log().find(" INFO ")) << daemon.log();
    }
    {
        // The command line's --listen replaces the file's list.
        DaemonProcess daemon(_db.connectString(), {"--config", _strConfig, "--max-request", "65536"});
        EXPECT_EQ(1u, daemon.addresses().size());
        EXPECT_TRUE(answersLargeRequest(daemon));
    }

    const std::vector<std::pair<std::string, std::string>> badS = {
        {"log-level = info\n\nbogus = 1\n", ":3: unknown option 'bogus'"},
        {"# max\nmax-connections = lots\n", ":2: max-connections takes a whole number from 1 to 100000, not 'lots'"},
        {"allow-plaintext-logins = maybe\n", ":1: allow-plaintext-logins takes yes, no"},
        {"key-bits = 4096\nkey-bits = 2048\n", ":2: key-bits is set already on line 1"},
        {"listen 127.0.0.1:0\n", ":1: expected NAME = VALUE"},
        {"config = /etc/other.conf\n", ":1: config is given on the command line only"},
        {"connect = x\n" + std::string(5000, '#') + "\n", ":2: line longer than 4096 bytes"},
    };
    for (const auto& bad : badS) {
        writeConfig(bad.first);
        ProgramResult result = runDaemon({"--config", _strConfig, "--connect", _db.connectString()});
        EXPECT_EQ(2, result.nExitCode) << bad.first;
        EXPECT_NE(std::string::npos, result.strErr.find(_strConfig + bad.second)) << result.strErr;
    }
    // A value the command line overrides is checked all the same: the file is wrong.
    writeConfig("max-connections = 0\n");
    EXPECT_EQ(2, runDaemon({"--config", _strConfig, "--max-connections", "5"}).nExitCode);
    // A file named on the command line must be there; one that does not end must not be read whole.
    ProgramResult missing = runDaemon({"--config", _strDir + "/none.conf"});
    EXPECT_EQ(2, missing.nExitCode);
    EXPECT_NE(std::string::npos, missing.strErr.find("none.conf: no such file")) << missing.strErr;
    {
        std::ofstream huge(_strConfig);
        const std::string strLine(100, '#');
        for (int i = 0; i < 11000; ++i)
            huge << strLine << "\n";
    }
    ProgramResult huge = runDaemon({"--config", _strConfig});
    EXPECT_EQ(2, huge.nExitCode);
    EXPECT_NE(std::string::npos, huge.strErr.find("larger than 1048576 bytes")) << huge.strErr;
}

TEST_F(DaemonConfig, SighupAppliesWhatItCanWarnsOfTheRestAndKeepsGoingOnABadFile)
{
    writeConfig("listen = 127.0.0.1:0\nmax-request = 4096\nlog-level = info\n");
    DaemonProcess daemon(_db.connectString(), {"--config", _strConfig}, false);
    EXPECT_FALSE(answersLargeRequest(daemon));

    writeConfig("listen = 127.0.0.1:1\nmax-request = 65536\nlog-level = debug\nsessions = memory\n");
    daemon.signal(SIGHUP);
    ASSERT_TRUE(daemon.waitForLog("applied log-level, max-request")) << daemon.log();
    EXPECT_TRUE(daemon.waitForLog("Option listen changed in " + _strConfig + ": it takes a restart"));
    EXPECT_TRUE(daemon.waitForLog("Option sessions changed"));
    EXPECT_TRUE(answersLargeRequest(daemon));
    EXPECT_TRUE(daemon.waitForLog("DEBUG")) << "the new log level";

    // The reloads so far: the one the bad file's signal makes must come on top of them.
    const auto reloads = [&daemon] {
        const std::string strLog = daemon.log();
        size_t n = 0;
        for (size_t at = strLog.find("Model reloaded"); at != std::string::npos; at = strLog.find("Model reloaded", at + 1))
            ++n;
        return n;
    };
    ASSERT_TRUE(daemon.waitForLog("Model reloaded"));
    const size_t nReloads = reloads();
    writeConfig("listen = 127.0.0.1:1\nmax-request = a lot\n");
    daemon.signal(SIGHUP);
    EXPECT_TRUE(daemon.waitForLog("Configuration not re-read, the running settings stay: " + _strConfig +
                                  ":2: max-request takes"))
        << daemon.log();
    for (int i = 0; i < 100 && reloads() == nReloads; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_GT(reloads(), nReloads) << "the model is reloaded all the same";
    EXPECT_TRUE(answersLargeRequest(daemon));
    EXPECT_EQ(0, daemon.stop());
}

TEST_F(DaemonConfig, CheckConfigSaysWhetherTheDaemonWouldStartWithoutListening)
{
    const std::string strAddressFile = _strDir + "/address";
    writeConfig("connect = " + _db.connectString() + "\nlisten = 127.0.0.1:0\naddress-file = " + strAddressFile + "\n");
    ProgramResult good = runDaemon({"--config", _strConfig, "--check-config"});
    EXPECT_EQ(0, good.nExitCode) << good.strErr;
    EXPECT_EQ("ostreld: configuration OK (configuration from " + _strConfig + ")\n", good.strOut) << "one line";
    EXPECT_FALSE(std::filesystem::exists(strAddressFile)) << "it listened";
    // A group number past what a gid holds is no group (it wrapped to root's).
    for (const char* pszGroup : {"4294967296", "99999999999999999999"}) {
        ProgramResult badGroup = runDaemon({"--config", _strConfig, "--socket-group", pszGroup, "--check-config"});
        EXPECT_EQ(1, badGroup.nExitCode) << pszGroup;
    }

    // A check writes nothing: no empty database where ostrel-admin init is yet to make one.
    const std::string strMissing = _strDir + "/none.db";
    ProgramResult noDatabase =
        runDaemon({"--config", _strConfig, "--connect", "engine=sqlite;database=" + strMissing, "--check-config"});
    EXPECT_EQ(1, noDatabase.nExitCode);
    EXPECT_NE(std::string::npos, noDatabase.strErr.find("Cannot load the model: Cannot open SQLite database " +
                                                        strMissing + ": database file missing"))
        << noDatabase.strErr;
    EXPECT_NE(std::string::npos, noDatabase.strErr.find("the configuration does not work")) << noDatabase.strErr;
    EXPECT_FALSE(std::filesystem::exists(strMissing)) << "the check made the database";

    // The file the package installs: every option there, and good as it is.
    const std::string strShipped = std::string(OSTREL_SQL_DIR) + "/../daemon/ostreld.conf";
    std::ifstream shipped(strShipped);
    const std::string strShippedText((std::istreambuf_iterator<char>(shipped)), std::istreambuf_iterator<char>());
    for (const Ostreld::OptionSpec& spec : Ostreld::optionSpecs())
        if (spec.change != Ostreld::OptionSpec::commandLineOnly) {
            const std::string strName = spec.pszName;
            EXPECT_TRUE(strShippedText.find("\n# " + strName + " = ") != std::string::npos ||
                        strShippedText.find("\n" + strName + " = ") != std::string::npos)
                << strName << " is not in " << strShipped;
        }
    ProgramResult shippedResult = runDaemon({"--config", strShipped, "--connect", _db.connectString(), "--check-config"});
    EXPECT_EQ(0, shippedResult.nExitCode) << shippedResult.strErr;
    // The check reads without writing, and setting a journal mode writes: the daemon sets it.
    ProgramResult wal = runDaemon(
        {"--config", strShipped, "--connect", _db.connectString() + ";journal_mode=wal", "--check-config"});
    EXPECT_EQ(0, wal.nExitCode) << wal.strErr;

    writeConfig("connect = " + _db.connectString() + "\nmode = everything\n");
    ProgramResult badFile = runDaemon({"--config", _strConfig, "--check-config"});
    EXPECT_EQ(2, badFile.nExitCode);
    EXPECT_NE(std::string::npos, badFile.strErr.find(_strConfig + ":2: mode takes authenticator")) << badFile.strErr;
}

// The file chooses the database, and may hold its password: one that others could change, or read
// with a password in it, is refused, and so is what is no file at all (a FIFO would hang the start).
TEST_F(DaemonConfig, FileOthersMayChangeOrReadAPasswordInIsRefused)
{
    auto refusal = [this](mode_t nMode) -> std::string {
        std::filesystem::permissions(_strConfig, static_cast<std::filesystem::perms>(nMode));
        try {
            Ostreld::configFileSettings(_strConfig, true);
            return std::string();
        } catch (const Ostreld::OptionError& e) {
            return e.what();
        }
    };
    writeConfig("log-level = info\n");
    EXPECT_EQ("", refusal(0644));
    EXPECT_NE(std::string::npos, refusal(0664).find(_strConfig + ": writable by its group")) << refusal(0664);
    EXPECT_NE(std::string::npos, refusal(0646).find(_strConfig + ": writable by others")) << refusal(0646);

    writeConfig("connect = engine=postgresql;host=db;password=\"s3;cret\";database=ostrel\n");
    const std::string strReadable = refusal(0644);
    EXPECT_NE(std::string::npos, strReadable.find(_strConfig + ": readable by every local user")) << strReadable;
    EXPECT_NE(std::string::npos, strReadable.find("connect-file")) << strReadable;
    EXPECT_EQ(std::string::npos, strReadable.find("s3")) << "the password itself";
    EXPECT_EQ("", refusal(0640)) << "the group is the daemon's";
    writeConfig("connect = " + _db.connectString() + "\n");
    EXPECT_EQ("", refusal(0644)) << "no password, nothing to hide";

    const std::string strFifo = _strDir + "/fifo";
    ASSERT_EQ(0, ::mkfifo(strFifo.c_str(), 0600));
    ProgramResult fifo = runDaemon({"--config", strFifo, "--check-config"});
    EXPECT_EQ(2, fifo.nExitCode);
    EXPECT_NE(std::string::npos, fifo.strErr.find(strFifo + ": not a regular file")) << fifo.strErr;
}

// What systemd hears on its notification socket: a datagram socket of the test's own.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& strPath) : _fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        strPath.copy(addr.sun_path, sizeof addr.sun_path - 1);
        if (_fd < 0 || ::bind(_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            throw std::runtime_error("cannot bind " + strPath);
        timeval timeout{20, 0};
        ::setsockopt(_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~NotifySocket() { ::close(_fd); }
    // The next message; "" when none came in time.
    std::string next()
    {
        char buffer[4096];
        ssize_t n = ::recv(_fd, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    }

private:
    int _fd;
};

TEST_F(DaemonConfig, TellsSystemdWhenReadyReloadingAndStopping)
{
    const std::string strSocket = _strDir + "/notify";
    NotifySocket notify(strSocket);
    // The database from a connect-file, whose text a reload compares.
    const std::string strConnectFile = _strDir + "/connect";
    std::ofstream(strConnectFile) << _db.connectString() << "\n";
    std::filesystem::permissions(strConnectFile, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    writeConfig("connect-file = " + strConnectFile + "\n");
    ::setenv("NOTIFY_SOCKET", strSocket.c_str(), 1);
    std::unique_ptr<DaemonProcess> pdaemon;
    try {
        pdaemon = std::make_unique<DaemonProcess>("", std::vector<std::string>{"--config", _strConfig});
    } catch (...) {
        ::unsetenv("NOTIFY_SOCKET");
        throw;
    }
    ::unsetenv("NOTIFY_SOCKET");
    const std::string strReady = notify.next();
    EXPECT_EQ(0u, strReady.find("READY=1\n")) << strReady;
    EXPECT_NE(std::string::npos, strReady.find("STATUS=Serving on " + pdaemon->address())) << strReady;

    pdaemon->signal(SIGHUP);
    const std::string strReloading = notify.next();
    EXPECT_EQ(0u, strReloading.find("RELOADING=1\n")) << strReloading;
    EXPECT_NE(std::string::npos, strReloading.find("MONOTONIC_USEC=")) << strReloading;
    EXPECT_EQ(0u, notify.next().find("READY=1\n"));
    ASSERT_TRUE(pdaemon->waitForLog("Model reloaded"));

    // The same connect-file naming another database: a restart's business, and said so.
    std::ofstream(strConnectFile) << _db.connectString() << ";busy_timeout=4000\n";
    pdaemon->signal(SIGHUP);
    EXPECT_TRUE(pdaemon->waitForLog("The connect string in " + strConnectFile + " changed: it takes a restart"))
        << pdaemon->log();
    // A file that does not read: the status, which any user may see, says where, not what.
    writeConfig("connect-file = " + strConnectFile + "\nmax-request = s3cret\n");
    pdaemon->signal(SIGHUP);
    std::string strStatus;
    for (int i = 0; i < 4 && strStatus.find("not re-read") == std::string::npos; ++i)
        strStatus = notify.next();
    EXPECT_EQ(0u, strStatus.find("READY=1\nSTATUS=Configuration not re-read: " + _strConfig + ":2: max-request takes"))
        << strStatus;
    EXPECT_EQ(std::string::npos, strStatus.find("s3cret")) << strStatus;

    // A model that does not load: the status says so.
    std::ofstream(strConnectFile) << _db.connectString() << "\n";
    writeConfig("connect-file = " + strConnectFile + "\n");
    _db.renameTable("Product", "ProductAway");
    pdaemon->signal(SIGHUP);
    strStatus.clear();
    for (int i = 0; i < 4 && strStatus.find("Model reload") == std::string::npos; ++i)
        strStatus = notify.next();
    _db.renameTable("ProductAway", "Product");
    EXPECT_EQ(0u, strStatus.find("READY=1\nSTATUS=Model reload failed: serving it as far as it got")) << strStatus;

    EXPECT_EQ(0, pdaemon->stop());
    EXPECT_EQ(0u, notify.next().find("STOPPING=1\n"));
}

} // namespace
