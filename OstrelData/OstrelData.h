#ifndef OSTRELDATA_OSTRELDATA_H
#define OSTRELDATA_OSTRELDATA_H

// The whole model.
#include "OstrelData/AuthenticatedUser.h"
#include "OstrelData/AuthenticationLibrary.h"
#include "OstrelData/AuthenticationToken.h"
#include "OstrelData/Authenticator.h"
#include "OstrelData/Base.h"
#include "OstrelData/CopyOnWrite.h"
#include "OstrelData/Customer.h"
#include "OstrelData/Domain.h"
#include "OstrelData/Exception.h"
#include "OstrelData/Factory.h"
#include "OstrelData/InitMap.h"
#include "OstrelData/OSROstrel.h"
#include "OstrelData/PRStatus.h"
#include "OstrelData/PasswordAuthenticationToken.h"
#include "OstrelData/Permission.h"
#include "OstrelData/Platform.h"
#include "OstrelData/Product.h"
#include "OstrelData/Profile.h"
#include "OstrelData/Role.h"
#include "OstrelData/Session.h"
#include "OstrelData/SessionMap.h"
#include "OstrelData/SessionString.h"
#include "OstrelData/SharedObject.h"
#include "OstrelData/Team.h"
#include "OstrelData/TeamMember.h"
#include "OstrelData/User.h"
#include "OstrelData/XTeam.h"

#endif
