#ifndef OSTRELDAL_CUSTOMERQUERY_H
#define OSTRELDAL_CUSTOMERQUERY_H

#include "OstrelDal/CustomerQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
OSTRELDAL_DECLARE_QUERY(Customer)

} // namespace OstrelDal

#endif
