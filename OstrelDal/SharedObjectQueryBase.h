#ifndef OSTRELDAL_SHAREDOBJECTQUERYBASE_H
#define OSTRELDAL_SHAREDOBJECTQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "SharedObject": the file implementing each authentication library on each platform.
OSTRELDAL_DECLARE_QUERY_BASE(SharedObject)

} // namespace OstrelDal

#endif
