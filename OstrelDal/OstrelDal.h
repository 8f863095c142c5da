#ifndef OSTRELDAL_OSTRELDAL_H
#define OSTRELDAL_OSTRELDAL_H

// Everything of the data-access layer: the pool of database handles, the statement echo and one
// query class pair per table.
#include "OstrelDal/OstrelDB.h"
#include "OstrelDal/StatementEcho.h"

#include "OstrelDal/AuthenticationLibraryParamQuery.h"
#include "OstrelDal/AuthenticationLibraryQuery.h"
#include "OstrelDal/AuthenticationLibraryXQuery.h"
#include "OstrelDal/AuthenticatorParamQuery.h"
#include "OstrelDal/CustomerQuery.h"
#include "OstrelDal/DBProfileQuery.h"
#include "OstrelDal/DomainQuery.h"
#include "OstrelDal/GenericProductPermissionQuery.h"
#include "OstrelDal/KeptSessionQuery.h"
#include "OstrelDal/ModelChangeQuery.h"
#include "OstrelDal/GenericProductRoleQuery.h"
#include "OstrelDal/PlatformQuery.h"
#include "OstrelDal/ProductParamQuery.h"
#include "OstrelDal/ProductPermissionQuery.h"
#include "OstrelDal/ProductQuery.h"
#include "OstrelDal/ProductRolePermissionQuery.h"
#include "OstrelDal/ProductRoleQuery.h"
#include "OstrelDal/ProfileHostQuery.h"
#include "OstrelDal/ProfileQuery.h"
#include "OstrelDal/SharedObjectQuery.h"
#include "OstrelDal/TeamMapQuery.h"
#include "OstrelDal/TeamProductPermissionQuery.h"
#include "OstrelDal/TeamProductRoleQuery.h"
#include "OstrelDal/TeamQuery.h"
#include "OstrelDal/UserProductPermissionQuery.h"
#include "OstrelDal/UserProductRoleQuery.h"
#include "OstrelDal/UserQuery.h"
#include "OstrelDal/UserTeamQuery.h"

#endif
