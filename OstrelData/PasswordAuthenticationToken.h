#ifndef OSTRELDATA_PASSWORDAUTHENTICATIONTOKEN_H
#define OSTRELDATA_PASSWORDAUTHENTICATIONTOKEN_H

#include <string>

#include "OstrelData/AuthenticationToken.h"

namespace OstrelData {

// Overwrites a secret's bytes where they lie, then empties it: memory a std::string gives back
// keeps its bytes otherwise.
OSTRELDATA_API void wipePassword(std::string& str);

// A token that carries a password; its copy of the password is wiped when it goes.
class OSTRELDATA_API PasswordAuthenticationToken : public AuthenticationToken {
public:
    PasswordAuthenticationToken();
    explicit PasswordAuthenticationToken(const std::string& strPassword);
    PasswordAuthenticationToken(const PasswordAuthenticationToken& other);
    PasswordAuthenticationToken& operator=(const PasswordAuthenticationToken& other);
    ~PasswordAuthenticationToken() override;

    const std::string& str() const override;

private:
    std::string _strPassword;
};

} // namespace OstrelData

#endif
