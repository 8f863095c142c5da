#include "OstrelData/AuthenticatedUser.h"

#include "OstrelData/Authenticator.h"
#include "OstrelData/Domain.h"
#include "OstrelData/Exception.h"

namespace OstrelData {

namespace {

std::unique_ptr<Session> copyOf(const Session* psession)
{
    return std::unique_ptr<Session>(psession != nullptr ? psession->copy() : nullptr);
}

} // namespace

AuthenticatedUser::AuthenticatedUser() : _profile("", false) {}

AuthenticatedUser::AuthenticatedUser(const User& user, const Session& session, const Profile& profile)
    : User(user), _psession(session.copy()), _profile(profile)
{
}

AuthenticatedUser::AuthenticatedUser(const AuthenticatedUser& other)
    : User(other), _psession(copyOf(other._psession.get())), _profile(other._profile)
{
}

AuthenticatedUser& AuthenticatedUser::operator=(const AuthenticatedUser& other)
{
    if (this != &other) {
        User::operator=(other);
        _psession = copyOf(other._psession.get());
        _profile = other._profile;
    }
    return *this;
}

AuthenticatedUser::~AuthenticatedUser() = default;

const Session& AuthenticatedUser::session() const
{
    if (_psession == nullptr)
        OSTREL_RAISE(nNAX_BADSESSION, "Null session.");
    return *_psession;
}

Session& AuthenticatedUser::session()
{
    if (_psession == nullptr)
        OSTREL_RAISE(nNAX_BADSESSION, "Null session.");
    return *_psession;
}

bool AuthenticatedUser::passwd(AuthenticationToken& authTokenCurrent, AuthenticationToken& authTokenNew)
{
    return domain().authenticator()->passwd(*this, authTokenCurrent, authTokenNew);
}

} // namespace OstrelData
