// DaemonComm on its own: naming the service, connecting, and a daemon that
// misbehaves (played by a raw socket the test scripts).

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>

#include "Corvel/DaemonComm.h"
#include "Corvel/DaemonServer.h"
#include "Corvel/Exception.h"
#include "TransportHelpers.h"

using namespace Corvel;
using namespace Corvel::framing;
using namespace transport_test;

namespace {

std::string locate(DaemonComm& comm, const std::string& strService)
{
    std::string s1, s2, strHost;
    int n = 0;
    comm.locateService(s1, s2, strHost, n, strService, "ostreld");
    return strHost;
}

std::string legendOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Corvel::Exception& e) {
        return e.legend();
    }
    return "(no exception)";
}

// A loopback port with nobody listening.
int closedPort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t nLen = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &nLen);
    close(fd);
    return ntohs(addr.sin_port);
}

TEST(ServiceName, EachFormFillsTheHost)
{
    DaemonComm comm(DaemonComm::Handler(nullptr));
    EXPECT_EQ("127.0.0.1", locate(comm, "127.0.0.1:9000"));
    EXPECT_EQ("::1", locate(comm, "[::1]:9000"));
    EXPECT_EQ("::1", locate(comm, "[::1]"));
    EXPECT_EQ("::1", locate(comm, "::1"));
    EXPECT_EQ("localhost", locate(comm, "localhost"));
    EXPECT_EQ("/run/ostreld/socket", locate(comm, "unix:/run/ostreld/socket"));
    EXPECT_EQ("unix:/run/ostreld/socket", comm.target());
    EXPECT_EQ("127.0.0.1", locate(comm, "tls:127.0.0.1:9000"));
    EXPECT_EQ("::1", locate(comm, "tls:[::1]"));
    EXPECT_EQ("tls:[::1]", comm.target());
}

TEST(ServiceName, BadTextIsRefusedWithTheReason)
{
    DaemonComm comm(DaemonComm::Handler(nullptr));
    struct Case {
        const char* pszService;
        const char* pszReason;
    } caseS[] = {
        {"", "Empty"},
        {"host:", "Bad port"},
        {"host:http", "Bad port"},
        {"host:65536", "out of range"},
        {"host:0", "out of range"},
        {":7420", "No host"},
        {"[::1", "Missing ']'"},
        {"[::1]7420", "after ']'"},
        {"[]:7420", "Empty address"},
        {"unix:", "No socket path"},
        {"host name:1", "blanks"},
        {"tls:", "No host after 'tls:'"},
        {"tls:host:0", "out of range"},
        {"tls:unix:/run/s", "not offered"},
    };
    for (const Case& c : caseS)
        EXPECT_NE(std::string::npos, legendOf([&] { locate(comm, c.pszService); }).find(c.pszReason))
            << c.pszService;
    std::string strLong = "unix:/" + std::string(200, 'p');
    EXPECT_NE(std::string::npos, legendOf([&] { locate(comm, strLong); }).find("longer than"));
}

TEST(ServiceName, UnresolvableHostSaysWhichHost)
{
    DaemonComm comm(DaemonComm::Handler(nullptr));
    std::string strLegend = legendOf([&] { locate(comm, "no-such-host.invalid:7420"); });
    EXPECT_NE(std::string::npos, strLegend.find("Cannot locate ostreld")) << strLegend;
    EXPECT_NE(std::string::npos, strLegend.find("no-such-host.invalid")) << strLegend;
}

TEST(Connect, WithoutLocatingFirstIsRefused)
{
    DaemonComm comm(DaemonComm::Handler(nullptr));
    EXPECT_NE(std::string::npos, legendOf([&] { comm.connect(); }).find("before the service was located"));
    EXPECT_THROW(comm.send("x"), Corvel::Exception);
}

TEST(Connect, RefusedConnectionFailsAtOnceNamingTheTarget)
{
    DaemonComm comm(DaemonComm::Handler(nullptr));
    std::string strService = "127.0.0.1:" + std::to_string(closedPort());
    locate(comm, strService);
    Clock::time_point t0 = Clock::now();
    std::string strLegend = legendOf([&] { comm.connect(); });
    EXPECT_LT(msSince(t0), 1000);
    EXPECT_NE(std::string::npos, strLegend.find("Cannot connect to '" + strService + "'")) << strLegend;
    EXPECT_NE(std::string::npos, strLegend.find("refused")) << strLegend;
    EXPECT_FALSE(comm.isConnected());
}

TEST(Connect, MissingUnixSocketFailsWithTheReason)
{
    DaemonComm comm(DaemonComm::Handler(nullptr));
    locate(comm, "unix:/nonexistent-dir/ostreld.sock");
    EXPECT_NE(std::string::npos, legendOf([&] { comm.connect(); }).find("No such file"));
}

TEST(Connect, UnansweredConnectGivesUpWithinTheBound)
{
    // A listener whose backlog is full and never accepts: the kernel drops
    // further handshakes, so the connect hangs until our time-out.
    int fdListen = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(fdListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
    ASSERT_EQ(0, listen(fdListen, 0));
    socklen_t nLen = sizeof addr;
    getsockname(fdListen, reinterpret_cast<sockaddr*>(&addr), &nLen);
    std::string strService = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    std::vector<int> fillerS;
    for (int i = 0; i < 3; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        fillerS.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

    DaemonComm comm(DaemonComm::Handler(nullptr));
    DaemonCommTiming timing;
    timing.nConnectMs = 300;
    comm.setTiming(timing);
    locate(comm, strService);
    Clock::time_point t0 = Clock::now();
    std::string strLegend = legendOf([&] { comm.connect(); });
    long nMs = msSince(t0);
    for (int fd : fillerS)
        close(fd);
    close(fdListen);
    if (strLegend == "(no exception)") GTEST_SKIP() << "this kernel accepted past the backlog";
    EXPECT_GE(nMs, 250);
    EXPECT_LT(nMs, 1500);
    EXPECT_NE(std::string::npos, strLegend.find("timed out")) << strLegend;
}

// A daemon played by hand: accepts one client and writes what the test says.
class ScriptedDaemon : public ::testing::Test {
protected:
    void SetUp() override
    {
        _fdListen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(0, bind(_fdListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
        ASSERT_EQ(0, listen(_fdListen, 4));
        socklen_t nLen = sizeof addr;
        getsockname(_fdListen, reinterpret_cast<sockaddr*>(&addr), &nLen);
        _strService = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
        _pcomm.reset(new DaemonComm(_inbox.callback()));
        DaemonCommTiming timing;
        timing.nFrameMs = 300;
        _pcomm->setTiming(timing);
        locate(*_pcomm, _strService);
        _pcomm->connect();
        _fdPeer = accept(_fdListen, nullptr, nullptr);
        ASSERT_GE(_fdPeer, 0);
    }

    void TearDown() override
    {
        _pcomm.reset();
        if (_fdPeer >= 0) close(_fdPeer);
        close(_fdListen);
    }

    void daemonWrites(const std::string& strBytes)
    {
        ASSERT_EQ(ssize_t(strBytes.size()), ::send(_fdPeer, strBytes.data(), strBytes.size(), MSG_NOSIGNAL));
    }

    // The request the client sent: its identifier.
    uint32_t daemonReadsRequest(const std::string& strExpected)
    {
        std::string strBytes(nFRM_HeaderSize + strExpected.size(), '\0');
        size_t nHave = 0;
        while (nHave < strBytes.size()) {
            ssize_t n = recv(_fdPeer, &strBytes[nHave], strBytes.size() - nHave, 0);
            if (n <= 0) break;
            nHave += size_t(n);
        }
        EXPECT_EQ(strBytes.size(), nHave);
        FrameReader reader;
        reader.feed(strBytes.data(), strBytes.size());
        EXPECT_EQ(FrameReader::complete, reader.state());
        Frame frame = reader.take();
        EXPECT_EQ(kindRequest, frame.kind);
        EXPECT_EQ(strExpected, frame.strPayload);
        return frame.uId;
    }

    // The link broke with a text holding strReason, told once.
    void expectBrokenWith(const std::string& strReason)
    {
        Message message;
        ASSERT_TRUE(_inbox.next(message));
        EXPECT_EQ(DaemonComm::error, message.status);
        EXPECT_NE(std::string::npos, message.strText.find(strReason)) << message.strText;
        EXPECT_FALSE(_inbox.next(message, 100)) << "told twice: " << message.strText;
        EXPECT_FALSE(_pcomm->isConnected());
        EXPECT_THROW(_pcomm->send("after the break"), Corvel::Exception);
    }

    int _fdListen = -1, _fdPeer = -1;
    std::string _strService;
    Inbox _inbox;
    std::unique_ptr<DaemonComm> _pcomm;
};

TEST_F(ScriptedDaemon, RequestIdentifiersAreFreshAndNonZero)
{
    _pcomm->send("a");
    uint32_t uFirst = daemonReadsRequest("a");
    _pcomm->send("b");
    uint32_t uSecond = daemonReadsRequest("b");
    EXPECT_NE(0u, uFirst);
    EXPECT_NE(uFirst, uSecond);
    daemonWrites(encodeFrame(kindReply, uSecond, "for b"));
    Message message;
    ASSERT_TRUE(_inbox.next(message));
    EXPECT_EQ(DaemonComm::response, message.status);
    EXPECT_EQ("for b", message.strText);
}

TEST_F(ScriptedDaemon, ReplyToAnyButTheLastRequestIsDroppedAndOnlyOnce)
{
    _pcomm->send("a");
    uint32_t uId = daemonReadsRequest("a");
    daemonWrites(encodeFrame(kindReply, uId + 1, "stranger") + encodeFrame(kindReply, uId, "answer") +
                 encodeFrame(kindReply, uId, "duplicate") + encodeFrame(kindPush, 0, "news"));
    Message message;
    ASSERT_TRUE(_inbox.next(message));
    EXPECT_EQ("answer", message.strText);
    ASSERT_TRUE(_inbox.next(message));
    EXPECT_EQ(DaemonComm::unsolicited, message.status);
    EXPECT_EQ("news", message.strText);
    EXPECT_TRUE(_pcomm->isConnected());
}

TEST_F(ScriptedDaemon, BadMagicFromTheDaemonBreaksTheLink)
{
    daemonWrites("HTTP/1.1 400 Bad Request\r\n\r\n");
    expectBrokenWith("bad magic");
}

TEST_F(ScriptedDaemon, FrameOverTheBoundBreaksTheLink)
{
    daemonWrites(encodeHeader(kindPush, 0, nFRM_MaxPayload + 1));
    expectBrokenWith("over the bound");
}

TEST_F(ScriptedDaemon, RequestFrameFromTheDaemonBreaksTheLink)
{
    daemonWrites(encodeFrame(kindRequest, 1, "?"));
    expectBrokenWith("Unexpected request frame");
}

TEST_F(ScriptedDaemon, HalfFrameThatStallsBreaksTheLinkInTime)
{
    daemonWrites(encodeFrame(kindPush, 0, "cut short").substr(0, 14));
    Clock::time_point t0 = Clock::now();
    expectBrokenWith("stalled");
    EXPECT_LT(msSince(t0), 2000);
}

TEST_F(ScriptedDaemon, DaemonClosingIsToldOnceAndSendThenFailsWithoutSignal)
{
    // SIGPIPE would end the test program; it must never be raised.
    close(_fdPeer);
    _fdPeer = -1;
    expectBrokenWith("closed by '" + _strService + "'");
}

TEST_F(ScriptedDaemon, SendToADaemonThatStopsReadingTimesOut)
{
    DaemonCommTiming timing;
    timing.nSendMs = 200;
    _pcomm->setTiming(timing);
    _pcomm->connect();  // takes effect on the next connection
    close(_fdPeer);
    _fdPeer = accept(_fdListen, nullptr, nullptr);
    Message message;
    while (_inbox.next(message, 100)) {  // the first connection's end
    }
    // The daemon never reads: once the socket buffers fill, send gives up.
    std::string strChunk(4 * 1024 * 1024, 'x');
    Clock::time_point t0 = Clock::now();
    std::string strLegend;
    for (int i = 0; i < 16 && strLegend.empty(); ++i)
        strLegend = legendOf([&] { _pcomm->send(strChunk); }) == "(no exception)" ? "" : "failed";
    EXPECT_EQ("failed", strLegend);
    EXPECT_LT(msSince(t0), 5000);
    expectBrokenWith("timed out");
}

TEST_F(ScriptedDaemon, SendWithoutATimeLimitWaitsForASlowReader)
{
    DaemonCommTiming timing;
    timing.nSendMs = 0;  // no limit
    _pcomm->setTiming(timing);
    _pcomm->connect();
    close(_fdPeer);
    _fdPeer = accept(_fdListen, nullptr, nullptr);
    Message message;
    while (_inbox.next(message, 100)) {
    }
    // More than the socket buffers hold, taken only after a pause.
    const std::string strChunk(8 * 1024 * 1024, 'x');
    std::thread reader([fd = _fdPeer, nTotal = strChunk.size()] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::vector<char> buffer(1 << 16);
        size_t nRead = 0;
        while (nRead < nTotal) {
            ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0) break;
            nRead += size_t(n);
        }
    });
    EXPECT_EQ("(no exception)", legendOf([&] { _pcomm->send(strChunk); }));
    reader.join();
}

// The handler blocks while delivering; disconnect() waits for it and then
// nothing more is delivered.
TEST_F(ScriptedDaemon, DisconnectDuringADeliveryWaitsForItAndEndsQuietly)
{
    std::atomic<int> nDelivered{0};
    std::atomic<bool> bInHandler{false};
    DaemonComm comm(DaemonComm::Callback([&](DaemonComm::Status, const std::string&) {
        bInHandler = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ++nDelivered;
    }));
    locate(comm, _strService);
    comm.connect();
    int fdSecond = accept(_fdListen, nullptr, nullptr);
    std::string strPushes = encodeFrame(kindPush, 0, "one") + encodeFrame(kindPush, 0, "two");
    ASSERT_EQ(ssize_t(strPushes.size()), ::send(fdSecond, strPushes.data(), strPushes.size(), MSG_NOSIGNAL));
    while (!bInHandler)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    Clock::time_point t0 = Clock::now();
    comm.disconnect();
    EXPECT_GE(msSince(t0), 100) << "disconnect() did not wait for the delivery in progress";
    EXPECT_EQ(1, nDelivered.load());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(1, nDelivered.load());
    close(fdSecond);
}

TEST_F(ScriptedDaemon, HandlerMayDisconnectAndDestroyTheLink)
{
    std::atomic<bool> bDone{false};
    DaemonComm* pcomm = new DaemonComm(DaemonComm::Callback([&](DaemonComm::Status, const std::string&) {
        pcomm->disconnect();
        delete pcomm;
        bDone = true;
    }));
    locate(*pcomm, _strService);
    pcomm->connect();
    int fdSecond = accept(_fdListen, nullptr, nullptr);
    std::string strPush = encodeFrame(kindPush, 0, "go away");
    ASSERT_EQ(ssize_t(strPush.size()), ::send(fdSecond, strPush.data(), strPush.size(), MSG_NOSIGNAL));
    for (int i = 0; i < 200 && !bDone; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(bDone);
    // The client side is closed once its thread finishes.
    pollfd pfd{fdSecond, POLLIN, 0};
    EXPECT_EQ(1, poll(&pfd, 1, 2000));
    close(fdSecond);
}

TEST_F(ScriptedDaemon, KeepAlivePingsGoOutWhenTheLinkIsQuiet)
{
    DaemonCommTiming timing;
    timing.nKeepAliveMs = 50;
    _pcomm->setTiming(timing);
    _pcomm->connect();
    close(_fdPeer);
    _fdPeer = accept(_fdListen, nullptr, nullptr);
    std::string strBytes(nFRM_HeaderSize, '\0');
    pollfd pfd{_fdPeer, POLLIN, 0};
    ASSERT_EQ(1, poll(&pfd, 1, 1000));
    ASSERT_EQ(ssize_t(nFRM_HeaderSize), recv(_fdPeer, &strBytes[0], nFRM_HeaderSize, MSG_WAITALL));
    EXPECT_EQ(encodeHeader(kindPing, 0, 0), strBytes);
}

} // namespace
