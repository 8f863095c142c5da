#ifndef OSTRELDATADB_OSTRELDATADB_H
#define OSTRELDATADB_OSTRELDATADB_H

// The database-backed factory with the model and the data-access layer it works on.
#include "OstrelData/OstrelData.h"
#include "OstrelDal/OstrelDal.h"
#include "OstrelDataDB/OstrelFactory.h"

#endif
