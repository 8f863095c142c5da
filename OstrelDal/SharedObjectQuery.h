#ifndef OSTRELDAL_SHAREDOBJECTQUERY_H
#define OSTRELDAL_SHAREDOBJECTQUERY_H

#include "OstrelDal/SharedObjectQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
OSTRELDAL_DECLARE_QUERY(SharedObject)

} // namespace OstrelDal

#endif
