#ifndef OSTRELDAL_PROFILEHOSTQUERY_H
#define OSTRELDAL_PROFILEHOSTQUERY_H

#include "OstrelDal/ProfileHostQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
OSTRELDAL_DECLARE_QUERY(ProfileHost)

} // namespace OstrelDal

#endif
