#include "TestSupport.h"

#include <chrono>
#include <thread>

using namespace OstrelData;
using ostreltest::RecordingAuthenticator;

namespace {

// Waits for the start of the next second of the clock access() reads, so a
// few steps that follow fall into one second.
time_t nextSecond()
{
    const time_t tStart = time(nullptr);
    time_t tNow = tStart;
    while (tNow == tStart) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        tNow = time(nullptr);
    }
    return tNow;
}

class SessionTest : public ostreltest::RegistryTest {
protected:
    SessionTest() : domain(Customer::allCustomers, "acme"), authenticator(domain, true) {}

    void SetUp() override
    {
        RegistryTest::SetUp();
        domain.setAuthenticator(authenticator);
    }

    AuthenticatedUser login(const std::string& strUserId, const std::string& strSessionId)
    {
        return AuthenticatedUser(User(domain, strUserId, "", "", ""), SessionString(strSessionId),
                                 Profile("dev", false));
    }

    Domain domain;
    RecordingAuthenticator authenticator;
};

} // namespace

TEST_F(SessionTest, NewSessionIsAcceptedHoweverOldItIs)
{
    Session session("s1");
    EXPECT_EQ(-1, session.accessed());
    EXPECT_FALSE(session.expired());
    Session::setSessionTimeout(-1);
    const time_t tBefore = time(nullptr);
    EXPECT_NO_THROW(session.access());
    EXPECT_GE(session.accessed(), tBefore);
}

TEST_F(SessionTest, SessionUsedExactlyAtTheTimeoutIsRenewedAndOneSecondLaterRefused)
{
    Session::setSessionTimeout(0);
    Session session("s1");
    time_t tFirst = -1;
    // Two accesses within one second: the second comes exactly time-out (0)
    // seconds after the first. Retried should the clock tick in between.
    for (int nTry = 0; nTry < 3 && tFirst == -1; ++nTry) {
        session = Session("s1");
        const time_t tStart = time(nullptr);
        session.access();
        try {
            session.access();
        } catch (const Exception&) {
            ASSERT_NE(tStart, time(nullptr)) << "refused within the same second";
            continue;
        }
        if (time(nullptr) == tStart)
            tFirst = tStart;
    }
    ASSERT_NE(-1, tFirst);
    EXPECT_EQ(tFirst, session.accessed());
    nextSecond();
    EXPECT_TRUE(session.expired());
    EXPECT_OSTREL_THROW(session.access(), nNAX_BADSESSION, "Session timed out.");
    EXPECT_EQ(tFirst, session.accessed());
}

TEST_F(SessionTest, TimeoutChangeReachesExistingSessionsAtTheirNextAccess)
{
    Session session("s1");
    session.access();
    Session::setSessionTimeout(-1);
    EXPECT_OSTREL_THROW(session.access(), nNAX_BADSESSION, "Session timed out.");
    Session::setSessionTimeout(60);
    EXPECT_NO_THROW(session.access());
    EXPECT_EQ(60, Session::sessionTimeout());
}

TEST_F(SessionTest, SessionStringCopiesKeepTypeIdAndAccessTime)
{
    SessionString session("abc");
    session.access();
    std::unique_ptr<Session> pcopy(session.copy());
    ASSERT_NE(nullptr, dynamic_cast<SessionString*>(pcopy.get()));
    EXPECT_EQ("abc", pcopy->str());
    EXPECT_EQ(session.accessed(), pcopy->accessed());
    std::unique_ptr<Session> pplain(Session("p").copy());
    EXPECT_EQ(nullptr, dynamic_cast<SessionString*>(pplain.get()));
    EXPECT_EQ("", Session().str());
}

TEST_F(SessionTest, AuthenticatedUserOwnsACopyOfItsSession)
{
    SessionString session("abc");
    session.access();
    AuthenticatedUser user(User(domain, "jdoe", "", "", ""), session, Profile("dev", true));
    EXPECT_NE(&session, &user.session());
    AuthenticatedUser copy(user);
    ASSERT_NE(nullptr, dynamic_cast<const SessionString*>(&copy.session()));
    EXPECT_NE(&user.session(), &copy.session());
    EXPECT_EQ("abc", copy.session().str());
    EXPECT_EQ(session.accessed(), copy.session().accessed());
    EXPECT_EQ("dev", copy.profile().profile());
    EXPECT_TRUE(copy.profile().isDefault());

    AuthenticatedUser assigned;
    assigned = copy;
    EXPECT_NE(nullptr, dynamic_cast<const SessionString*>(&assigned.session()));
    assigned = AuthenticatedUser();
    EXPECT_FALSE(assigned.hasSession());
    EXPECT_OSTREL_THROW(assigned.session(), nNAX_BADSESSION, "Null session.");
    const AuthenticatedUser& reader = assigned;
    EXPECT_OSTREL_THROW(reader.session(), nNAX_BADSESSION, "Null session.");
    EXPECT_EQ("", reader.profile().profile());
}

TEST_F(SessionTest, PasswordChangeGoesToTheDomainsAuthenticator)
{
    AuthenticatedUser user = login("jdoe", "s1");
    PasswordAuthenticationToken current("old"), fresh("new");
    EXPECT_TRUE(user.passwd(current, fresh));
    EXPECT_EQ(std::vector<std::string>{"passwd:old>new"}, authenticator.callS);
    RecordingAuthenticator plain(domain);
    domain.setAuthenticator(plain);
    EXPECT_OSTREL_THROW(user.passwd(current, fresh), nNAX_NOTIMPLEMENTED, "passwd");
    domain.setAuthenticator(authenticator);
}

TEST_F(SessionTest, MapRefusesDuplicateIdsAndKeepsTheFirst)
{
    SessionMap sessionS;
    AuthenticatedUser& stored = sessionS.addSession(login("jdoe", "s1"));
    EXPECT_EQ("jdoe", stored.userId());
    EXPECT_OSTREL_THROW(sessionS.addSession(login("jane", "s1")), nNAX_BADSESSION, "Session already exists.");
    EXPECT_EQ(1u, sessionS.size());
    EXPECT_EQ("jdoe", sessionS.at("s1").userId());
    EXPECT_OSTREL_THROW(sessionS.addSession(AuthenticatedUser()), nNAX_BADSESSION, "Null session.");
}

TEST_F(SessionTest, LookUpRenewsTheStoredSessionOnly)
{
    SessionMap sessionS;
    sessionS.addSession(login("jdoe", "s1"));
    SessionString presented("s1");
    AuthenticatedUser& found = sessionS.session(presented);
    EXPECT_EQ("jdoe", found.userId());
    EXPECT_NE(-1, found.session().accessed());
    EXPECT_EQ(-1, presented.accessed());
    EXPECT_OSTREL_THROW(sessionS.session(Session("s2")), nNAX_BADSESSION, "No such session.");
}

TEST_F(SessionTest, ExpiredSessionIsRemovedOnLookup)
{
    SessionMap sessionS;
    sessionS.addSession(login("jdoe", "s1"));
    sessionS.session(Session("s1"));
    Session::setSessionTimeout(-1);
    EXPECT_OSTREL_THROW(sessionS.session(Session("s1")), nNAX_BADSESSION, "Session timed out.");
    EXPECT_EQ(0u, sessionS.count("s1"));
    EXPECT_OSTREL_THROW(sessionS.session(Session("s1")), nNAX_BADSESSION, "No such session.");
}

TEST_F(SessionTest, KillRemovesOnlyKnownSessions)
{
    SessionMap sessionS;
    sessionS.addSession(login("jdoe", "s1"));
    sessionS.addSession(login("jane", "s2"));
    sessionS.kill(SessionString("s1"));
    EXPECT_EQ(0u, sessionS.count("s1"));
    EXPECT_EQ(1u, sessionS.count("s2"));
    EXPECT_OSTREL_THROW(sessionS.kill(SessionString("s1")), nNAX_BADSESSION, "No such session.");
}

TEST_F(SessionTest, CleanUpRemovesExpiredSessionsAndLeavesLiveOnesUntouched)
{
    SessionMap sessionS;
    sessionS.addSession(login("jdoe", "old"));
    sessionS.addSession(login("jane", "fresh"));
    sessionS.addSession(login("bob", "unused"));
    Session::setSessionTimeout(0);
    sessionS.session(Session("old"));
    const time_t tOld = sessionS.at("old").session().accessed();
    const time_t tFresh = nextSecond();
    sessionS.session(Session("fresh"));
    ASSERT_EQ(tFresh, sessionS.at("fresh").session().accessed()) << "the clock moved on during the test";
    sessionS.cleanUp();
    EXPECT_EQ(0u, sessionS.count("old"));
    ASSERT_EQ(1u, sessionS.count("fresh"));
    EXPECT_EQ(tFresh, sessionS.at("fresh").session().accessed());
    ASSERT_EQ(1u, sessionS.count("unused"));
    EXPECT_EQ(-1, sessionS.at("unused").session().accessed());
    EXPECT_LT(tOld, tFresh);
    EXPECT_OSTREL_THROW(sessionS.session(Session("old")), nNAX_BADSESSION, "No such session.");
}
