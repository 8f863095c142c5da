#ifndef OSTRELDAL_DOMAINQUERYBASE_H
#define OSTRELDAL_DOMAINQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "Domain": a domain, its customer and the authentication library that serves it.
OSTRELDAL_DECLARE_QUERY_BASE(Domain)

} // namespace OstrelDal

#endif
