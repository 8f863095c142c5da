#ifndef OSTRELDATA_AUTHENTICATOR_H
#define OSTRELDATA_AUTHENTICATOR_H

#include <map>
#include <string>

#include "OstrelData/AuthenticatedUser.h"
#include "OstrelData/AuthenticationToken.h"
#include "OstrelData/Base.h"
#include "OstrelData/Domain.h"
#include "OstrelData/InitMap.h"
#include "OstrelData/Profile.h"
#include "OstrelData/Team.h"
#include "OstrelData/User.h"

namespace OstrelData {

// Vouches for the users of one domain. Plug-ins derive from it: authenticate,
// user, team and findUsers are theirs to supply; every other operation fails
// with 7001 and its own name unless the plug-in overrides it. Authenticators
// made by plug-ins are never freed.
class OSTRELDATA_API Authenticator : public Base {
public:
    Authenticator(const InitMap& initAuthenticator, const Domain& domain, const std::string& strDescription,
                  int nAuthenticationLibrary);
    Authenticator(const Authenticator& other);
    Authenticator& operator=(const Authenticator& other);
    ~Authenticator() override;

    // Checks the token; returns the user with the session of the new login, or
    // throws to refuse.
    virtual AuthenticatedUser authenticate(const User& user, const AuthenticationToken& authToken,
                                           const Profile& profile) = 0;
    // Completes a user's data from the directory.
    virtual void user(User& user, bool bRecurse) = 0;
    // Adds to the team the members this domain knows.
    virtual void team(Team& team) = 0;
    // Fills the map with the users matching the text.
    virtual void findUsers(UserMap& userS, const std::string& strText) = 0;
    // Fills the map with every user of the domain.
    virtual void users(UserMap& userS);
    virtual bool passwd(const AuthenticatedUser& user, AuthenticationToken& authTokenCurrent,
                        AuthenticationToken& authTokenNew);
    virtual void createUser(const User& user);
    virtual void updateUser(const User& user);
    virtual void deleteUser(const User& user);
    virtual void createTeamMember(Team& team, User& user);
    virtual void deleteTeamMember(Team& team, User& user);

    const std::string& description() const { return _strDescription; }
    int authenticationLibrary() const { return _nAuthenticationLibrary; }
    const InitMap& authenticatorInit() const { return _initAuthenticator; }
    const Domain& domain() const { return _domain; }
    bool userTools() const { return _bUserTools; }
    void setDescription(const std::string& strDescription) { _strDescription = strDescription; }
    void setAuthenticationLibrary(int nAuthenticationLibrary) { _nAuthenticationLibrary = nAuthenticationLibrary; }
    void setAuthenticatorInit(const InitMap& initAuthenticator) { _initAuthenticator = initAuthenticator; }
    void setUserTools(bool bUserTools) { _bUserTools = bUserTools; }

private:
    Domain _domain;
    std::string _strDescription;
    int _nAuthenticationLibrary;
    InitMap _initAuthenticator;
    bool _bUserTools;
};

// The authenticator serving each domain, by domain name; not owned.
class OSTRELDATA_API AuthenticatorPtrMap : public std::map<std::string, Authenticator*> {
public:
    using std::map<std::string, Authenticator*>::map;
};

} // namespace OstrelData

#endif
