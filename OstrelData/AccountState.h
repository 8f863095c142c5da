#ifndef OSTRELDATA_ACCOUNTSTATE_H
#define OSTRELDATA_ACCOUNTSTATE_H

#include <string>

#include "OstrelData/Export.h"

namespace OstrelData {

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

} // namespace OstrelData

#endif
