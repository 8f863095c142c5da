#ifndef OSTRELDAL_GENERICPRODUCTROLEQUERYBASE_H
#define OSTRELDAL_GENERICPRODUCTROLEQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// Any role grant table (customer, team or user grants) on a table the caller supplies; the columns
// are selected under their own names whatever the alias of the table.
OSTRELDAL_DECLARE_GRANT_QUERY_BASE(GenericProductRole)

} // namespace OstrelDal

#endif
