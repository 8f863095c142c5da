#ifndef OSTRELDATA_ACCOUNTSTATE_H
#define OSTRELDATA_ACCOUNTSTATE_H

#include <cstdint>
#include <string>

#include "OstrelData/Export.h"

namespace OstrelData {

class AuthenticatedUser;
class AuthenticationToken;
class Profile;
class User;

// What an authenticator may tell about an account beyond a login, so that a session kept for
// later does not outlive what the login proved. Optional: a daemon asks for it with dynamic_cast
// on the authenticator, and with an authenticator that offers it ends a kept session once the
// account is locked or removed or its password changes.
class OSTRELDATA_API AccountState {
public:
    virtual ~AccountState();
    // A text that changes whenever the user's credentials do; empty when he may not log in now
    // (unknown, removed, locked). Never the credentials themselves. Throws as the authenticator's
    // other operations when the store cannot be read.
    virtual std::string credentialStamp(const std::string& strUserId) = 0;
};

// What an authenticator that offers AccountState may offer besides: a login that tells the stamp
// of the very credentials it proved. A stamp asked for after the login may be of a password
// changed while the login ran (its hash takes a while), and a session kept on that stamp would
// outlive the change. Optional, and found the same way; without it a daemon asks for the stamp
// after the login.
class OSTRELDATA_API StampedLogin {
public:
    virtual ~StampedLogin();
    // Authenticator::authenticate(), which also sets strStamp to the credential stamp of what the
    // login proved, as credentialStamp() would have told it at that moment.
    virtual AuthenticatedUser authenticateStamped(const User& user, const AuthenticationToken& authToken,
                                                  const Profile& profile, std::string& strStamp) = 0;
};

// What an authenticator that keeps the lock state of its accounts offers an administrator, in
// the words of the model rather than of its store. Optional like AccountState, and found the same
// way (dynamic_cast on the authenticator). Every operation throws 101 for an unknown user, and as
// the authenticator's other operations when the store fails.
class OSTRELDATA_API AccountControl {
public:
    enum Lock {
        lockNone,             // logins allowed
        lockAfterFailures,    // too many failed logins in a row; ends at nLockedUntil when set
        lockByAdministrator,  // until unlock()
    };
    struct State {
        Lock lock = lockNone;
        int nFailedLogins = 0;          // in a row, since the last success or unlock
        std::int64_t nLockedUntil = 0;  // seconds since the epoch; 0 when no end is stored
    };

    virtual ~AccountControl();
    // The account's state as stored: a lock after failures whose end has passed still shows until
    // the next login clears it.
    virtual State accountState(const std::string& strUserId) = 0;
    // Refuses every login of the account until unlock(); the failure count starts again.
    virtual void lock(const std::string& strUserId) = 0;
    // Opens the account, whatever locked it, and clears its failure count.
    virtual void unlock(const std::string& strUserId) = 0;
};

} // namespace OstrelData

#endif
