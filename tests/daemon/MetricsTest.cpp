// The daemon's metrics and health over HTTP (--metrics): the numbers after a known run of
// requests, the health following the database, and what the listener refuses. The health test
// stops the shared PostgreSQL server a while, so this suite runs alone.

#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "DaemonHarness.h"

namespace {

using namespace DaemonTest;

struct HttpReply {
    int nStatus = 0;
    std::string strBody;
};

// A connection to the listener; -1 when none can be made.
int connected(const std::string& strAddress)
{
    const bool bBracketed = strAddress[0] == '[';
    const std::string::size_type nColon = strAddress.rfind(':');
    const std::string strHost = strAddress.substr(bBracketed ? 1 : 0, nColon - (bBracketed ? 2 : 0));
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* paddress = nullptr;
    if (getaddrinfo(strHost.c_str(), strAddress.substr(nColon + 1).c_str(), &hints, &paddress) != 0) return -1;
    int fd = socket(paddress->ai_family, SOCK_STREAM, 0);
    timeval timeout{10, 0};
    if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (fd >= 0 && connect(fd, paddress->ai_addr, paddress->ai_addrlen) != 0) {
        close(fd);
        fd = -1;
    }
    freeaddrinfo(paddress);
    return fd;
}

// One request on a connection of its own, read to its end; status 0 when nothing came back.
HttpReply http(const std::string& strAddress, const std::string& strMethod, const std::string& strPath,
               const std::string& strMoreHeaders = std::string())
{
    HttpReply reply;
    const int fd = connected(strAddress);
    if (fd >= 0) {
        const std::string strRequest = strMethod + " " + strPath + " HTTP/1.1\r\nHost: " + strAddress +
                                       "\r\nConnection: close\r\n" + strMoreHeaders + "\r\n";
        std::string strText;
        if (send(fd, strRequest.data(), strRequest.size(), MSG_NOSIGNAL) == ssize_t(strRequest.size())) {
            char ab[4096];
            for (ssize_t n; (n = recv(fd, ab, sizeof ab, 0)) > 0;)
                strText.append(ab, static_cast<size_t>(n));
        }
        const std::string::size_type nBody = strText.find("\r\n\r\n");
        if (strText.compare(0, 9, "HTTP/1.1 ") == 0 && nBody != std::string::npos) {
            reply.nStatus = std::atoi(strText.c_str() + 9);
            reply.strBody = strText.substr(nBody + 4);
        }
        close(fd);
    }
    return reply;
}

// The daemon's metrics address, as its log names it (it was started on port 0).
std::string metricsAddress(const DaemonProcess& daemon)
{
    const std::string strMark = "Metrics on http://";
    EXPECT_TRUE(daemon.waitForLog(strMark)) << daemon.log();
    const std::string strLog = daemon.log();
    const std::string::size_type nStart = strLog.find(strMark) + strMark.size();
    return strLog.substr(nStart, strLog.find("/metrics", nStart) - nStart);
}

// The value of one sample of an exposition, by its name and labels; -1 when it is not there.
double sampleOf(const std::string& strText, const std::string& strSample)
{
    const std::string strLine = "\n" + strSample + " ";
    const std::string::size_type n = strText.find(strLine);
    return n == std::string::npos ? -1 : std::atof(strText.c_str() + n + strLine.size());
}

std::string requests(const char* pszRequest, const char* pszOutcome)
{
    return std::string("ostrel_requests_total{request=\"") + pszRequest + "\",outcome=\"" + pszOutcome + "\"}";
}

TEST(DaemonMetrics, CountWhatAKnownRunOfRequestsDid)
{
    SampleDatabase db("sqlite");
    // Reloads by the signal only: the watcher would count one of its own after the change.
    DaemonProcess daemon(db.connectString(), {"--metrics", "0", "--sessions", "memory", "--failure-delay", "0",
                                              "--reload-interval", "0"});
    const std::string strAddress = metricsAddress(daemon);

    loggedIn(daemon, "alice");
    loggedIn(daemon, "bob");
    keptSession(daemon, "carol");
    // EAST locks an account after three failures in a row: two plain failures, the one that locks,
    // and the right password while locked.
    auto pclient = loggedIn(daemon, "");
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(0, errorCodeOf(pclient->authenticate("EAST", "dave", "wrong")));
    EXPECT_NE(0, errorCodeOf(pclient->authenticate("EAST", "dave", "dave-pw")));
    EXPECT_NE(0, errorCodeOf(pclient->simple("no such request <script>")));

    const HttpReply reply = http(strAddress, "GET", "/metrics");
    ASSERT_EQ(200, reply.nStatus);
    const std::string& strText = reply.strBody;
    EXPECT_EQ(3, sampleOf(strText, "ostrel_logins_total{outcome=\"succeeded\"}")) << strText;
    EXPECT_EQ(2, sampleOf(strText, "ostrel_logins_total{outcome=\"failed\"}"));
    EXPECT_EQ(2, sampleOf(strText, "ostrel_logins_total{outcome=\"locked_out\"}"));
    EXPECT_EQ(3, sampleOf(strText, requests("authenticate", "ok")));
    EXPECT_EQ(4, sampleOf(strText, requests("authenticate", "error")));
    EXPECT_EQ(4, sampleOf(strText, requests("initialize", "ok")));
    EXPECT_EQ(1, sampleOf(strText, requests("persistsession", "ok")));
    // What a client called his request never becomes a label.
    EXPECT_EQ(1, sampleOf(strText, requests("other", "error")));
    EXPECT_EQ(std::string::npos, strText.find("script"));
    EXPECT_NE(std::string::npos, strText.find("# TYPE ostrel_login_duration_seconds histogram\n"));
    EXPECT_EQ(7, sampleOf(strText, "ostrel_login_duration_seconds_count"));
    EXPECT_EQ(7, sampleOf(strText, "ostrel_login_duration_seconds_bucket{le=\"+Inf\"}"));
    EXPECT_GT(sampleOf(strText, "ostrel_login_duration_seconds_sum"), 0);
    EXPECT_EQ(1, sampleOf(strText, "ostrel_kept_sessions"));
    EXPECT_GE(sampleOf(strText, "ostrel_connections"), 1);
    EXPECT_EQ(2, sampleOf(strText, "ostrel_model_domains"));
    EXPECT_EQ(2, sampleOf(strText, "ostrel_model_teams"));
    EXPECT_EQ(0, sampleOf(strText, "ostrel_database_errors_total"));

    // A reload counts, and the model's size stays.
    db.admin({"domain", "add", "NORTH", "ACME", "--description", "North office"});
    daemon.signal(SIGHUP);
    ASSERT_TRUE(daemon.waitForLog("Model reloaded")) << daemon.log();
    const std::string strAfter = http(strAddress, "GET", "/metrics").strBody;
    EXPECT_EQ(1, sampleOf(strAfter, "ostrel_model_reloads_total{outcome=\"ok\"}")) << strAfter;
    EXPECT_EQ(1, sampleOf(strAfter, "ostrel_model_reload_duration_seconds_count"));
    EXPECT_EQ(3, sampleOf(strAfter, "ostrel_model_domains"));
}

TEST(DaemonMetrics, ServeOnlyGetOfMetricsAndHealthAndRefuseABadAddressAtStart)
{
    SampleDatabase db("sqlite");
    DaemonProcess daemon(db.connectString(), {"--metrics", "[::1]:0"});
    const std::string strAddress = metricsAddress(daemon);
    ASSERT_EQ('[', strAddress[0]);
    const HttpReply health = http(strAddress, "GET", "/healthz");
    EXPECT_EQ(200, health.nStatus);
    EXPECT_EQ("ok\n", health.strBody);
    EXPECT_EQ(404, http(strAddress, "GET", "/").nStatus);
    EXPECT_EQ(404, http(strAddress, "GET", "/metrics/../etc/passwd").nStatus);
    EXPECT_EQ(404, http(strAddress, "POST", "/metrics").nStatus);
    EXPECT_EQ(404, http(strAddress, "DELETE", "/healthz").nStatus);

    // A head that never ends is cut off at its bound, and clients that dribble or say nothing hold
    // none of the threads that answer: the health is answered meanwhile, while they are still
    // being waited for.
    std::string strEndless;
    for (int i = 0; i < 20000; ++i)
        strEndless += "X-Filler: " + std::to_string(i) + "\r\n";
    EXPECT_EQ(0, http(strAddress, "GET", "/metrics", strEndless).nStatus);
    std::thread dribbler([&strAddress] {
        const int afd[2] = {connected(strAddress), connected(strAddress)};
        for (int i = 0; i < 24; ++i) {
            for (int fd : afd)
                send(fd, "G", 1, MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        for (int fd : afd)
            if (fd >= 0) close(fd);
    });
    std::vector<int> silentS;
    for (int i = 0; i < 16; ++i)
        silentS.push_back(connected(strAddress));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(200, http(strAddress, "GET", "/healthz").nStatus);
    for (int fd : silentS) {
        char ch = 0;
        const ssize_t n = recv(fd, &ch, 1, MSG_DONTWAIT);
        EXPECT_TRUE(n == -1 && errno == EAGAIN) << "a silent connection was given up before the health came";
    }
    // However many say nothing, the daemon holds a bounded number of them.
    const auto openFiles = [&daemon] {
        const std::string strFds = "/proc/" + std::to_string(daemon.pid()) + "/fd";
        return std::distance(std::filesystem::directory_iterator(strFds), std::filesystem::directory_iterator());
    };
    const auto nBefore = openFiles();
    for (int i = 0; i < 200; ++i)
        silentS.push_back(connected(strAddress));
    EXPECT_EQ(200, http(strAddress, "GET", "/healthz").nStatus);
    EXPECT_LT(openFiles(), nBefore + 150);  // 200 if each were held; 64 held and a few on their way
    for (int fd : silentS)
        if (fd >= 0) close(fd);
    dribbler.join();

    for (const char* pszBad : {"", "host:", ":80", "70000", "::1:80", "[::1]80", "1.2.3.4:8o"}) {
        const ProgramResult result = runProgram({OSTREL_TEST_DAEMON, "--metrics", pszBad});
        EXPECT_EQ(2, result.nExitCode) << pszBad << ": " << result.strErr;
        EXPECT_NE(std::string::npos, result.strErr.find("--metrics")) << result.strErr;
    }
}

void serverAction(const char* pszAction)
{
    const std::string strCommand = std::string("bash '") + OSTREL_DBSERVERS_SCRIPT + "' " + pszAction + " '" +
                                   OstrelTest::dbserversDirectory() + "' postgresql >/dev/null";
    ASSERT_EQ(0, std::system(strCommand.c_str())) << strCommand;
}

// The health asked until it answers with the status, for up to ten seconds.
HttpReply healthOnceItIs(const std::string& strAddress, int nStatus)
{
    HttpReply reply;
    for (int i = 0; i < 100; ++i) {
        reply = http(strAddress, "GET", "/healthz");
        if (reply.nStatus == nStatus) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return reply;
}

TEST(DaemonMetrics, HealthFollowsTheDatabaseAwayAndBack)
{
    SampleDatabase db("postgresql");
    DaemonProcess daemon(db.connectString(), {"--metrics", "0"});
    const std::string strAddress = metricsAddress(daemon);
    EXPECT_EQ(200, http(strAddress, "GET", "/healthz").nStatus);

    serverAction("halt");
    // The server comes back whatever the checks below say.
    struct Resume {
        bool bDone = false;
        ~Resume()
        {
            if (!bDone) serverAction("resume");
        }
    } resume;
    const HttpReply away = healthOnceItIs(strAddress, 503);
    EXPECT_EQ(503, away.nStatus) << away.strBody;
    // A reason for the operator, not the driver's words or the connect string.
    EXPECT_EQ("the database does not answer\n", away.strBody);
    // The metrics are served all the same.
    EXPECT_EQ(200, http(strAddress, "GET", "/metrics").nStatus);

    resume.bDone = true;
    serverAction("resume");
    EXPECT_EQ(200, healthOnceItIs(strAddress, 200).nStatus) << daemon.log();
    EXPECT_EQ("authenticateduser", responseOf(loggedIn(daemon, "carol")->simple("authenticateduser")));
}

} // namespace
