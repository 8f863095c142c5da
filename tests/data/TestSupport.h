#ifndef OSTREL_TESTS_DATA_TESTSUPPORT_H
#define OSTREL_TESTS_DATA_TESTSUPPORT_H

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "OstrelData/OstrelData.h"

// Expects the statement to throw an OstrelData::Exception with this code and legend.
#define EXPECT_OSTREL_THROW(statement, nCode, strLegend)                                                  \
    do {                                                                                                   \
        try {                                                                                              \
            statement;                                                                                     \
            ADD_FAILURE() << "no exception from " #statement;                                             \
        } catch (const OstrelData::Exception& e_) {                                                        \
            EXPECT_EQ((nCode), e_.errorCode()) << e_;                                                      \
            EXPECT_EQ(std::string(strLegend), e_.legend()) << e_;                                          \
        }                                                                                                  \
    } while (0)

namespace ostreltest {

// Allocations on this thread before the next one throws std::bad_alloc; -1 (the default): none does.
extern thread_local long g_nAllocationsLeft;

// An in-process authenticator that records what it is asked and can be told
// to fail. It leaves the optional operations to the base unless bOfferAll.
class RecordingAuthenticator : public OstrelData::Authenticator {
public:
    RecordingAuthenticator(const OstrelData::Domain& domain, bool bOfferAll = false)
        : Authenticator(OstrelData::InitMap(), domain, "recording", 99), _bOfferAll(bOfferAll)
    {
    }

    OstrelData::AuthenticatedUser authenticate(const OstrelData::User& user,
                                               const OstrelData::AuthenticationToken& authToken,
                                               const OstrelData::Profile& profile) override
    {
        callS.push_back("authenticate");
        if (authToken.str() != "right")
            OSTREL_RAISE(OstrelData::nNAX_AUTHENTICATIONFAILED, "wrong password");
        return OstrelData::AuthenticatedUser(user, OstrelData::SessionString("sid-" + user.userId()), profile);
    }
    void user(OstrelData::User& user, bool) override
    {
        callS.push_back("user");
        user.setName("Completed " + user.userId());
    }
    void team(OstrelData::Team& team) override
    {
        callS.push_back("team:" + domain().domain());
        OstrelData::User member(domain(), "member-" + domain().domain(), "", "", "");
        team.members().emplace(member.key(), OstrelData::TeamMember(member, false));
    }
    void findUsers(OstrelData::UserMap&, const std::string&) override { callS.push_back("findUsers"); }
    void users(OstrelData::UserMap& userS) override
    {
        if (!_bOfferAll)
            Authenticator::users(userS);
        callS.push_back("users");
        OstrelData::User u(domain(), "listed", "", "", "");
        userS.emplace(u.key(), u);
    }
    void createTeamMember(OstrelData::Team& team, OstrelData::User& user) override
    {
        if (failNext)
            OSTREL_RAISE(OstrelData::nNAX_UPDATEFAILED, "refused");
        if (!_bOfferAll)
            Authenticator::createTeamMember(team, user);
        callS.push_back("createTeamMember");
    }
    void deleteTeamMember(OstrelData::Team& team, OstrelData::User& user) override
    {
        if (failNext)
            OSTREL_RAISE(OstrelData::nNAX_UPDATEFAILED, "refused");
        if (!_bOfferAll)
            Authenticator::deleteTeamMember(team, user);
        callS.push_back("deleteTeamMember");
    }
    bool passwd(const OstrelData::AuthenticatedUser& user, OstrelData::AuthenticationToken& current,
                OstrelData::AuthenticationToken& fresh) override
    {
        if (!_bOfferAll)
            return Authenticator::passwd(user, current, fresh);
        callS.push_back("passwd:" + current.str() + ">" + fresh.str());
        return true;
    }

    std::vector<std::string> callS;
    bool failNext = false;

private:
    bool _bOfferAll;
};

// Every registry empty at the start of a test (and the time-out and current
// user at their initial state), and left so at its end: registries are process
// state shared by every test of the binary.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    static void clearRegistries();
};

// Registers the platform "LNX" (once) and the library template nLibrary whose
// file for "LNX" is strPath; returns the registered template.
OstrelData::AuthenticationLibrary& registerTemplate(int nLibrary, const std::string& strPath,
                                                    const OstrelData::InitMap& initLibrary = OstrelData::InitMap());

// Whether the dynamic loader still holds the file open.
bool isLoaded(const std::string& strPath);

} // namespace ostreltest

#endif
