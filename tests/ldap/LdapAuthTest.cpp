// The LDAP plug-in's authenticator in the test process against real slapd servers on loopback:
// both ways of finding a user, escaping, refusals that look alike, groups of every membership style
// as teams and leads, directory reads, transport security, and a directory that goes away.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AuthLdap/LdapAuthenticator.h"
#include "Corvel/EventLogger.h"
#include "LdapHarness.h"
#include "harness/Failures.h"
#include "OstrelData/OstrelData.h"

namespace {

using namespace AuthLdap;
using LdapTest::Slapd;
using OstrelData::InitMap;

// The lines logged while it lives: the directory's own words go there, never to the client.
class LogLines {
public:
    LogLines()
    {
        Corvel::EventLogger::setSink([this](const std::string& strLine) {
            std::lock_guard<std::mutex> lock(_mx);
            _strText += strLine + "\n";
        });
    }
    ~LogLines() { Corvel::EventLogger::setSink(nullptr); }
    std::string text() const
    {
        std::lock_guard<std::mutex> lock(_mx);
        return _strText;
    }

private:
    mutable std::mutex _mx;
    std::string _strText;
};

using OstrelTest::failureOf;

// A relay on loopback in front of a directory that, once armed, passes on the next extended request
// (a password change), then drops the reply and cuts both links: the change is made, its answer lost.
class CuttingRelay {
public:
    explicit CuttingRelay(int nUpstreamPort) : _nUpstreamPort(nUpstreamPort)
    {
        _fdListen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = loopback(0);
        socklen_t nLength = sizeof address;
        if (_fdListen < 0 || ::bind(_fdListen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(_fdListen, 16) != 0 || ::getsockname(_fdListen, reinterpret_cast<sockaddr*>(&address), &nLength) != 0)
            throw std::runtime_error("the relay cannot listen");
        _nPort = ntohs(address.sin_port);
        _acceptor = std::thread([this] { acceptLoop(); });
    }
    ~CuttingRelay()
    {
        _bStop = true;
        _acceptor.join();
        for (std::thread& thread : _relayS)
            thread.join();
        ::close(_fdListen);
    }
    std::string url() const { return "ldap://127.0.0.1:" + std::to_string(_nPort); }
    void arm() { _bArmed = true; }
    bool cut() const { return _bCut; }

private:
    static sockaddr_in loopback(int nPort)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(nPort));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }
    // LDAPMessage: SEQUENCE { messageID INTEGER, protocolOp }, the extended request [APPLICATION 23].
    static bool isExtendedRequest(const std::string& str)
    {
        if (str.size() < 2 || static_cast<unsigned char>(str[0]) != 0x30) return false;
        const unsigned char b = static_cast<unsigned char>(str[1]);
        size_t i = 2 + ((b & 0x80) != 0 ? (b & 0x7f) : 0);
        if (i + 2 > str.size() || str[i] != 0x02) return false;
        i += 2 + static_cast<unsigned char>(str[i + 1]);
        return i < str.size() && static_cast<unsigned char>(str[i]) == 0x77;
    }
    void acceptLoop()
    {
        while (!_bStop) {
            pollfd pfd{_fdListen, POLLIN, 0};
            if (::poll(&pfd, 1, 50) <= 0) continue;
            const int fd = ::accept(_fdListen, nullptr, nullptr);
            if (fd >= 0) _relayS.emplace_back([this, fd] { relay(fd); });
        }
    }
    void relay(int fdClient)
    {
        const int fdServer = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in address = loopback(_nUpstreamPort);
        bool bOpen = ::connect(fdServer, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        bool bCutting = false;
        char ach[65536];
        while (bOpen && !_bStop) {
            pollfd apfd[2] = {{fdClient, POLLIN, 0}, {fdServer, POLLIN, 0}};
            if (::poll(apfd, 2, 50) <= 0) continue;
            for (int i = 0; i < 2 && bOpen; ++i) {
                if (apfd[i].revents == 0) continue;
                const ssize_t n = ::recv(apfd[i].fd, ach, sizeof ach, 0);
                if (n <= 0) {
                    bOpen = false;
                } else if (i == 1 && bCutting) {
                    _bCut = true;
                    bOpen = false;
                } else {
                    if (i == 0 && _bArmed && isExtendedRequest(std::string(ach, static_cast<size_t>(n))))
                        bCutting = _bArmed.exchange(false);
                    bOpen = ::send(apfd[1 - i].fd, ach, static_cast<size_t>(n), MSG_NOSIGNAL) == n;
                }
            }
        }
        ::close(fdServer);
        ::close(fdClient);
    }

    const int _nUpstreamPort;
    int _fdListen = -1;
    int _nPort = 0;
    std::atomic<bool> _bArmed{false}, _bCut{false}, _bStop{false};
    std::thread _acceptor;
    std::vector<std::thread> _relayS;  // only the acceptor adds to it
};

// The registries the plug-in reads: customer ACME, domain LDAP, teams 7 Ops, 8 Dev, 9 Outer,
// 10 Posix, and the team map given.
struct Model {
    Model() { reset(); }

    void reset()
    {
        using OstrelData::Factory;
        Factory::aliens().clear();
        Factory::raliens().clear();
        Factory::xteams().clear();
        Factory::teams().clear();
        Factory::domains().clear();
        Factory::customers().clear();
        Factory::customers()["ACME"] = OstrelData::Customer("ACME", "Acme");
        Factory::domains()["LDAP"] = OstrelData::Domain(Factory::customers()["ACME"], "LDAP");
        for (auto team : std::vector<std::pair<int, const char*>>{{7, "Ops"}, {8, "Dev"}, {9, "Outer"}, {10, "Posix"}})
            Factory::teams()[team.first] = OstrelData::Team(Factory::customers()["ACME"], team.first, team.second);
    }

    static void map(const std::string& strGroup, const std::string& strLeadGroup, int nTeam,
                    const std::string& strDomain = "LDAP")
    {
        using OstrelData::Factory;
        OstrelData::XTeam xteam(strDomain, strGroup, strLeadGroup, nTeam);
        OstrelData::XTeam& stored = Factory::xteams()[xteam.keyAlienMap()] = xteam;
        Factory::aliens()[stored.keyAlien()][stored.keyAlienMap()] = &stored;
        Factory::raliens()[nTeam][stored.keyAlienMap()] = &stored;
    }

    const OstrelData::Domain& domain() const { return OstrelData::Factory::domains().at("LDAP"); }
};

class LdapAuthTest : public ::testing::Test {
protected:
    std::unique_ptr<LdapAuthenticator> authenticator(const InitMap& initAuthenticator, const InitMap& initLibrary = {})
    {
        return std::make_unique<LdapAuthenticator>(initLibrary, initAuthenticator, _model.domain(), "LDAP", 2);
    }

    OstrelData::AuthenticatedUser login(LdapAuthenticator& auth, const std::string& strUserId,
                                        const std::string& strPassword)
    {
        return auth.authenticate(OstrelData::User(_model.domain(), strUserId, "", "", ""),
                                 OstrelData::PasswordAuthenticationToken(strPassword), OstrelData::Profile("p"));
    }

    static std::vector<int> teamsOf(const OstrelData::User& user)
    {
        std::vector<int> teamS;
        for (const auto& entry : user.teams())
            teamS.push_back(entry.first);
        return teamS;
    }

    // "uid:lead" or "uid:member" for every member, sorted by key.
    static std::vector<std::string> membersOf(LdapAuthenticator& auth, int nTeam)
    {
        OstrelData::Team team = OstrelData::Factory::teams().at(nTeam);
        auth.team(team);
        std::vector<std::string> memberS;
        for (const auto& entry : static_cast<const OstrelData::Team&>(team).members())
            memberS.push_back(entry.first.second + (entry.second.isLead() ? ":lead" : ":member"));
        return memberS;
    }

    Model _model;
    Slapd _slapd;
};

std::vector<InitMap> bothModes(const Slapd& slapd)
{
    return {LdapTest::templateParams(slapd), LdapTest::searchParams(slapd)};
}

TEST_F(LdapAuthTest, GoodPasswordLogsInWithNameAndContactInBothModes)
{
    for (const InitMap& params : bothModes(_slapd)) {
        auto pauth = authenticator(params);
        OstrelData::AuthenticatedUser alice = login(*pauth, "alice", "alice-pw");
        EXPECT_EQ("alice", alice.userId());
        EXPECT_EQ("Alice Liddell", alice.name());
        EXPECT_EQ("alice@example.org", alice.contact());
        EXPECT_EQ("LDAP", alice.domain().domain());
        EXPECT_EQ(32u, alice.session().str().size());
        EXPECT_NE(alice.session().str(), login(*pauth, "alice", "alice-pw").session().str());
        EXPECT_TRUE(alice.authenticationToken().empty());
        std::string strStamp;
        pauth->authenticateStamped(OstrelData::User(_model.domain(), "ALICE", "", "", ""),
                                   OstrelData::PasswordAuthenticationToken("alice-pw"), OstrelData::Profile("p"), strStamp);
        EXPECT_EQ(pauth->credentialStamp("alice"), strStamp) << "the stamp a login gives is the account's";
        // The directory binds other spellings of the id as her; she is known by her entry's id
        // (else grants revoked from alice would not hold for "ALICE"), and only by it.
        for (const char* pszSpelling : {"ALICE", " alice"})
            EXPECT_EQ("alice", login(*pauth, pszSpelling, "alice-pw").userId()) << pszSpelling;
        for (const char* pszOther : {"ALICE", "", "\xff\x80\x80"}) {
            OstrelData::User other(_model.domain(), pszOther, "", "", "");
            EXPECT_EQ(OstrelData::nNAX_USERNOTFOUND, failureOf([&] { pauth->user(other, false); }).errorCode());
        }
    }
}

TEST_F(LdapAuthTest, WrongPasswordUnknownUserAndEmptyPasswordFailAlike)
{
    for (const InitMap& params : bothModes(_slapd)) {
        auto pauth = authenticator(params);
        OstrelData::Exception wrong = failureOf([&] { login(*pauth, "alice", "alice-pW"); });
        ASSERT_EQ(OstrelData::nNAX_AUTHENTICATIONFAILED, wrong.errorCode());
        for (const std::pair<const char*, const char*>& attempt :
             std::vector<std::pair<const char*, const char*>>{{"nobody", "alice-pw"},
                                                              {"alice", ""},
                                                              {"", "x"},
                                                              {"alice\x01", "alice-pw"},
                                                              {"\xc3(", "x"},
                                                              {"\xff\x80\x80", "x"},
                                                              {"twin", "twin-pw"},
                                                              {"fresh", "fresh-pw"}}) {
            OstrelData::Exception other = failureOf([&] { login(*pauth, attempt.first, attempt.second); });
            EXPECT_EQ(wrong.errorCode(), other.errorCode()) << attempt.first;
            EXPECT_EQ(wrong.legend(), other.legend()) << attempt.first;
            EXPECT_EQ(wrong.file(), other.file());
            EXPECT_EQ(wrong.line(), other.line()) << attempt.first;
        }
    }
}

TEST_F(LdapAuthTest, EmptyPasswordIsRefusedEvenWhereAnAnonymousBindWouldDo)
{
    // The DN-template mode reads the user as himself: an anonymous bind would have "succeeded".
    auto pauth = authenticator(LdapTest::templateParams(_slapd));
    EXPECT_EQ(OstrelData::nNAX_AUTHENTICATIONFAILED, failureOf([&] { login(*pauth, "alice", ""); }).errorCode());
    LdapConnection connection(pauth->settings());
    EXPECT_FALSE(connection.bind("uid=alice,ou=people,dc=example,dc=org", ""));
}

TEST_F(LdapAuthTest, UnknownUserTakesAboutAsLongAsAWrongPassword)
{
    for (const InitMap& params : bothModes(_slapd)) {
        auto pauth = authenticator(params);
        // Connections made, and binds of known users timed: his hash costs far more than a refusal.
        ASSERT_EQ("slow", login(*pauth, "slow", "slow-pw").userId()) << "the directory cannot check his hash";
        login(*pauth, "slow", "slow-pw");
        // Taken in turns, so that whatever else the machine does weighs on both alike.
        std::vector<double> wrongS, unknownS;
        auto timeOne = [&](const char* pszUser, std::vector<double>& msS) {
            auto tStart = std::chrono::steady_clock::now();
            failureOf([&] { login(*pauth, pszUser, "not-the-password"); });
            msS.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - tStart).count());
        };
        for (int i = 0; i < 21; ++i) {
            timeOne("slow", wrongS);
            timeOne("nobody-at-all", unknownS);
        }
        std::sort(wrongS.begin(), wrongS.end());
        std::sort(unknownS.begin(), unknownS.end());
        const double wrong = wrongS[wrongS.size() / 2];
        const double unknown = unknownS[unknownS.size() / 2];
        EXPECT_GT(unknown, wrong / 3) << "unknown " << unknown << " ms, wrong " << wrong << " ms";
        EXPECT_LT(unknown, wrong * 3 + 1) << "unknown " << unknown << " ms, wrong " << wrong << " ms";
    }
}

TEST_F(LdapAuthTest, UserIdsWithMetacharactersAreValuesNeverSyntax)
{
    for (const InitMap& params : bothModes(_slapd)) {
        auto pauth = authenticator(params);
        for (const char* pszId : {"st*r", "pa(re)n", "back\\slash", "com,ma", "plus+sign", "eq=ual"}) {
            OstrelData::AuthenticatedUser user = login(*pauth, pszId, "odd-pw");
            EXPECT_EQ(pszId, user.userId());
            EXPECT_FALSE(user.name().empty()) << pszId;
            EXPECT_EQ(OstrelData::nNAX_AUTHENTICATIONFAILED,
                      failureOf([&] { login(*pauth, pszId, "alice-pw"); }).errorCode());
        }
        // Patterns and injected filters or RDNs find nobody, whatever the password.
        for (const std::string& strId :
             {std::string("*"), std::string("al*"), std::string("alice)(uid=*"), std::string("*)(|(uid=*"),
              std::string("alice,ou=people"), std::string("alice\0", 6), std::string("st\\2ar"),
              std::string("uid=alice,ou=people,dc=example,dc=org"), std::string("alice+cn=Alice Liddell")}) {
            for (const char* pszPassword : {"alice-pw", "odd-pw"})
                EXPECT_EQ(OstrelData::nNAX_AUTHENTICATIONFAILED,
                          failureOf([&] { login(*pauth, strId, pszPassword); }).errorCode())
                    << strId;
        }
    }
}

TEST_F(LdapAuthTest, GroupsOfEveryStyleBecomeTeamsThroughTheTeamMap)
{
    Model::map("ops", "ops-leads", 7);
    Model::map("devs", "devs-leads", 8);
    Model::map("outer", "", 9);
    Model::map("posix-devs", "", 10);
    Model::map("ops", "", 7, "OTHER");  // another domain's group of the same name gives nothing here

    InitMap params = LdapTest::searchParams(_slapd);
    params["group_style"] = "member";
    auto pmember = authenticator(params);
    EXPECT_EQ(std::vector<int>{7}, teamsOf(login(*pmember, "alice", "alice-pw")));
    EXPECT_EQ(std::vector<int>{7}, teamsOf(login(*pmember, "bob", "bob-pw")));
    EXPECT_TRUE(teamsOf(login(*pmember, "erin", "erin-pw")).empty()) << "in no mapped group";
    params["nested_groups"] = "yes";
    auto pnested = authenticator(params);
    EXPECT_EQ((std::vector<int>{7, 9}), teamsOf(login(*pnested, "bob", "bob-pw")));

    params = LdapTest::templateParams(_slapd);
    params["group_style"] = "uniqueMember";
    auto punique = authenticator(params);
    EXPECT_EQ(std::vector<int>{8}, teamsOf(login(*punique, "carol", "carol-pw")));
    EXPECT_EQ(std::vector<int>{8}, teamsOf(login(*punique, "st*r", "odd-pw")));
    EXPECT_TRUE(teamsOf(login(*punique, "alice", "alice-pw")).empty());

    params["group_style"] = "memberUid";
    auto puid = authenticator(params);
    EXPECT_EQ(std::vector<int>{10}, teamsOf(login(*puid, "dave", "dave-pw")));
    EXPECT_EQ(std::vector<int>{10}, teamsOf(login(*puid, "com,ma", "odd-pw")));
    EXPECT_TRUE(teamsOf(login(*puid, "bob", "bob-pw")).empty());

    params = LdapTest::searchParams(_slapd);
    params["group_style"] = "memberOf";
    auto pof = authenticator(params);
    EXPECT_EQ(std::vector<int>{7}, teamsOf(login(*pof, "alice", "alice-pw")));
    // carol is memberOf an "ops" outside group_base: not the mapped one.
    EXPECT_TRUE(teamsOf(login(*pof, "carol", "carol-pw")).empty());
    params["nested_groups"] = "yes";
    auto pofNested = authenticator(params);
    EXPECT_EQ((std::vector<int>{7, 9}), teamsOf(login(*pofNested, "alice", "alice-pw")));

    // A map naming the group by its DN works as well as by its name, spelt as the directory compares.
    _model.reset();
    Model::map("CN=ops, ou=Groups,dc=example,dc=org", "", 7);
    EXPECT_EQ(std::vector<int>{7}, teamsOf(login(*pmember, "bob", "bob-pw")));
}

TEST_F(LdapAuthTest, LeadGroupsMakeLeadsAndTeamsListTheirMembers)
{
    Model::map("ops", "ops-leads", 7);
    Model::map("devs", "devs-leads", 8);
    Model::map("posix-devs", "", 10);
    Model::map("outer", "", 9);
    InitMap params = LdapTest::searchParams(_slapd);
    auto pmember = authenticator(params);
    EXPECT_EQ((std::vector<std::string>{"alice:lead", "bob:member"}), membersOf(*pmember, 7));
    EXPECT_TRUE(membersOf(*pmember, 9).empty()) << "only a group in it, nesting off";
    params["nested_groups"] = "yes";
    EXPECT_EQ((std::vector<std::string>{"alice:member", "bob:member"}), membersOf(*authenticator(params), 9));

    params = LdapTest::searchParams(_slapd);
    params["group_style"] = "uniqueMember";
    EXPECT_EQ((std::vector<std::string>{"carol:lead", "st*r:member"}), membersOf(*authenticator(params), 8));
    params["group_style"] = "memberUid";
    EXPECT_EQ((std::vector<std::string>{"carol:member", "com,ma:member", "dave:member"}),
              membersOf(*authenticator(params), 10));
    params["group_style"] = "memberOf";
    EXPECT_EQ((std::vector<std::string>{"alice:lead", "bob:member"}), membersOf(*authenticator(params), 7));
}

TEST_F(LdapAuthTest, UsersAreReadFromTheDirectoryWithinTheSizeLimit)
{
    Model::map("ops", "", 7);
    auto pauth = authenticator(LdapTest::searchParams(_slapd));
    OstrelData::User bob(_model.domain(), "bob", "", "", "");
    pauth->user(bob, true);
    EXPECT_EQ("Bob Builder", bob.name());
    EXPECT_EQ("bob@example.org", bob.contact());
    EXPECT_EQ(std::vector<int>{7}, teamsOf(bob));
    OstrelData::User nobody(_model.domain(), "*", "", "", "");
    EXPECT_EQ(OstrelData::nNAX_USERNOTFOUND, failureOf([&] { pauth->user(nobody, false); }).errorCode());

    OstrelData::UserMap found;
    pauth->findUsers(found, "Li");
    std::vector<std::string> idS;
    for (const auto& entry : found)
        idS.push_back(entry.first.second);
    EXPECT_EQ((std::vector<std::string>{"alice", "dave"}), idS);  // Liddell, Lister
    found.clear();
    pauth->findUsers(found, "*");
    EXPECT_EQ(1u, found.size()) << "a star is a character, not a pattern";

    OstrelData::UserMap all;
    pauth->users(all);
    EXPECT_EQ(13u, all.size());
    EXPECT_EQ(0u, all.count({"LDAP", "twin"})) << "an entry of two ids is nobody";
    InitMap params = LdapTest::searchParams(_slapd);
    params["size_limit"] = "3";
    OstrelData::UserMap some;
    authenticator(params)->users(some);
    EXPECT_EQ(3u, some.size());
}

TEST_F(LdapAuthTest, WritesAreNotImplementedUnlessAllowed)
{
    auto pauth = authenticator(LdapTest::searchParams(_slapd));
    OstrelData::User carol(_model.domain(), "carol", "Carol", "", "");
    OstrelData::Team team = OstrelData::Factory::teams().at(7);
    OstrelData::PasswordAuthenticationToken current("carol-pw"), next("new-pw");
    OstrelData::AuthenticatedUser user(carol, OstrelData::SessionString("s"), OstrelData::Profile("p"));
    for (const auto& write : std::vector<std::function<void()>>{
             [&] { pauth->createUser(carol); }, [&] { pauth->updateUser(carol); }, [&] { pauth->deleteUser(carol); },
             [&] { pauth->createTeamMember(team, carol); }, [&] { pauth->deleteTeamMember(team, carol); },
             [&] { pauth->passwd(user, current, next); }})
        EXPECT_EQ(OstrelData::nNAX_NOTIMPLEMENTED, failureOf(write).errorCode());
    EXPECT_FALSE(pauth->userTools());
}

TEST_F(LdapAuthTest, AllowedWritesChangeThePasswordAndTheName)
{
    Slapd own(true);
    InitMap params = LdapTest::searchParams(own);
    params["allow_writes"] = "yes";
    params["bind_dn"] = "cn=writer,dc=example,dc=org";
    params["bind_password"] = "writer-pw";
    params["stamp_attrs"] = "entryCSN";  // this directory runs no password policy
    auto pauth = authenticator(params);
    OstrelData::AuthenticatedUser carol = login(*pauth, "carol", "carol-pw");
    OstrelData::PasswordAuthenticationToken wrong("nope"), current("carol-pw"), next("carol-new");
    EXPECT_EQ(OstrelData::nNAX_AUTHENTICATIONFAILED, failureOf([&] { pauth->passwd(carol, wrong, next); }).errorCode());
    // The stamp a kept session holds moves with the password, and is empty for no such user.
    const std::string strStamp = pauth->credentialStamp("carol");
    EXPECT_FALSE(strStamp.empty());
    std::string strLogin;
    pauth->authenticateStamped(OstrelData::User(_model.domain(), "carol", "", "", ""), current, OstrelData::Profile("p"),
                               strLogin);
    EXPECT_EQ(strStamp, strLogin);
    for (const char* pszNone : {"nobody", "CAROL"})
        EXPECT_EQ("", pauth->credentialStamp(pszNone)) << pszNone;
    EXPECT_TRUE(pauth->passwd(carol, current, next));
    EXPECT_NE(strStamp, pauth->credentialStamp("carol"));
    EXPECT_EQ(OstrelData::nNAX_AUTHENTICATIONFAILED, failureOf([&] { login(*pauth, "carol", "carol-pw"); }).errorCode());
    EXPECT_EQ("carol", login(*pauth, "carol", "carol-new").userId());

    pauth->updateUser(OstrelData::User(_model.domain(), "carol", "Carol D.", "", "carol@new.example"));
    OstrelData::AuthenticatedUser renamed = login(*pauth, "carol", "carol-new");
    EXPECT_EQ("Carol D.", renamed.name());
    EXPECT_EQ("carol@new.example", renamed.contact());
    EXPECT_EQ(OstrelData::nNAX_NOTIMPLEMENTED,
              failureOf([&] { pauth->createUser(OstrelData::User(_model.domain(), "x", "", "", "")); }).errorCode());
    // Another spelling of her id is not carol: her entry is not written through it.
    EXPECT_EQ(OstrelData::nNAX_USERNOTFOUND,
              failureOf([&] { pauth->updateUser(OstrelData::User(_model.domain(), "CAROL", "Mallory", "", "")); })
                  .errorCode());
    EXPECT_EQ("Carol D.", login(*pauth, "carol", "carol-new").name());

    // The change is made but its answer lost with the link: the one made again finds it made.
    {
        InitMap relayed = params;
        CuttingRelay relay(std::stoi(own.ldapUrl().substr(own.ldapUrl().rfind(':') + 1)));
        relayed["url"] = relay.url();
        auto prelayed = authenticator(relayed);
        login(*prelayed, "carol", "carol-new");  // leaves a connection in the pool, where links go stale
        relay.arm();
        OstrelData::PasswordAuthenticationToken before("carol-new"), after("carol-newer");
        EXPECT_TRUE(prelayed->passwd(carol, before, after));
        EXPECT_TRUE(relay.cut());
        EXPECT_EQ("carol", login(*pauth, "carol", "carol-newer").userId());
    }
    // A lock the directory sets ends her kept sessions, though stamp_attrs names no mark of one.
    const std::string strLock = "printf 'dn: uid=carol,ou=people,dc=example,dc=org\\nchangetype: modify\\n"
                                "replace: pwdAccountLockedTime\\npwdAccountLockedTime: 000001010000Z\\n' | "
                                "ldapmodify -x -H " + own.ldapUrl() + " -D cn=admin,dc=example,dc=org -w " +
                                own.adminPassword() + " >/dev/null";
    ASSERT_EQ(0, std::system(strLock.c_str()));
    EXPECT_EQ("", pauth->credentialStamp("carol"));
    // This directory enforces no lock, so the bind goes through and the mark stays: so does the refusal.
    OstrelData::PasswordAuthenticationToken newest("carol-newer");
    pauth->authenticateStamped(OstrelData::User(_model.domain(), "carol", "", "", ""), newest, OstrelData::Profile("p"),
                               strLogin);
    EXPECT_EQ("", strLogin);
}

TEST_F(LdapAuthTest, TlsByLdapsAndStartTlsWithTheCaAndNeverWithAnother)
{
    InitMap params = LdapTest::searchParams(_slapd);
    params["url"] = _slapd.ldapsUrl();
    params["ca_file"] = _slapd.caFile();
    EXPECT_EQ("alice", login(*authenticator(params), "alice", "alice-pw").userId());

    params["url"] = _slapd.ldapUrl();
    params["starttls"] = "yes";
    EXPECT_EQ("alice", login(*authenticator(params), "alice", "alice-pw").userId());

    // A certificate the configured CA did not sign is refused, over either way.
    params["ca_file"] = _slapd.otherCaFile();
    LogLines log;
    for (const char* pszStartTls : {"yes", "no"}) {
        params["starttls"] = pszStartTls;
        params["url"] = std::string(pszStartTls) == "yes" ? _slapd.ldapUrl() : _slapd.ldapsUrl();
        OstrelData::Exception e = failureOf([&] { login(*authenticator(params), "alice", "alice-pw"); });
        EXPECT_EQ(OstrelData::nNAX_SEARCHEXECFAILED, e.errorCode()) << e.legend();
        EXPECT_EQ(std::string::npos, e.legend().find("127.0.0.1")) << e.legend();
        EXPECT_NE(std::string::npos, log.text().find(params["url"])) << log.text();
    }
    // Certificate checks are on unless turned off.
    params.erase("ca_file");
    EXPECT_EQ(OstrelData::nNAX_SEARCHEXECFAILED,
              failureOf([&] { login(*authenticator(params), "alice", "alice-pw"); }).errorCode());
}

TEST_F(LdapAuthTest, PlainLdapOnlyToLoopbackUnlessAllowed)
{
    InitMap params = LdapTest::templateParams(_slapd);
    params["url"] = "ldap://ldap.example.org";
    OstrelData::Exception e = failureOf([&] { authenticator(params); });
    EXPECT_EQ(OstrelData::nNAX_AUTHENTICATORINITFAILED, e.errorCode());
    EXPECT_NE(std::string::npos, e.legend().find("clear")) << e.legend();
    for (const char* pszUrl : {"ldap://127.0.0.1:1 ldap://10.1.2.3", "ldap://127.example.org"}) {
        params["url"] = pszUrl;
        EXPECT_EQ(OstrelData::nNAX_AUTHENTICATORINITFAILED, failureOf([&] { authenticator(params); }).errorCode())
            << pszUrl;
    }
    for (const char* pszUrl : {"ldaps://ldap.example.org", "ldap://localhost:389", "ldap://[::1]:389", "ldapi:///"}) {
        params["url"] = pszUrl;
        EXPECT_EQ(0, failureOf([&] { authenticator(params); }).errorCode()) << pszUrl;
    }
    params["url"] = "ldap://ldap.example.org";
    params["starttls"] = "yes";
    EXPECT_EQ(0, failureOf([&] { authenticator(params); }).errorCode());
    params["starttls"] = "no";
    params["allow_plaintext"] = "yes";
    EXPECT_EQ(0, failureOf([&] { authenticator(params); }).errorCode());

    // Other parameters are checked too.
    for (const std::pair<const char*, const char*>& bad : std::vector<std::pair<const char*, const char*>>{
             {"timeout_ms", "soon"}, {"group_style", "friends"}, {"user_dn_template", "uid=x,dc=org"},
             {"user_dn_template", "uid=%%s,dc=org"},
             {"user_filter", "uid=%s"}, {"url", "http://x"}, {"user_scope", "deep"}, {"group_base", ""}}) {
        InitMap wrong = LdapTest::templateParams(_slapd);
        wrong[bad.first] = bad.second;
        if (*bad.second == '\0') wrong.erase(bad.first);  // missing, not guessed
        EXPECT_EQ(OstrelData::nNAX_AUTHENTICATORINITFAILED, failureOf([&] { authenticator(wrong); }).errorCode())
            << bad.first;
    }
    // The library's parameters are defaults, the domain's win.
    InitMap library = LdapTest::templateParams(_slapd);
    EXPECT_EQ("alice", login(*authenticator({{"timeout_ms", "2000"}}, library), "alice", "alice-pw").userId());
}

TEST_F(LdapAuthTest, DirectoryDownOrFrozenGivesAClearErrorInTimeAndIsUsedAgainWhenBack)
{
    Slapd own(true);
    std::vector<InitMap> modeS = bothModes(own);
    InitMap tls = LdapTest::searchParams(own);  // a TLS handshake that gets no answer must not hang either
    tls["url"] = own.ldapsUrl();
    tls["ca_file"] = own.caFile();
    modeS.push_back(tls);
    for (const InitMap& base : modeS) {
        LogLines log;
        InitMap params = base;
        params["timeout_ms"] = "1500";
        params["connect_timeout_ms"] = "1000";
        auto pauth = authenticator(params);
        EXPECT_EQ("alice", login(*pauth, "alice", "alice-pw").userId());

        own.halt();
        for (int i = 0; i < 2; ++i) {
            auto tStart = std::chrono::steady_clock::now();
            OstrelData::Exception e = failureOf([&] { login(*pauth, "alice", "alice-pw"); });
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - tStart).count();
            EXPECT_EQ(OstrelData::nNAX_SEARCHEXECFAILED, e.errorCode()) << e.legend();
            EXPECT_EQ(std::string::npos, e.legend().find(params["url"])) << e.legend();
            EXPECT_NE(std::string::npos, log.text().find(params["url"])) << log.text();
            EXPECT_LT(ms, 4000.0);
            OstrelData::User bob(_model.domain(), "bob", "", "", "");
            EXPECT_EQ(OstrelData::nNAX_SEARCHEXECFAILED, failureOf([&] { pauth->user(bob, false); }).errorCode());
        }
        own.resume();
        EXPECT_EQ("alice", login(*pauth, "alice", "alice-pw").userId());

        // Frozen: connections are taken but nothing is answered, on the kept connections first,
        // then on new ones (connect and TLS handshake).
        own.freeze(true);
        for (int i = 0; i < 2; ++i) {
            auto tStart = std::chrono::steady_clock::now();
            OstrelData::Exception e = failureOf([&] { login(*pauth, "alice", "alice-pw"); });
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - tStart).count();
            EXPECT_EQ(OstrelData::nNAX_SEARCHEXECFAILED, e.errorCode()) << e.legend();
            if (i == 0 && params.count("ca_file") == 0) {
                EXPECT_NE(std::string::npos, log.text().find("1500 ms")) << log.text();
            }
            EXPECT_LT(ms, 1500.0 * 2 + 1000) << "a search then a bind may each wait once: " << e.legend();
        }
        own.freeze(false);
        EXPECT_EQ("alice", login(*pauth, "alice", "alice-pw").userId());
    }
}

TEST_F(LdapAuthTest, ManyThreadsShareTheSmallPool)
{
    InitMap params = LdapTest::searchParams(_slapd);
    params["pool_size"] = "2";
    auto pauth = authenticator(params);
    std::atomic<int> nGood{0}, nBad{0};
    std::vector<std::thread> threadS;
    for (int t = 0; t < 8; ++t)
        threadS.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                try {
                    login(*pauth, t % 2 ? "alice" : "bob", t % 2 ? "alice-pw" : "bob-pw");
                    ++nGood;
                } catch (const OstrelData::Exception&) {
                    ++nBad;
                }
            }
        });
    for (std::thread& thread : threadS)
        thread.join();
    EXPECT_EQ(80, nGood.load());
    EXPECT_EQ(0, nBad.load());
}

} // namespace
