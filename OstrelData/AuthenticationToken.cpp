#include "OstrelData/AuthenticationToken.h"
#include "OstrelData/PasswordAuthenticationToken.h"

#include <string.h>

namespace OstrelData {

void wipePassword(std::string& str)
{
    if (!str.empty()) ::explicit_bzero(&str[0], str.size());
    str.clear();
}

AuthenticationToken::~AuthenticationToken() = default;

PasswordAuthenticationToken::PasswordAuthenticationToken() = default;

PasswordAuthenticationToken::PasswordAuthenticationToken(const std::string& strPassword) : _strPassword(strPassword)
{
}

PasswordAuthenticationToken::PasswordAuthenticationToken(const PasswordAuthenticationToken& other) = default;

PasswordAuthenticationToken& PasswordAuthenticationToken::operator=(const PasswordAuthenticationToken& other)
{
    // The old text may be longer than the new, whose assignment reuses its buffer.
    if (this != &other) {
        wipePassword(_strPassword);
        _strPassword = other._strPassword;
    }
    return *this;
}

PasswordAuthenticationToken::~PasswordAuthenticationToken()
{
    wipePassword(_strPassword);
}

const std::string& PasswordAuthenticationToken::str() const
{
    return _strPassword;
}

} // namespace OstrelData
