#ifndef VESKDAL_VESKDAL_H
#define VESKDAL_VESKDAL_H

// Everything of the SQL data-access library.
#include "VeskDal/DalDatabase.h"
#include "VeskDal/DalRow.h"
#include "VeskDal/DalDynamic.h"
#include "VeskDal/SqlColumn.h"
#include "VeskDal/SqlCondition.h"
#include "VeskDal/SqlException.h"
#include "VeskDal/SqlQueryBase.h"
#include "VeskDal/SqlStatement.h"
#include "VeskDal/SqlTable.h"
#include "VeskDal/SqlValue.h"

#endif
