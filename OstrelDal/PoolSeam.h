#ifndef OSTRELDAL_POOLSEAM_H
#define OSTRELDAL_POOLSEAM_H

// For tests only, never installed: a way to put a handle of the test's own between the pool and
// the engine, so that a test can watch every statement or make the Nth one fail.

#include <functional>
#include <vector>

#include "OstrelDal/Export.h"
#include "OstrelDal/OstrelDB.h"
#include "VeskDal/DalDatabase.h"

namespace OstrelDal {

// Takes a newly opened handle (and with it its ownership) and returns the handle the pool is to
// use, which the pool then owns.
using HandleWrapper = std::function<VeskDal::DalDatabase*(VeskDal::DalDatabase*)>;

// Every handle the pool opens from now on goes through wrap; an empty function ends that. Set it
// before connect(), not while another thread may take a connection.
OSTRELDAL_API void setHandleWrapper(HandleWrapper wrap);

// The pool's entries in creation order, as they are now (an entry keeps its address until
// disconnect()).
OSTRELDAL_API std::vector<OstrelDB*> poolEntries();

// The parameters the pool opens its next handle with: those of the last connect(), or what
// setPoolParameters put there since.
OSTRELDAL_API VeskDal::DalDatabase::ConnectionParameterMap poolParameters();
OSTRELDAL_API void setPoolParameters(const VeskDal::DalDatabase::ConnectionParameterMap& parameterS);

} // namespace OstrelDal

#endif
