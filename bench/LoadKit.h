#ifndef OSTREL_BENCH_LOADKIT_H
#define OSTREL_BENCH_LOADKIT_H

// What the benchmarks that load a real ostreld share: programs run and daemons started as child
// processes, a client speaking the daemon's protocol, and client processes started together and
// timed together.

#include <sys/types.h>

#include <cstdint>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "Corvel/DaemonComm.h"
#include "OstrelData/OstrelData.h"
#include "crypto/rsa.h"
#include "gen/Generator.h"

namespace OstrelBench {

// The organisation the load benchmarks generate (see bench/gen): 2,000 users in 20 domains, each
// in 2 teams of 100, 10 products of 5 roles and 8 permissions.
OstrelGen::Size loadSize();
// The domain of user nUser of that organisation (users go round the domains).
const OstrelData::Domain& domainOf(int nUser);

// The whole file; empty when it cannot be read.
std::string readFile(const std::string& strPath);

// Runs a program to its end (found on PATH when the name has no slash), its output appended to
// strLog and strStdin written to its input; throws with that output when it fails.
void run(const std::vector<std::string>& argS, const std::string& strLog, const std::string& strStdin = "");

// Starts a daemon that writes its addresses, one a line, to strAddressFile once it listens; its
// output goes to strLog. Returns its pid and fills addressS; throws with the log when it does not
// come up.
pid_t startDaemon(const std::vector<std::string>& argS, const std::string& strLog,
                  const std::string& strAddressFile, std::vector<std::string>& addressS);
// Stops it (SIGTERM) and waits for it; nothing when pid <= 0.
void stopDaemon(pid_t pid);

// A TCP port free on 127.0.0.1 when asked (another process may take it before it is used).
int freeLoopbackPort();
// The body of "GET strPath" from "host:port" over plain HTTP; throws std::runtime_error unless 200
// comes back.
std::string httpGet(const std::string& strHostPort, const std::string& strPath);

// The resident memory of a process now (VmRSS), in KiB; 0 when it cannot be read.
long residentKiB(pid_t pid);

// CPU seconds (user and system) a process has used so far.
double processCpuSeconds(pid_t pid);
// The CPU time of the child processes that have ended and been waited for.
double childrenCpuSeconds();

// Every user of the database gets the first user's password hash (one hash at the daemon's cost
// serves them all; hashing thousands of passwords would take minutes).
void shareFirstUsersHash(const std::string& strConnect, const std::string& strFirstUserId);

// One client with its own link to the daemon.
class LoadClient {
public:
    LoadClient(const std::string& strAddress, const std::string& strPassword);
    ~LoadClient();
    LoadClient(const LoadClient&) = delete;
    LoadClient& operator=(const LoadClient&) = delete;

    // Connects; a TLS address with the given trust.
    void connect(const Corvel::DaemonCommTls& tls = Corvel::DaemonCommTls());
    void disconnect() { _comm.disconnect(); }
    // Fetches the daemon's key, as the client library does on every connection it makes.
    void fetchKey();

    // One login and a permission check on its result; false when the login was refused. The login
    // goes to pauthenticated when given.
    bool loginAndCheck(const OstrelData::User& user, OstrelData::AuthenticatedUser* pauthenticated = nullptr);
    // A login with the password as strPassword instead; false when refused.
    bool loginWith(const OstrelData::User& user, const std::string& strPassword);
    // Keeps this connection's login (persistsession); false when refused.
    bool persist(const OstrelData::AuthenticatedUser& authenticated);
    // Takes a kept session as this connection's login (retrievesession); false when refused.
    bool retrieve(const OstrelData::Session& session);
    // Ends a kept session (killsession); false when refused.
    bool kill(const OstrelData::Session& session);
    // The last reply, for telling why a request was refused (a refusal carries no secret).
    const std::string& lastReply() const { return _strReply; }

private:
    // The reply's root element name and the reply itself.
    std::string exchange(const std::string& strRequest);
    std::string encrypted(const std::string& strPassword) const;

    Corvel::DaemonComm _comm;
    const std::string _strPassword;
    std::mutex _mx;
    std::condition_variable _cv;
    bool _bReply = false;
    bool _bBroken = false;
    std::string _strReply;
    rsa_key _key{};
};

// What one client process reports when its run is over.
struct ClientOutcome {
    int nRefused = 0;
    int bFailed = 0;
    double dConnectMs = 0;  // all its timed connects together, handshakes included
};

// The body of client process c: it prepares (connects), calls ready(), which returns at the start,
// works until the end of its run, and fills its outcome and its latencies (ms), one list per kind
// of operation. An exception counts as a failure of the client.
using ClientBody = std::function<void(int c, const std::function<void()>& ready, ClientOutcome& outcome,
                                      std::vector<std::vector<double>>& latencyS)>;

// What came back from the client processes of one run.
struct ClientsResult {
    bool bFailed = false;  // a client failed or did not report
    std::vector<ClientOutcome> outcomeS;                       // by client
    std::vector<std::vector<std::vector<double>>> latencyS;  // by client, then by kind
    double dSeconds = 0;                                       // from the start to the last report
};

// Runs nClients processes at once, each a fork of this one running body: every client is a
// process of its own, as applications are (the client library keeps one connection and its caches
// per process, so nothing is shared between clients here that would not be shared between real
// ones). atStart runs once all are ready, just before they go.
ClientsResult runClients(int nClients, size_t nKinds, const ClientBody& body, const std::function<void()>& atStart);

// The sorted latencies' median and 99th percentile; 0 when there are none.
double percentile(const std::vector<double>& sortedS, int nPercent);

} // namespace OstrelBench

#endif
