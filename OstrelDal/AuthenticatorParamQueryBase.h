#ifndef OSTRELDAL_AUTHENTICATORPARAMQUERYBASE_H
#define OSTRELDAL_AUTHENTICATORPARAMQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "AuthenticatorParam" (alias "AP" when built on a schema): parameters of the
// authenticator of a domain, selected under their own names.
OSTRELDAL_DECLARE_QUERY_BASE(AuthenticatorParam)

} // namespace OstrelDal

#endif
