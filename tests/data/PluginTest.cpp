#include "TestSupport.h"

#include <cctype>
#include <cstring>
#include <new>

using namespace OstrelData;
using ostreltest::isLoaded;
using ostreltest::registerTemplate;

namespace {

class PluginTest : public ostreltest::RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        domain = &(Factory::domains()["acme"] = Domain(Customer::allCustomers, "acme"));
    }

    // An authenticator of the test plug-in for the acme domain.
    Authenticator& pluginAuthenticator()
    {
        AuthenticationLibrary* plibrary = registerTemplate(1, OSTREL_TEST_PLUGIN).load();
        Authenticator* pauthenticator = plibrary->authenticator(*domain, "table", InitMap());
        if (pauthenticator == nullptr)
            throw std::runtime_error("the plug-in made no authenticator");
        domain->setAuthenticator(*pauthenticator);
        return *pauthenticator;
    }

    Domain* domain = nullptr;
};

bool isHex(const std::string& str)
{
    for (char ch : str) {
        if (!std::isxdigit(static_cast<unsigned char>(ch)) || std::isupper(static_cast<unsigned char>(ch)))
            return false;
    }
    return true;
}

} // namespace

TEST_F(PluginTest, SharedObjectWithoutLinksFails)
{
    SharedObject bare;
    EXPECT_EQ(SharedObject::Key("", 0), bare.key());
    EXPECT_OSTREL_THROW(bare.platform(), nNAX_NOPLATFORMSET, "No platform set");
    EXPECT_OSTREL_THROW(bare.authenticationLibrary(), nNAX_NOAUTHENTICATIONLIBRARYSET, "No authenticationlibrary set");

    AuthenticationLibrary& library = registerTemplate(3, "lib3.so");
    const SharedObject& sharedObject = library.sharedObject("LNX");
    EXPECT_EQ(SharedObject::Key("LNX", 3), sharedObject.key());
    EXPECT_EQ(&Factory::platforms().at("LNX"), &sharedObject.platform());
    EXPECT_EQ(&library, &sharedObject.authenticationLibrary());
    EXPECT_EQ("lib3.so", sharedObject.sharedObject());
}

TEST_F(PluginTest, EmptyPlatformCodeMeansThisPlatform)
{
    AuthenticationLibrary& library = registerTemplate(1, OSTREL_TEST_PLUGIN);
    EXPECT_EQ(&library.sharedObject("LNX"), &library.sharedObject(""));
    EXPECT_OSTREL_THROW(library.sharedObject("W32"), nNAX_NOSHAREDOBJECTSET, "W32");
}

TEST_F(PluginTest, LibraryWithoutFileForThisPlatformFailsBeforeOpeningAnything)
{
    AuthenticationLibrary& library = registerTemplate(1, OSTREL_TEST_PLUGIN);
    library.sharedObjects()["W32"] = library.sharedObjects().at("LNX");
    library.sharedObjects().erase("LNX");
    EXPECT_OSTREL_THROW(library.load(), nNAX_NOSHAREDOBJECTSET, "LNX");
    EXPECT_EQ(nullptr, library.handle());
    EXPECT_FALSE(isLoaded(OSTREL_TEST_PLUGIN));
}

TEST_F(PluginTest, LoadOpensThePluginAndRegistersItsLibrary)
{
    AuthenticationLibrary& library = registerTemplate(1, OSTREL_TEST_PLUGIN);
    AuthenticationLibrary* plibrary = library.load();
    ASSERT_NE(nullptr, plibrary);
    EXPECT_NE(nullptr, library.handle());
    EXPECT_TRUE(isLoaded(OSTREL_TEST_PLUGIN));
    EXPECT_EQ(plibrary, Factory::authenticationLibraries().at(1));
    // Built with the template constructor.
    EXPECT_EQ(1, plibrary->authenticationLibrary());
    EXPECT_EQ("", plibrary->description());
    EXPECT_EQ(nullptr, plibrary->handle());
    EXPECT_EQ(AuthenticationLibrary::dispositionClearPassword, plibrary->authenticationTokenDisposition());
    EXPECT_TRUE(plibrary->userTools());
    EXPECT_EQ(library.sharedObjects(), plibrary->sharedObjects());

    // Loading again runs the entry point again on the open library.
    void* handle = library.handle();
    AuthenticationLibrary* pagain = library.load();
    EXPECT_NE(plibrary, pagain);
    EXPECT_EQ(pagain, Factory::authenticationLibraries().at(1));
    EXPECT_EQ(handle, library.handle());
}

TEST_F(PluginTest, MissingFileFailsWithTheLoadersMessageAndIsTriedAgain)
{
    const std::string strMissing = "/nonexistent/libnothing.so";
    AuthenticationLibrary& library = registerTemplate(1, strMissing);
    try {
        library.load();
        ADD_FAILURE() << "loaded a missing file";
    } catch (const Exception& e) {
        EXPECT_EQ(nNAX_NOSHAREDOBJECT, e.errorCode());
        EXPECT_NE(std::string::npos, e.legend().find(strMissing)) << e.legend();
    }
    EXPECT_EQ(nullptr, library.handle());
    EXPECT_TRUE(Factory::authenticationLibraries().empty());

    SharedObject& sharedObject = Factory::sharedObjects().at(SharedObject::Key("LNX", 1));
    sharedObject = SharedObject(Factory::platforms().at("LNX"), library, OSTREL_TEST_PLUGIN);
    EXPECT_NE(nullptr, library.load());
}

TEST_F(PluginTest, FileWithoutEntryPointFailsAndIsClosedAgain)
{
    AuthenticationLibrary& library = registerTemplate(2, OSTREL_TEST_NOENTRY);
    EXPECT_OSTREL_THROW(library.load(), nNAX_NOENTRYPOINT, "Symbol not found");
    EXPECT_EQ(nullptr, library.handle());
    EXPECT_FALSE(isLoaded(OSTREL_TEST_NOENTRY));
    EXPECT_TRUE(Factory::authenticationLibraries().empty());
}

TEST_F(PluginTest, EntryPointMakingNoLibraryIsRefused)
{
    AuthenticationLibrary& library = registerTemplate(4, OSTREL_TEST_PLUGIN, InitMap{{"fail", "1"}});
    EXPECT_OSTREL_THROW(library.load(), nNAX_AUTHENTICATIONLIBRARYINITFAILED, OSTREL_TEST_PLUGIN);
    EXPECT_EQ(0u, Factory::authenticationLibraries().count(4));
}

TEST_F(PluginTest, CopyOfLoadedTemplateSharesTheLibraryUntilTheLastHolderGoes)
{
    AuthenticationLibrary& library = registerTemplate(1, OSTREL_TEST_PLUGIN);
    library.load();
    {
        AuthenticationLibrary copy(library);
        EXPECT_EQ(library.handle(), copy.handle());
        Factory::authenticationLibraryTemplates().erase(1);
        EXPECT_TRUE(isLoaded(OSTREL_TEST_PLUGIN));
        AuthenticationLibrary assigned;
        assigned = copy;
        EXPECT_EQ(copy.handle(), assigned.handle());
    }
    Factory::authenticationLibraries().clear();
    EXPECT_FALSE(isLoaded(OSTREL_TEST_PLUGIN));
}

TEST_F(PluginTest, TemplateConstructorLeavesDescriptionAndHandleEmpty)
{
    AuthenticationLibrary& library = registerTemplate(1, OSTREL_TEST_PLUGIN, InitMap{{"k", "v"}});
    library.load();
    AuthenticationLibrary made(&library);
    EXPECT_EQ("", made.description());
    EXPECT_EQ(nullptr, made.handle());
    EXPECT_EQ(1, made.authenticationLibrary());
    EXPECT_EQ("v", made.libraryInit().at("k"));
    EXPECT_EQ(library.sharedObjects(), made.sharedObjects());
    EXPECT_EQ(nullptr, made.authenticator(*domain, "", InitMap()));
}

TEST_F(PluginTest, DispositionsAreCharacterCodes)
{
    EXPECT_EQ(45, AuthenticationLibrary::dispositionUnknown);
    EXPECT_EQ(67, AuthenticationLibrary::dispositionConfig);
    EXPECT_EQ(72, AuthenticationLibrary::dispositionHashedPassword);
    EXPECT_EQ(78, AuthenticationLibrary::dispositionNotUsed);
    EXPECT_EQ(80, AuthenticationLibrary::dispositionClearPassword);
    EXPECT_EQ(88, AuthenticationLibrary::dispositionMap);
    AuthenticationLibrary library;
    EXPECT_EQ(-1, library.authenticationLibrary());
    EXPECT_EQ(AuthenticationLibrary::dispositionUnknown, library.authenticationTokenDisposition());
    EXPECT_FALSE(library.userTools());
}

TEST_F(PluginTest, OptionalOperationsNotOfferedFailWithTheirName)
{
    pluginAuthenticator();
    User user(*domain, "jdoe", "", "", "");
    Team team(Customer::allCustomers, 10, "Ten");
    EXPECT_OSTREL_THROW(domain->createUser(user), nNAX_NOTIMPLEMENTED, "createUser");
    EXPECT_OSTREL_THROW(domain->deleteUser(user), nNAX_NOTIMPLEMENTED, "deleteUser");
    EXPECT_OSTREL_THROW(domain->users(true), nNAX_NOTIMPLEMENTED, "users");
    EXPECT_OSTREL_THROW(user.update(), nNAX_NOTIMPLEMENTED, "updateUser");
    EXPECT_OSTREL_THROW(user.addTeam(team), nNAX_NOTIMPLEMENTED, "createTeamMember");
    EXPECT_OSTREL_THROW(user.deleteTeam(team), nNAX_NOTIMPLEMENTED, "deleteTeamMember");
}

TEST_F(PluginTest, PluginAuthenticatesFromItsTableWithRandomSessionIds)
{
    Authenticator& authenticator = pluginAuthenticator();
    EXPECT_EQ("table", authenticator.description());
    EXPECT_EQ(1, authenticator.authenticationLibrary());
    EXPECT_FALSE(authenticator.userTools());

    User user(*domain, "jdoe", "", "", "");
    Profile profile("dev", true);
    AuthenticatedUser first = authenticator.authenticate(user, PasswordAuthenticationToken("secret"), profile);
    AuthenticatedUser second = authenticator.authenticate(user, PasswordAuthenticationToken("secret"), profile);
    EXPECT_EQ("John Doe", first.name());
    EXPECT_EQ(domain, &first.domain());
    EXPECT_EQ("dev", first.profile().profile());
    EXPECT_EQ(32u, first.session().str().size());
    EXPECT_TRUE(isHex(first.session().str())) << first.session().str();
    EXPECT_NE(first.session().str(), second.session().str());
    EXPECT_NE(nullptr, dynamic_cast<const SessionString*>(&first.session()));

    EXPECT_OSTREL_THROW(authenticator.authenticate(user, PasswordAuthenticationToken("wrong"), profile),
                        nNAX_AUTHENTICATIONFAILED, "Bad user id or password.");
    User stranger(*domain, "nobody", "", "", "");
    EXPECT_OSTREL_THROW(authenticator.authenticate(stranger, PasswordAuthenticationToken("secret"), profile),
                        nNAX_AUTHENTICATIONFAILED, "Bad user id or password.");
}

TEST_F(PluginTest, PluginCompletesUsersTeamsAndSearches)
{
    Authenticator& authenticator = pluginAuthenticator();
    User user(*domain, "asmith", "", "", "");
    Factory::user(user, false);
    EXPECT_EQ("Alice Smith", user.name());
    EXPECT_EQ("2 High Street", user.contact());
    User stranger(*domain, "nobody", "", "", "");
    EXPECT_OSTREL_THROW(authenticator.user(stranger, false), nNAX_USERNOTFOUND, "nobody");

    Customer customer("c", "C");
    customer.domains()["acme"] = domain;
    Team team(customer, 10, "Ten");
    team.loadMembers();
    const TeamMemberMap& memberS = static_cast<const Team&>(team).members();
    ASSERT_EQ(2u, memberS.size());
    EXPECT_TRUE(memberS.at(User::Key("acme", "jdoe")).isLead());
    EXPECT_FALSE(memberS.at(User::Key("acme", "asmith")).isLead());
    EXPECT_EQ(domain, &memberS.at(User::Key("acme", "jdoe")).domain());

    UserMap userS;
    authenticator.findUsers(userS, "Wong");
    ASSERT_EQ(1u, userS.size());
    EXPECT_EQ("bwong", userS.begin()->second.userId());
    userS.clear();
    authenticator.findUsers(userS, "o");
    EXPECT_EQ(2u, userS.size());
}

TEST_F(PluginTest, PasswordChangeNeedsTheCurrentPassword)
{
    Authenticator& authenticator = pluginAuthenticator();
    User user(*domain, "bwong", "", "", "");
    AuthenticatedUser userAuth = authenticator.authenticate(user, PasswordAuthenticationToken("letmein"), Profile());
    PasswordAuthenticationToken wrong("guess"), current("letmein"), fresh("n3w");
    EXPECT_OSTREL_THROW(userAuth.passwd(wrong, fresh), nNAX_AUTHENTICATIONFAILED, "Bad user id or password.");
    EXPECT_TRUE(userAuth.passwd(current, fresh));
    EXPECT_NO_THROW(authenticator.authenticate(user, fresh, Profile()));
    EXPECT_OSTREL_THROW(authenticator.authenticate(user, current, Profile()), nNAX_AUTHENTICATIONFAILED,
                        "Bad user id or password.");
}

TEST_F(PluginTest, LibraryMayDeclineADomain)
{
    AuthenticationLibrary* plibrary = registerTemplate(1, OSTREL_TEST_PLUGIN).load();
    EXPECT_EQ(nullptr, plibrary->authenticator(*domain, "", InitMap{{"refuse", "1"}}));
}

TEST(AuthenticationToken, PasswordTokenCarriesItsPassword)
{
    PasswordAuthenticationToken token("s3cret");
    PasswordAuthenticationToken copy(token);
    PasswordAuthenticationToken assigned;
    EXPECT_EQ("", assigned.str());
    assigned = token;
    const AuthenticationToken& base = assigned;
    EXPECT_EQ("s3cret", base.str());
    EXPECT_EQ("s3cret", copy.str());

    // Its copy of the password is wiped when another is assigned over it and when it goes (a
    // short one lies inside the object, so the place it held can be looked at afterwards).
    alignas(PasswordAuthenticationToken) unsigned char abyPlace[sizeof(PasswordAuthenticationToken)];
    auto lingers = [&abyPlace] { return ::memmem(abyPlace, sizeof abyPlace, "secret", 6) != nullptr; };
    PasswordAuthenticationToken* pplaced = new (abyPlace) PasswordAuthenticationToken("short-secret-1");
    ASSERT_TRUE(lingers());
    *pplaced = PasswordAuthenticationToken("x");
    EXPECT_FALSE(lingers());
    pplaced->~PasswordAuthenticationToken();
    pplaced = new (abyPlace) PasswordAuthenticationToken("short-secret-2");
    pplaced->~PasswordAuthenticationToken();
    EXPECT_FALSE(lingers());
}
