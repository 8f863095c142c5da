// DaemonServer against clients that misbehave: each is cut off, logged with its
// peer address, and well-behaved clients go on being served.

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <thread>

#include "Corvel/DaemonServer.h"
#include "Corvel/Exception.h"
#include "TransportHelpers.h"

using namespace Corvel;
using namespace Corvel::framing;
using namespace transport_test;

namespace {

std::string handler(ConnectionContext& context, const std::string& strRequest)
{
    if (strRequest == "throw") throw std::runtime_error("handler broke");
    if (strRequest == "bye") context.close();
    if (strRequest == "login") context.setLoggedIn(true);
    return "ok:" + strRequest;
}

class ServerRobustness : public ::testing::Test {
protected:
    void startWith(const DaemonServerOptions& options)
    {
        _pserver.reset(new DaemonServer(handler, options));
        _pserver->listen("127.0.0.1:0");
        _pserver->start();
        _strAddress = _pserver->addresses().front();
    }

    void SetUp() override
    {
        DaemonServerOptions options;
        options.nFrameMs = 300;
        options.nIdleMs = 5000;
        startWith(options);
    }

    // A well-behaved client still gets its answer.
    void expectServed(const std::string& strWhat)
    {
        RawPeer good(_strAddress);
        ASSERT_TRUE(good.isOpen());
        ASSERT_TRUE(good.sendRequest(42, strWhat));
        Frame frame;
        ASSERT_TRUE(good.readFrame(frame, 2000)) << "not served after: " << strWhat;
        EXPECT_EQ(kindReply, frame.kind);
        EXPECT_EQ(42u, frame.uId);
        EXPECT_EQ("ok:" + strWhat, frame.strPayload);
    }

    LogCapture _log;
    std::unique_ptr<DaemonServer> _pserver;
    std::string _strAddress;
};

TEST_F(ServerRobustness, ReplyEchoesTheRequestIdentifier)
{
    RawPeer peer(_strAddress);
    ASSERT_TRUE(peer.sendRequest(0xDEADBEEFu, "a") && peer.sendRequest(5, "b"));
    Frame frame;
    ASSERT_TRUE(peer.readFrame(frame));
    EXPECT_EQ(0xDEADBEEFu, frame.uId);
    ASSERT_TRUE(peer.readFrame(frame));
    EXPECT_EQ(5u, frame.uId);
    EXPECT_EQ("ok:b", frame.strPayload);
}

TEST_F(ServerRobustness, FrameOverTheBoundClosesThatConnection)
{
    RawPeer peer(_strAddress);
    ASSERT_TRUE(peer.write(encodeHeader(kindRequest, 1, nFRM_MaxPayload + 1)));
    EXPECT_TRUE(peer.closedWithin(2000));
    EXPECT_TRUE(_log.waitFor({"Closed connection from 127.0.0.1:", "over the bound"}));
    expectServed("after oversize");
}

TEST_F(ServerRobustness, LowerRequestBoundIsHeldToo)
{
    DaemonServerOptions options;
    options.nMaxRequest = 1024;
    startWith(options);
    expectServed(std::string(1000, 'r'));
    RawPeer peer(_strAddress);
    ASSERT_TRUE(peer.write(encodeHeader(kindRequest, 1, 1025)));
    EXPECT_TRUE(peer.closedWithin(2000));
    EXPECT_TRUE(_log.waitFor({"over the bound of 1024 bytes"}));
}

TEST_F(ServerRobustness, BadMagicClosesThatConnection)
{
    RawPeer peer(_strAddress);
    ASSERT_TRUE(peer.write("GET / HTTP/1.0\r\n\r\n"));
    EXPECT_TRUE(peer.closedWithin(2000));
    EXPECT_TRUE(_log.waitFor({"bad frame", "bad magic"}));
    expectServed("after bad magic");
}

TEST_F(ServerRobustness, ReplyFrameFromAClientClosesThatConnection)
{
    RawPeer peer(_strAddress);
    ASSERT_TRUE(peer.write(encodeFrame(kindReply, 9, "not yours to send")));
    EXPECT_TRUE(peer.closedWithin(2000));
    expectServed("after reply frame");
}

TEST_F(ServerRobustness, HalfFrameStallHoldsUpNobodyAndTimesOut)
{
    // The frame's time is long beside a slow machine's answer, so that "served before the
    // stall timed out" cannot be luck either way.
    DaemonServerOptions options;
    options.nFrameMs = 5000;
    options.nIdleMs = 20000;
    startWith(options);
    RawPeer staller(_strAddress);
    std::string strFrame = encodeFrame(kindRequest, 1, "never finished");
    ASSERT_TRUE(staller.write(strFrame.substr(0, 15)));
    Clock::time_point t0 = Clock::now();
    expectServed("while another stalls");
    EXPECT_LT(msSince(t0), 2500);
    EXPECT_TRUE(staller.closedWithin(10000));
    EXPECT_TRUE(_log.waitFor({"Closed connection from 127.0.0.1:", "stalled"}));
}

TEST_F(ServerRobustness, HandlerExceptionClosesOnlyThatConnection)
{
    RawPeer peer(_strAddress);
    ASSERT_TRUE(peer.sendRequest(1, "throw"));
    EXPECT_TRUE(peer.closedWithin(2000));
    EXPECT_TRUE(_log.waitFor({"handler failed", "handler broke"}));
    expectServed("after a throw");
}

TEST_F(ServerRobustness, ContextCloseSendsTheReplyThenCloses)
{
    RawPeer peer(_strAddress);
    ASSERT_TRUE(peer.sendRequest(3, "bye"));
    Frame frame;
    ASSERT_TRUE(peer.readFrame(frame));
    EXPECT_EQ("ok:bye", frame.strPayload);
    EXPECT_TRUE(peer.closedWithin(2000));
}

// At the limit a newcomer takes the place of the connection without a login that has waited
// longest for a request; when every place has a login, it is refused.
TEST_F(ServerRobustness, ConnectionsOverTheLimitMakeRoomOrAreRefused)
{
    DaemonServerOptions options;
    options.nMaxConnections = 2;
    startWith(options);
    RawPeer first(_strAddress), second(_strAddress);
    Frame frame;
    ASSERT_TRUE(first.sendRequest(1, "one") && first.readFrame(frame));
    ASSERT_TRUE(second.sendRequest(1, "login") && second.readFrame(frame));
    RawPeer third(_strAddress);
    EXPECT_TRUE(first.closedWithin(2000));
    ASSERT_TRUE(third.sendRequest(1, "login") && third.readFrame(frame));
    EXPECT_TRUE(_log.waitFor({"without a login to make room for 127.0.0.1:"}));
    {
        RawPeer fourth(_strAddress);
        EXPECT_TRUE(fourth.closedWithin(2000));
        EXPECT_TRUE(_log.waitFor({"Refused connection from 127.0.0.1:", "limit of 2"}));
    }
    ::shutdown(second.fd(), SHUT_RDWR);
    // The freed place goes to the next client once the server has seen the close; a client that
    // comes before that is refused at once, so the tries are spread over time, not counted.
    bool bServed = false;
    const Clock::time_point t0 = Clock::now();
    while (!bServed && msSince(t0) < 3000) {
        RawPeer next(_strAddress);
        bServed = next.sendRequest(1, "next") && next.readFrame(frame, 200);
        if (!bServed)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(bServed);
    ASSERT_TRUE(third.sendRequest(2, "still") && third.readFrame(frame));
}

TEST_F(ServerRobustness, OnePeerCannotTakeMoreThanItsShare)
{
    DaemonServerOptions options;
    options.nMaxPerPeer = 2;
    startWith(options);
    RawPeer first(_strAddress), second(_strAddress);
    Frame frame;
    ASSERT_TRUE(first.sendRequest(1, "login") && first.readFrame(frame));
    ASSERT_TRUE(second.sendRequest(1, "login") && second.readFrame(frame));
    RawPeer third(_strAddress);
    EXPECT_TRUE(third.closedWithin(2000));
    EXPECT_TRUE(_log.waitFor({"of 2 from one peer"}));
}

TEST_F(ServerRobustness, IdleConnectionIsClosedAndPingsKeepOneOpen)
{
    DaemonServerOptions options;
    options.nIdleMs = 1000;
    startWith(options);
    RawPeer silent(_strAddress), pinging(_strAddress);
    Clock::time_point t0 = Clock::now();
    for (int i = 0; i < 15; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(pinging.write(encodeHeader(kindPing, 0, 0)));
    }
    EXPECT_TRUE(silent.closedWithin(1000)) << "the silent connection outlived its idle time";
    EXPECT_GE(msSince(t0), 1000);
    EXPECT_TRUE(_log.waitFor({"Closed idle connection from 127.0.0.1:"}));
    ASSERT_TRUE(pinging.sendRequest(1, "alive"));
    Frame frame;
    EXPECT_TRUE(pinging.readFrame(frame));
}

} // namespace

// ---- Lifecycle --------------------------------------------------------------

namespace {

DaemonServer* g_pSignalled = nullptr;

extern "C" void onSignal(int)
{
    if (g_pSignalled) g_pSignalled->requestStop();
}

TEST(ServerLifecycle, StopRequestedFromASignalHandlerEndsRun)
{
    DaemonServer server(handler);
    server.listen("127.0.0.1:0");
    g_pSignalled = &server;
    struct sigaction action {};
    action.sa_handler = onSignal;
    struct sigaction previous {};
    sigaction(SIGUSR1, &action, &previous);
    std::thread runner([&] { server.run(); });
    while (!server.isRunning())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    raise(SIGUSR1);
    runner.join();
    EXPECT_FALSE(server.isRunning());
    sigaction(SIGUSR1, &previous, nullptr);
    g_pSignalled = nullptr;
}

TEST(ServerLifecycle, StopFromAHandlerIsRefused)
{
    DaemonServer* pself = nullptr;
    std::string strCaught;
    DaemonServer server([&](ConnectionContext&, const std::string&) {
        try {
            pself->stop();
        } catch (const Corvel::Exception& e) {
            strCaught = e.legend();
        }
        return std::string("done");
    });
    pself = &server;
    server.listen("127.0.0.1:0");
    server.start();
    RawPeer peer(server.addresses().front());
    ASSERT_TRUE(peer.sendRequest(1, "x"));
    Frame frame;
    ASSERT_TRUE(peer.readFrame(frame));
    EXPECT_NE(std::string::npos, strCaught.find("requestStop"));
}

class UnixListening : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szDir[] = "/tmp/ostrel-unix-XXXXXX";
        ASSERT_TRUE(mkdtemp(szDir));
        _strDir = szDir;
        _strPath = _strDir + "/ostreld.sock";
    }
    void TearDown() override
    {
        unlink(_strPath.c_str());
        rmdir(_strDir.c_str());
    }
    std::string _strDir, _strPath;
};

TEST_F(UnixListening, LeftoverSocketIsReplacedAndModeIsSet)
{
    {
        // A socket file whose server died without removing it.
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        _strPath.copy(addr.sun_path, sizeof addr.sun_path - 1);
        ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
        close(fd);
    }
    DaemonServerOptions options;
    options.nUnixMode = 0600;
    DaemonServer server(handler, options);
    server.listen("unix:" + _strPath);
    struct stat st;
    ASSERT_EQ(0, stat(_strPath.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    server.start();
    RawPeer peer("unix:" + _strPath);
    ASSERT_TRUE(peer.sendRequest(1, "x"));
    Frame frame;
    EXPECT_TRUE(peer.readFrame(frame));
    server.stop();
    EXPECT_NE(0, access(_strPath.c_str(), F_OK)) << "the socket file outlived the server";
}

TEST_F(UnixListening, LiveSocketAndOtherFilesAreLeftAlone)
{
    DaemonServer first(handler);
    first.listen("unix:" + _strPath);
    first.start();
    DaemonServer second(handler);
    EXPECT_THROW(second.listen("unix:" + _strPath), Corvel::Exception);
    RawPeer peer("unix:" + _strPath);
    EXPECT_TRUE(peer.sendRequest(1, "x")) << "the running server lost its socket";
    first.stop();

    FILE* pf = fopen(_strPath.c_str(), "w");
    ASSERT_TRUE(pf);
    fclose(pf);
    try {
        second.listen("unix:" + _strPath);
        ADD_FAILURE() << "a regular file was replaced";
    } catch (const Corvel::Exception& e) {
        EXPECT_NE(std::string::npos, e.legend().find("not a socket"));
    }
    EXPECT_EQ(0, access(_strPath.c_str(), F_OK));
}

} // namespace
