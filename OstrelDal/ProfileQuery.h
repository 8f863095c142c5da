#ifndef OSTRELDAL_PROFILEQUERY_H
#define OSTRELDAL_PROFILEQUERY_H

#include "OstrelDal/ProfileQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
OSTRELDAL_DECLARE_QUERY(Profile)

} // namespace OstrelDal

#endif
