#include "OstrelData/AuthenticationToken.h"
#include "OstrelData/PasswordAuthenticationToken.h"

namespace OstrelData {

AuthenticationToken::~AuthenticationToken() = default;

PasswordAuthenticationToken::PasswordAuthenticationToken() = default;

PasswordAuthenticationToken::PasswordAuthenticationToken(const std::string& strPassword) : _strPassword(strPassword)
{
}

PasswordAuthenticationToken::PasswordAuthenticationToken(const PasswordAuthenticationToken& other) = default;

PasswordAuthenticationToken& PasswordAuthenticationToken::operator=(const PasswordAuthenticationToken& other)
{
    if (this != &other)
        _strPassword = other._strPassword;
    return *this;
}

PasswordAuthenticationToken::~PasswordAuthenticationToken() = default;

const std::string& PasswordAuthenticationToken::str() const
{
    return _strPassword;
}

} // namespace OstrelData
