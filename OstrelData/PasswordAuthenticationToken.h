#ifndef OSTRELDATA_PASSWORDAUTHENTICATIONTOKEN_H
#define OSTRELDATA_PASSWORDAUTHENTICATIONTOKEN_H

#include <string>

#include "OstrelData/AuthenticationToken.h"

namespace OstrelData {

// A token that carries a password.
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
