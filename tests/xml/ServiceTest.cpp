// OstrelService against a scripted daemon: one request, one response, the
// waits, unsolicited messages and a link that fails.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "Corvel/Exception.h"
#include "OstrelData/Exception.h"
#include "OstrelDataXML/OstrelFactory.h"
#include "OstrelDataXML/OstrelService.h"
#include "OstrelDataXML/TestHooks.h"
#include "ScriptedDaemon.h"

using OstrelDataXML::Factory;
using OstrelDataXML::OstrelService;
using xml_test::ScriptedDaemon;

namespace {

using Clock = std::chrono::steady_clock;

struct Delivery {
    Corvel::DaemonComm::Status status;
    std::string strText;
};

// What the application's handler received; a plain function pointer can only
// reach process state.
class HandlerLog {
public:
    static HandlerLog& instance()
    {
        static HandlerLog s_log;
        return s_log;
    }
    static void handler(Corvel::DaemonComm::Status status, const std::string& strText)
    {
        HandlerLog& log = instance();
        std::lock_guard<std::mutex> lock(log._mx);
        log._deliveryS.push_back(Delivery{status, strText});
        log._cv.notify_all();
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(_mx);
        _deliveryS.clear();
    }
    // The next delivery within nMs; false when none comes.
    bool next(Delivery& delivery, long nMs = 3000)
    {
        std::unique_lock<std::mutex> lock(_mx);
        if (!_cv.wait_for(lock, std::chrono::milliseconds(nMs), [this] { return !_deliveryS.empty(); }))
            return false;
        delivery = _deliveryS.front();
        _deliveryS.pop_front();
        return true;
    }

private:
    std::mutex _mx;
    std::condition_variable _cv;
    std::deque<Delivery> _deliveryS;
};

std::string responseText(const std::string& strName, const std::string& strChild = std::string())
{
    Vesk::XMLDoc doc = Factory::Envelope::response(strName);
    if (!strChild.empty()) doc.rootNode()->addNode(strChild, "x");
    return doc.stream().str();
}

Vesk::XMLDoc request(const std::string& strName)
{
    return Factory::Envelope::request(strName);
}

void expectCode(int nCode, const std::function<void()>& fn, const std::string& strLegend = std::string())
{
    try {
        fn();
        ADD_FAILURE() << "no exception, expected code " << nCode;
    } catch (const OstrelData::Exception& e) {
        EXPECT_EQ(nCode, e.errorCode()) << e.legend();
        if (!strLegend.empty()) {
            EXPECT_EQ(strLegend, e.legend());
        }
        EXPECT_FALSE(e.remote());
    }
}

class Service : public ::testing::Test {
protected:
    void SetUp() override
    {
        HandlerLog::instance().clear();
        OstrelService::setCallback(&HandlerLog::handler);
        OstrelService::connect(_daemon.address());
    }
    void TearDown() override
    {
        OstrelService::disconnect();
        OstrelService::setCallback(nullptr);
        OstrelDataXML::testhooks::setResponseWaitMs(0);
    }

    // The response to a request named strName.
    Vesk::XMLDoc transact(const std::string& strName)
    {
        Vesk::XMLDoc docResponse;
        OstrelService::transact(docResponse, request(strName));
        return docResponse;
    }

    ScriptedDaemon _daemon;
};

} // namespace

TEST(ServiceUnconnected, TransactBeforeConnectSendsNothingAndSays1022)
{
    ASSERT_FALSE(OstrelService::isConnected());
    Vesk::XMLDoc docResponse;
    expectCode(OstrelData::nNAX_NOSERVERCONNECT, [&] { OstrelService::transact(docResponse, request("who")); },
               "Not connected to any Ostrel service provider.");
}

TEST(ServiceUnconnected, CommWithoutLinkThrowsTheFoundationException)
{
    OstrelService::disconnect();
    try {
        OstrelService::comm();
        ADD_FAILURE() << "no exception";
    } catch (const Corvel::Exception& e) {
        EXPECT_EQ(Corvel::CVLX_SEELEGEND, e.code());
        EXPECT_EQ("Daemon Comm pointer is null", e.legend());
    }
}

TEST(ServiceUnconnected, RefusedConnectionLeavesTheServiceUnconnected)
{
    ScriptedDaemon daemon;
    std::string strAddress = daemon.address();
    daemon.stop();
    EXPECT_THROW(OstrelService::connect(strAddress), Corvel::Exception);
    EXPECT_FALSE(OstrelService::isConnected());
}

TEST_F(Service, ResponseComesBackAsSent)
{
    _daemon.answer("who", responseText("who", "authenticatedusers"));
    Vesk::XMLDoc docResponse = transact("who");
    EXPECT_EQ("who", docResponse.rootNode()->attribute("response"));
    EXPECT_NE(nullptr, docResponse.rootNode()->findChild("authenticatedusers"));
    EXPECT_EQ("127.0.0.1", OstrelService::host());
    // The daemon got the request as the factory wrote it.
    EXPECT_EQ("who", _daemon.lastRequest("who").rootNode()->attribute("request"));
}

TEST_F(Service, AnyTypeButUsmCompletesTheRequest)
{
    _daemon.answer("a", "<reply type=\"answer\" response=\"a\"/>");
    _daemon.answer("b", "<reply/>");
    EXPECT_EQ("a", transact("a").rootNode()->attribute("response"));
    EXPECT_EQ("reply", transact("b").rootNode()->name());
}

TEST_F(Service, UsmMessageDuringARequestGoesToTheHandlerNotTheWaiter)
{
    _daemon.setScript([](Corvel::ConnectionContext& context, const Vesk::XMLDoc&) {
        context.push("<note type=\"usm\">maintenance at noon</note>");
        // A usm marked reply does not answer the request either.
        return std::string();
    });
    OstrelDataXML::testhooks::setResponseWaitMs(50);
    expectCode(OstrelData::nNAX_RESPONSETIMEOUT, [&] { transact("who"); });
    Delivery delivery;
    ASSERT_TRUE(HandlerLog::instance().next(delivery));
    EXPECT_EQ(Corvel::DaemonComm::unsolicited, delivery.status);
    EXPECT_EQ("<note type=\"usm\">maintenance at noon</note>", delivery.strText);
}

TEST_F(Service, UsmMessageDuringARequestLeavesTheResponseToTheRequest)
{
    _daemon.setScript([](Corvel::ConnectionContext& context, const Vesk::XMLDoc&) {
        context.push("<note type=\"usm\"/>");
        return responseText("who");
    });
    EXPECT_EQ("who", transact("who").rootNode()->attribute("response"));
    Delivery delivery;
    ASSERT_TRUE(HandlerLog::instance().next(delivery));
    EXPECT_EQ("<note type=\"usm\"/>", delivery.strText);
}

TEST_F(Service, MessageOutsideARequestGoesToTheHandlerWhateverItsType)
{
    transact("who");
    ASSERT_TRUE(_daemon.pushToAll("<ostrelservice response=\"who\"/>"));
    Delivery delivery;
    ASSERT_TRUE(HandlerLog::instance().next(delivery));
    EXPECT_EQ(Corvel::DaemonComm::unsolicited, delivery.status);
    EXPECT_EQ("<ostrelservice response=\"who\"/>", delivery.strText);
}

TEST_F(Service, TextThatIsNotXMLReachesTheHandlerUnchanged)
{
    _daemon.setScript([](Corvel::ConnectionContext& context, const Vesk::XMLDoc&) {
        context.push("plain words, <not xml");
        context.push("");
        return responseText("who");
    });
    transact("who");
    Delivery delivery;
    ASSERT_TRUE(HandlerLog::instance().next(delivery));
    EXPECT_EQ("plain words, <not xml", delivery.strText);
    EXPECT_EQ(Corvel::DaemonComm::unsolicited, delivery.status);
    ASSERT_TRUE(HandlerLog::instance().next(delivery));
    EXPECT_EQ("", delivery.strText);
}

TEST_F(Service, NonXMLReplyDoesNotAnswerTheRequest)
{
    _daemon.answer("who", "not a document");
    OstrelDataXML::testhooks::setResponseWaitMs(50);
    expectCode(OstrelData::nNAX_RESPONSETIMEOUT, [&] { transact("who"); });
    Delivery delivery;
    ASSERT_TRUE(HandlerLog::instance().next(delivery));
    EXPECT_EQ(Corvel::DaemonComm::response, delivery.status);
    EXPECT_EQ("not a document", delivery.strText);
}

TEST_F(Service, WithoutAHandlerUnsolicitedMessagesAreDropped)
{
    OstrelService::setCallback(nullptr);
    _daemon.setScript([](Corvel::ConnectionContext& context, const Vesk::XMLDoc&) {
        context.push("<note type=\"usm\"/>");
        context.push("garbage");
        return responseText("who");
    });
    EXPECT_EQ("who", transact("who").rootNode()->attribute("response"));
    EXPECT_EQ("who", transact("who").rootNode()->attribute("response"));
}

TEST_F(Service, NoResponseEndsAfterTenWaitsWithCode20)
{
    _daemon.answer("who", "");
    OstrelDataXML::testhooks::setResponseWaitMs(40);
    Clock::time_point t0 = Clock::now();
    expectCode(OstrelData::nNAX_RESPONSETIMEOUT, [&] { transact("who"); }, "Request sent with no response (timeout).");
    long nMs = long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
    EXPECT_GE(nMs, 10 * 40 - 20);
    EXPECT_LT(nMs, 5000);
}

TEST_F(Service, LateReplyIsNotTakenForTheNextRequest)
{
    _daemon.setScript([](Corvel::ConnectionContext&, const Vesk::XMLDoc& doc) {
        std::string strName = doc.rootNode()->attribute("request").str();
        if (strName == "slow") std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        return responseText(strName);
    });
    OstrelDataXML::testhooks::setResponseWaitMs(20);
    expectCode(OstrelData::nNAX_RESPONSETIMEOUT, [&] { transact("slow"); });
    OstrelDataXML::testhooks::setResponseWaitMs(0);
    // The daemon answers in turn: "slow" first (late, dropped), then "fast".
    EXPECT_EQ("fast", transact("fast").rootNode()->attribute("response"));
    EXPECT_EQ("again", transact("again").rootNode()->attribute("response"));
}

TEST_F(Service, ReplyArrivingAfterTheTimeoutDoesNotShortenTheNextWait)
{
    std::atomic<int> nCalls{0};
    _daemon.setScript([&nCalls](Corvel::ConnectionContext&, const Vesk::XMLDoc& doc) {
        std::string strName = doc.rootNode()->attribute("request").str();
        if (nCalls++ == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        if (strName == "quiet") return std::string();
        return responseText(strName);
    });
    OstrelDataXML::testhooks::setResponseWaitMs(20);
    expectCode(OstrelData::nNAX_RESPONSETIMEOUT, [&] { transact("first"); });
    // Let the late reply arrive while nothing waits.
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    OstrelDataXML::testhooks::setResponseWaitMs(30);
    Clock::time_point t0 = Clock::now();
    expectCode(OstrelData::nNAX_RESPONSETIMEOUT, [&] { transact("quiet"); });
    long nMs = long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
    EXPECT_GE(nMs, 10 * 30 - 20) << "a stale signal cut the wait short";
}

TEST_F(Service, ConnectionDroppedMidRequestFailsAtOnceAsTransportFailure)
{
    _daemon.setScript([](Corvel::ConnectionContext& context, const Vesk::XMLDoc&) {
        context.close();
        return std::string();
    });
    Clock::time_point t0 = Clock::now();
    expectCode(OstrelData::nNAX_ALIENEXCEPTION, [&] { transact("who"); });
    long nMs = long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
    EXPECT_LT(nMs, 5000) << "waited out the time-out on a broken link";
    // The break itself reaches the handler as an error.
    Delivery delivery;
    ASSERT_TRUE(HandlerLog::instance().next(delivery));
    EXPECT_EQ(Corvel::DaemonComm::error, delivery.status);
    // Later requests fail as transport failures too, until a new connect.
    expectCode(OstrelData::nNAX_ALIENEXCEPTION, [&] { transact("who"); });
    OstrelService::connect(_daemon.address());
    _daemon.setScript([](Corvel::ConnectionContext&, const Vesk::XMLDoc&) { return responseText("who"); });
    EXPECT_EQ("who", transact("who").rootNode()->attribute("response"));
}

TEST_F(Service, ConnectTwiceReplacesTheLink)
{
    OstrelService::connect(_daemon.address());
    EXPECT_TRUE(OstrelService::isConnected());
    EXPECT_EQ("ok", transact("who").rootNode()->attribute("response"));
    EXPECT_TRUE(_daemon.waitForConnections(1)) << "the first link was not closed";
}

TEST_F(Service, DisconnectEndsTheLink)
{
    OstrelService::disconnect();
    EXPECT_FALSE(OstrelService::isConnected());
    EXPECT_THROW(OstrelService::comm(), Corvel::Exception);
    Vesk::XMLDoc docResponse;
    expectCode(OstrelData::nNAX_NOSERVERCONNECT, [&] { OstrelService::transact(docResponse, request("who")); });
    OstrelService::disconnect();  // harmless twice
}
