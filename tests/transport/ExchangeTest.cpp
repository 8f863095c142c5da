// A real DaemonServer and DaemonComm talking over loopback TCP (IPv4, IPv6) and
// a unix socket.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "Corvel/DaemonComm.h"
#include "Corvel/DaemonServer.h"
#include "Corvel/Exception.h"
#include "TransportHelpers.h"

using namespace Corvel;
using namespace transport_test;

namespace {

// Echoes "echo:<request>"; "slow:<ms>" sleeps first; "push:<text>" pushes <text>
// before replying; "quiet" gets no reply.
std::string echoHandler(ConnectionContext& context, const std::string& strRequest)
{
    if (strRequest.compare(0, 5, "slow:") == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(strRequest.c_str() + 5)));
    if (strRequest.compare(0, 5, "push:") == 0) context.push(strRequest.substr(5));
    if (strRequest == "quiet") return std::string();
    return "echo:" + strRequest;
}

// A directory of its own for a unix socket, gone with the fixture even when the test fails.
struct SocketDir {
    std::string strDir;
    std::string make()
    {
        char szDir[] = "/tmp/ostrel-transport-XXXXXX";
        if (!mkdtemp(szDir)) return "/tmp/ostrel-transport.sock";
        strDir = szDir;
        return strDir + "/s";
    }
    ~SocketDir()
    {
        if (strDir.empty()) return;
        unlink((strDir + "/s").c_str());
        rmdir(strDir.c_str());
    }
};

// Parameter: the address the server listens on.
class Exchange : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        std::string strListen = GetParam() == "unix" ? "unix:" + _socketDir.make() : GetParam();
        try {
            _server.listen(strListen);
        } catch (const Corvel::Exception& e) {
            GTEST_SKIP() << "cannot listen on " << strListen << ": " << e.legend();
        }
        _server.start();
        _strAddress = _server.addresses().front();
        _comm.reset(new DaemonComm(_inbox.callback()));
        std::string s1, s2, strHost;
        int n = 0;
        _comm->locateService(s1, s2, strHost, n, _strAddress, "ostreld");
        _comm->connect();
    }

    Message expectMessage()
    {
        Message message{DaemonComm::error, "nothing arrived"};
        EXPECT_TRUE(_inbox.next(message));
        return message;
    }

    SocketDir _socketDir;  // outlives the server, which takes its socket away first
    DaemonServer _server{echoHandler};
    Inbox _inbox;
    std::unique_ptr<DaemonComm> _comm;
    std::string _strAddress;
};

TEST_P(Exchange, RequestGetsItsReplyAsResponse)
{
    _comm->send("hello");
    Message message = expectMessage();
    EXPECT_EQ(DaemonComm::response, message.status);
    EXPECT_EQ("echo:hello", message.strText);
    EXPECT_TRUE(_comm->isConnected());
}

TEST_P(Exchange, PushedMessageArrivesAsUnsolicitedBeforeTheReply)
{
    _comm->send("push:news");
    Message first = expectMessage();
    EXPECT_EQ(DaemonComm::unsolicited, first.status);
    EXPECT_EQ("news", first.strText);
    Message second = expectMessage();
    EXPECT_EQ(DaemonComm::response, second.status);
    EXPECT_EQ("echo:push:news", second.strText);
}

TEST_P(Exchange, ServerPushesToAConnectionFromAnotherThread)
{
    _comm->send("hello");
    expectMessage();
    std::vector<std::shared_ptr<ConnectionContext>> contextS = _server.connections();
    ASSERT_EQ(1u, contextS.size());
    EXPECT_TRUE(contextS[0]->push("from outside"));
    Message message = expectMessage();
    EXPECT_EQ(DaemonComm::unsolicited, message.status);
    EXPECT_EQ("from outside", message.strText);
}

TEST_P(Exchange, LateReplyToAnAbandonedRequestIsDropped)
{
    // The first request is given up (as a caller's time-out would); its reply
    // arrives after the second request went out and must not pass for its answer.
    _comm->send("slow:200");
    _comm->send("second");
    Message message = expectMessage();
    EXPECT_EQ(DaemonComm::response, message.status);
    EXPECT_EQ("echo:second", message.strText);
    EXPECT_FALSE(_inbox.next(message, 200)) << "unexpected: " << message.strText;
}

TEST_P(Exchange, EmptyReplyMeansNoReply)
{
    _comm->send("quiet");
    _comm->send("after");
    Message message = expectMessage();
    EXPECT_EQ("echo:after", message.strText);
}

TEST_P(Exchange, LargeMessagesCrossIntact)
{
    std::string strBig(3 * 1024 * 1024 + 17, 'a');
    for (size_t i = 0; i < strBig.size(); i += 4096)
        strBig[i] = char('a' + (i / 4096) % 26);
    _comm->send(strBig);
    Message message = expectMessage();
    EXPECT_EQ("echo:" + strBig, message.strText);
}

TEST_P(Exchange, MessageOverTheBoundIsRefusedAndTheLinkStaysUp)
{
    EXPECT_THROW(_comm->send(std::string(framing::nFRM_MaxPayload + 1, 'x')), Corvel::Exception);
    _comm->send("still here");
    EXPECT_EQ("echo:still here", expectMessage().strText);
}

TEST_P(Exchange, ServerStopLetsTheRequestInProgressAnswer)
{
    _comm->send("slow:1500");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Clock::time_point t0 = Clock::now();
    _server.stop();
    EXPECT_GE(msSince(t0), 600) << "stop() returned before the handler finished";
    Message reply = expectMessage();
    EXPECT_EQ(DaemonComm::response, reply.status);
    EXPECT_EQ("echo:slow:1500", reply.strText);
    Message closed = expectMessage();
    EXPECT_EQ(DaemonComm::error, closed.status);
    EXPECT_FALSE(_comm->isConnected());
    EXPECT_THROW(_comm->send("nobody listens"), Corvel::Exception);
    EXPECT_FALSE(_inbox.next(closed, 100)) << "the break is told once";
}

TEST_P(Exchange, DisconnectAndReconnectCycles)
{
    for (int i = 0; i < 20; ++i) {
        _comm->send("round " + std::to_string(i));
        EXPECT_EQ("echo:round " + std::to_string(i), expectMessage().strText);
        _comm->disconnect();
        EXPECT_FALSE(_comm->isConnected());
        EXPECT_THROW(_comm->send("while down"), Corvel::Exception);
        _comm->connect();
    }
    EXPECT_EQ(0u, _inbox.size()) << "disconnect() delivers no error";
}

INSTANTIATE_TEST_SUITE_P(Loopback, Exchange, ::testing::Values("127.0.0.1:0", "[::1]:0", "unix"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return info.index == 0 ? std::string("IPv4")
                                                    : info.index == 1 ? std::string("IPv6") : std::string("Unix");
                         });

} // namespace
