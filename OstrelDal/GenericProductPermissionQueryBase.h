#ifndef OSTRELDAL_GENERICPRODUCTPERMISSIONQUERYBASE_H
#define OSTRELDAL_GENERICPRODUCTPERMISSIONQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// Any permission grant table (customer, team or user grants) on a table the caller supplies; the
// columns are selected under their own names whatever the alias of the table.
OSTRELDAL_DECLARE_GRANT_QUERY_BASE(GenericProductPermission)

} // namespace OstrelDal

#endif
