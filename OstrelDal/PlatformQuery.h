#ifndef OSTRELDAL_PLATFORMQUERY_H
#define OSTRELDAL_PLATFORMQUERY_H

#include "OstrelDal/PlatformQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
OSTRELDAL_DECLARE_QUERY(Platform)

} // namespace OstrelDal

#endif
