#ifndef OSTREL_TESTS_DAEMON_DAEMONHARNESS_H
#define OSTREL_TESTS_DAEMON_DAEMONHARNESS_H

// Real parts for the daemon's tests: a database made by ostrel-admin with sample data, a real
// ostreld process on loopback, and a client of its own over the transport (several of them may
// live in one process, unlike the client factory's single connection).

#include <sys/types.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Corvel/DaemonComm.h"
#include "OstrelData/OstrelData.h"
#include "harness/TestDatabases.h"
#include "Vesk/XMLDoc.h"
#include "crypto/rsa.h"

namespace DaemonTest {

// What a program printed and how it ended.
struct ProgramResult {
    int nExitCode = -1;  // -1 when killed by a signal
    std::string strOut;
    std::string strErr;
};

// Runs a program to its end with strInput on its standard input.
ProgramResult runProgram(const std::vector<std::string>& argS, const std::string& strInput = std::string());

// Runs ostrel-admin on the database; fails the test when it does not succeed.
std::string admin(const std::string& strConnect, const std::vector<std::string>& argS,
                  const std::string& strInput = std::string());

// The sample model every daemon test starts from, made through ostrel-admin:
//   customer ACME; domains EAST (SQL password plug-in, lowest hashing cost, lockout after 3 failures
//   for 5 seconds) and WEST (the same plug-in at a cost high enough that a login takes a while);
//   users of EAST with password "<user>-pw": alice (administrator and maintainer of product 0),
//   bob and carol (ordinary), dave and erin (spare, for tests that change them); frank of WEST;
//   team 7 "Ops" (alice lead, bob), team 8 "Dev" (erin);
//   product 10 "Widgets": roles 1 Operator (carries permissions 1 and 2), 2 Auditor (carries 3);
//   permissions 1 Start, 2 Stop, 3 Audit; team 7 granted role 10:1; bob's permission 10:2 revoked;
//   profiles "default" (default) and "night".
class SampleDatabase {
public:
    explicit SampleDatabase(const std::string& strEngine);
    const std::string& connectString() const { return _db.connectString(); }
    const std::string& engine() const { return _db.engine(); }
    // Runs ostrel-admin on this database.
    std::string admin(const std::vector<std::string>& argS, const std::string& strInput = std::string()) const
    {
        return DaemonTest::admin(connectString(), argS, strInput);
    }
    // Renames a table, as a way to make the model fail to load (and back again).
    void renameTable(const char* pszFrom, const char* pszTo) const;

private:
    OstrelTest::ScratchDatabase _db;
};

// A running ostreld on a free loopback port. Stopped (SIGKILL if need be) when destroyed.
class DaemonProcess {
public:
    // Starts the daemon with the arguments given after --connect, --listen and --address-file
    // (and --config with an empty file, unless they name one), and waits until it listens; fails
    // the test when it does not. bListenArgument false leaves --listen to the configuration file,
    // an empty strConnect the database.
    DaemonProcess(const std::string& strConnect, const std::vector<std::string>& extraS = {},
                  bool bListenArgument = true);
    ~DaemonProcess();
    DaemonProcess(const DaemonProcess&) = delete;
    DaemonProcess& operator=(const DaemonProcess&) = delete;

    const std::string& address() const { return _strAddress; }
    // Every address listened on (the first is address()), as the address file lists them.
    const std::vector<std::string>& addresses() const { return _addressS; }
    pid_t pid() const { return _pid; }
    void signal(int nSignal) const;
    // Sends SIGTERM and waits for the end; returns the exit code (-1 after a signal or time-out).
    int stop(long nTimeoutMs = 20000);
    // The daemon's log so far.
    std::string log() const;
    // Waits until the log holds strText; false after nTimeoutMs.
    bool waitForLog(const std::string& strText, long nTimeoutMs = 10000) const;

private:
    pid_t _pid = -1;
    std::string _strDir;
    std::string _strAddress;
    std::vector<std::string> _addressS;
};

// One connection to the daemon, speaking the protocol with the shared codec.
class WireClient {
public:
    // tls: the trust for a "tls:" address.
    explicit WireClient(const std::string& strAddress, const Corvel::DaemonCommTls& tls = Corvel::DaemonCommTls());
    ~WireClient();

    // Sends one request text and waits for its reply; throws std::runtime_error when the link
    // breaks or nothing comes within nTimeoutMs.
    std::string exchange(const std::string& strRequest, long nTimeoutMs = 20000);
    Vesk::XMLDoc exchange(const Vesk::XMLDoc& docRequest, long nTimeoutMs = 20000);
    bool isConnected() const { return _comm.isConnected(); }

    // "initialize" with the given version; loads the daemon's key when the answer is "rsa".
    Vesk::XMLDoc initialize(const std::string& strVersion = "5.0.4.0");
    // The token encrypted with the daemon's key, in Base64 as the protocol carries it.
    std::string encrypt(const std::string& strPassword) const;
    Vesk::XMLDoc authenticate(const std::string& strDomain, const std::string& strUserId,
                              const std::string& strPassword, const std::string& strProfile = "default");
    // A request with no payload.
    Vesk::XMLDoc simple(const std::string& strRequest);

private:
    void received(Corvel::DaemonComm::Status status, const std::string& strMessage);

    Corvel::DaemonComm _comm;
    std::mutex _mx;  // guards the three below
    std::condition_variable _cv;
    bool _bHaveReply = false;
    bool _bBroken = false;
    std::string _strReply;
    rsa_key _key{};
};

// The response attribute of a reply, and its exception's code (0 when it has none).
std::string responseOf(const Vesk::XMLDoc& doc);
int errorCodeOf(const Vesk::XMLDoc& doc);
std::string legendOf(const Vesk::XMLDoc& doc);

// A domain of customer ACME as a client would build it, for request elements.
const OstrelData::Domain& clientDomain(const std::string& strDomain);

// Whether the user holds the role (granted) of the product.
bool hasRole(const OstrelData::User& user, int nProduct, int nRole);
// A request carrying an authenticated-user element as the client writes it, or a session element.
Vesk::XMLDoc requestWithUser(const std::string& strRequest, const OstrelData::AuthenticatedUser& user);
Vesk::XMLDoc requestWithSession(const std::string& strRequest, const std::string& strSession);
// A client of its own, initialised and (unless strUser is empty) logged in as EAST/strUser with
// the sample password; throws std::runtime_error when the login is refused.
std::unique_ptr<WireClient> loggedIn(const DaemonProcess& daemon, const std::string& strUser);
// Keeps a login of EAST/strUser and returns the kept session's id; throws when refused.
std::string keptSession(const DaemonProcess& daemon, const std::string& strUser);
// The reply to retrievesession of the session on a new connection.
Vesk::XMLDoc retrieved(const DaemonProcess& daemon, const std::string& strSession);

} // namespace DaemonTest

#endif
