#ifndef OSTRELDAL_USERQUERYBASE_H
#define OSTRELDAL_USERQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "User": the users of each domain.
OSTRELDAL_DECLARE_QUERY_BASE(User)

} // namespace OstrelDal

#endif
