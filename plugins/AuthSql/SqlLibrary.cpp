// The entry point of the SQL password plug-in.

#include "AuthSql/SqlAuthenticator.h"

extern "C" __attribute__((visibility("default"))) OstrelData::AuthenticationLibrary* library(
    OstrelData::AuthenticationLibrary* ptemplate)
{
    return new AuthSql::SqlLibrary(ptemplate);
}
