#ifndef OSTRELDAL_PROFILEQUERYBASE_H
#define OSTRELDAL_PROFILEQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "Profile": the named profiles.
OSTRELDAL_DECLARE_QUERY_BASE(Profile)

} // namespace OstrelDal

#endif
