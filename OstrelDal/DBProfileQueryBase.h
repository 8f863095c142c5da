#ifndef OSTRELDAL_DBPROFILEQUERYBASE_H
#define OSTRELDAL_DBPROFILEQUERYBASE_H

#include "OstrelDal/QueryPattern.h"

namespace OstrelDal {

// The table "DBProfile": free name/value pairs.
OSTRELDAL_DECLARE_QUERY_BASE(DBProfile)

} // namespace OstrelDal

#endif
