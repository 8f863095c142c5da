#ifndef OSTRELDAL_AUTHENTICATIONLIBRARYPARAMQUERYBASE_H
#define OSTRELDAL_AUTHENTICATIONLIBRARYPARAMQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "AuthenticationLibraryParam" (alias "AP" when built on a schema): parameters of a
// library, selected under their own names.
OSTRELDAL_DECLARE_QUERY_BASE(AuthenticationLibraryParam)

} // namespace OstrelDal

#endif
