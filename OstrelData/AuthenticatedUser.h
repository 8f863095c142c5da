#ifndef OSTRELDATA_AUTHENTICATEDUSER_H
#define OSTRELDATA_AUTHENTICATEDUSER_H

#include <memory>

#include "OstrelData/Profile.h"
#include "OstrelData/Session.h"
#include "OstrelData/User.h"

namespace OstrelData {

class AuthenticationToken;

// A user as an authenticator returned him, with the session of the login
// (owned: a copy() of the one given, so its dynamic type is kept) and the
// profile he logged in with.
class OSTRELDATA_API AuthenticatedUser : public User {
public:
    AuthenticatedUser();
    AuthenticatedUser(const User& user, const Session& session, const Profile& profile);
    AuthenticatedUser(const AuthenticatedUser& other);
    AuthenticatedUser& operator=(const AuthenticatedUser& other);
    ~AuthenticatedUser() override;

    // Throws 201 "Null session." when there is none.
    const Session& session() const;
    Session& session();
    bool hasSession() const { return _psession != nullptr; }
    const Profile& profile() const { return _profile; }

    // Through the domain's authenticator (503, 5021, or 7001 "passwd" when the
    // plug-in does not offer it).
    bool passwd(AuthenticationToken& authTokenCurrent, AuthenticationToken& authTokenNew);

private:
    std::unique_ptr<Session> _psession;
    Profile _profile;
};

} // namespace OstrelData

#endif
