#ifndef OSTRELDAL_TEAMMAPQUERY_H
#define OSTRELDAL_TEAMMAPQUERY_H

#include "OstrelDal/TeamMapQueryBase.h"

namespace OstrelDal {

// The statements of the pattern, nothing more.
OSTRELDAL_DECLARE_QUERY(TeamMap)

} // namespace OstrelDal

#endif
