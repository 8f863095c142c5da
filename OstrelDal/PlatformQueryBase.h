#ifndef OSTRELDAL_PLATFORMQUERYBASE_H
#define OSTRELDAL_PLATFORMQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "Platform": the platforms plug-ins are built for.
OSTRELDAL_DECLARE_QUERY_BASE(Platform)

} // namespace OstrelDal

#endif
