#ifndef OSTRELDAL_GENERICPRODUCTROLEQUERY_H
#define OSTRELDAL_GENERICPRODUCTROLEQUERY_H

#include "OstrelDal/GenericProductRoleQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
OSTRELDAL_DECLARE_QUERY(GenericProductRole)

} // namespace OstrelDal

#endif
