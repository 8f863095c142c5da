#ifndef OSTRELDATA_SESSIONMAP_H
#define OSTRELDATA_SESSIONMAP_H

#include <map>
#include <string>

#include "OstrelData/AuthenticatedUser.h"
#include "OstrelData/Session.h"

namespace OstrelData {

// Persisted logins by session identifier. Every failure is 201.
class OSTRELDATA_API SessionMap : public std::map<std::string, AuthenticatedUser> {
public:
    using std::map<std::string, AuthenticatedUser>::map;

    // Stores a copy under the user's session identifier; throws "Null session."
    // or "Session already exists." (the map is then unchanged).
    AuthenticatedUser& addSession(const AuthenticatedUser& user);
    // The stored login for the identifier of s, its session renewed; an expired
    // one is removed and "Session timed out." thrown; "No such session." when
    // absent.
    AuthenticatedUser& session(const Session& s);
    // Removes the login; "No such session." when absent.
    void kill(const Session& s);
    // Removes every login whose session has expired; live ones are untouched.
    void cleanUp();
};

} // namespace OstrelData

#endif
