#ifndef OSTRELDAL_AUTHENTICATIONLIBRARYQUERYBASE_H
#define OSTRELDAL_AUTHENTICATIONLIBRARYQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "AuthenticationLibrary": the authentication plug-in libraries.
OSTRELDAL_DECLARE_QUERY_BASE(AuthenticationLibrary)

} // namespace OstrelDal

#endif
