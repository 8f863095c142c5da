#ifndef OSTRELDATA_FACTORYINTERNAL_H
#define OSTRELDATA_FACTORYINTERNAL_H

// What the daemon needs of the factory beyond its public interface. Not installed: programs outside
// this tree use Factory.h only.

#include <string>

#include "OstrelData/Authenticator.h"
#include "OstrelData/Export.h"

namespace OstrelData {
namespace internal {

// The authenticator registered for the domain; throws 1 "No such Domain - <name>." or "No such
// Authenticator - <name>.", as a login through the factory does.
OSTRELDATA_API Authenticator& registeredAuthenticator(const std::string& strDomain);

} // namespace internal
} // namespace OstrelData

#endif
