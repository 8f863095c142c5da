// The entry point of the LDAP directory plug-in.

#include "AuthLdap/LdapAuthenticator.h"

extern "C" __attribute__((visibility("default"))) OstrelData::AuthenticationLibrary* library(
    OstrelData::AuthenticationLibrary* ptemplate)
{
    return new AuthLdap::LdapLibrary(ptemplate);
}
