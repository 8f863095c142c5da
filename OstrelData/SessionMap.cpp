#include "OstrelData/SessionMap.h"

#include "OstrelData/Exception.h"

namespace OstrelData {

AuthenticatedUser& SessionMap::addSession(const AuthenticatedUser& user)
{
    const std::string& strSessionId = user.session().str();
    if (find(strSessionId) != end())
        OSTREL_RAISE(nNAX_BADSESSION, "Session already exists.");
    return emplace(strSessionId, user).first->second;
}

AuthenticatedUser& SessionMap::session(const Session& s)
{
    iterator it = find(s.str());
    if (it == end())
        OSTREL_RAISE(nNAX_BADSESSION, "No such session.");
    try {
        it->second.session().access();
    } catch (const Exception& e) {
        // Expired (or unusable) logins leave the map the moment that is found out.
        if (e.errorCode() == nNAX_BADSESSION)
            erase(it);
        throw;
    }
    return it->second;
}

void SessionMap::kill(const Session& s)
{
    iterator it = find(s.str());
    if (it == end())
        OSTREL_RAISE(nNAX_BADSESSION, "No such session.");
    erase(it);
}

void SessionMap::cleanUp()
{
    for (iterator it = begin(); it != end();) {
        if (it->second.hasSession() && it->second.session().expired())
            it = erase(it);
        else
            ++it;
    }
}

} // namespace OstrelData
