#ifndef OSTRELDAL_DBPROFILEQUERY_H
#define OSTRELDAL_DBPROFILEQUERY_H

#include "OstrelDal/DBProfileQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
OSTRELDAL_DECLARE_QUERY(DBProfile)

} // namespace OstrelDal

#endif
