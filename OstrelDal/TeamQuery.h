#ifndef OSTRELDAL_TEAMQUERY_H
#define OSTRELDAL_TEAMQUERY_H

#include "OstrelDal/TeamQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
OSTRELDAL_DECLARE_QUERY(Team)

} // namespace OstrelDal

#endif
