#ifndef OSTRELDAL_CUSTOMERQUERYBASE_H
#define OSTRELDAL_CUSTOMERQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "Customer": customer id and name.
OSTRELDAL_DECLARE_QUERY_BASE(Customer)

} // namespace OstrelDal

#endif
