#ifndef OSTRELDATA_FACTORY_H
#define OSTRELDATA_FACTORY_H

#include "Corvel/Version.h"
#include "OstrelData/AuthenticatedUser.h"
#include "OstrelData/AuthenticationLibrary.h"
#include "OstrelData/AuthenticationToken.h"
#include "OstrelData/Authenticator.h"
#include "OstrelData/Customer.h"
#include "OstrelData/Domain.h"
#include "OstrelData/Export.h"
#include "OstrelData/Platform.h"
#include "OstrelData/Product.h"
#include "OstrelData/Profile.h"
#include "OstrelData/Session.h"
#include "OstrelData/SessionMap.h"
#include "OstrelData/SharedObject.h"
#include "OstrelData/Team.h"
#include "OstrelData/User.h"
#include "OstrelData/XTeam.h"

namespace OstrelData {

// Only declared: an attachment point for an exporter object.
class Exporter;

// The process-wide registries in which the model lives, and the operations
// that work on them whatever back-end filled them. Static members only; never
// instantiated. Back-ends derive from it (or use it) to fill the registries.
//
// Nothing here is locked: the registries and the current authenticated user
// are process state that one thread at a time may use. A program that
// authenticates or changes the registries from several threads serialises
// those calls itself.
class OSTRELDATA_API Factory {
public:
    // How much a back-end's initialisation loads.
    enum Mode { modeSimple = 0, modeAdmin = 1, modeAuthenticator = 2, modeSignoff = 3, modeAll = 4 };

    Factory() = delete;

    static ProductMap& products() { return _productS; }
    static DomainMap& domains() { return _domainS; }
    static ProfileMap& profiles() { return _profileS; }
    static CustomerMap& customers() { return _customerS; }
    static TeamMap& teams() { return _teamS; }
    static XTeamMap& xteams() { return _xteamS; }
    static XTeamPtrAlienMap& aliens() { return _alienS; }
    static XTeamPtrAlienRevMap& raliens() { return _ralienS; }
    static PlatformMap& platforms() { return _platformS; }
    static SharedObjectMap& sharedObjects() { return _sharedObjectS; }
    static AuthenticationLibraryMap& authenticationLibraryTemplates() { return _authenticationLibraryTemplateS; }
    static AuthenticationLibraryPtrMap& authenticationLibraries() { return _authenticationLibraryS; }
    static AuthenticatorPtrMap& authenticators() { return _authenticatorS; }
    static Exporter* exporter() { return _pexporter; }
    static void setExporter(Exporter* pexporter) { _pexporter = pexporter; }

    // Lets the authenticator registered for the user's domain check the token;
    // the user it returns becomes the current authenticated user. Throws 503
    // (no domain), 1 "No such Domain - <name>." or "No such Authenticator -
    // <name>."; the authenticator's refusal passes through and leaves the
    // current user as it was.
    static AuthenticatedUser& authenticate(const User& user, const AuthenticationToken& authToken,
                                           const Profile& profile);
    // The current user; throws 201 "Null session." before any login and 1 "No
    // user authenticated." when his session has an empty identifier.
    static AuthenticatedUser& authenticatedUser();
    static void setAuthenticatedUser(const AuthenticatedUser& user);
    // Through the authenticator registered for the user's domain (failures as
    // for authenticate, then the authenticator's); true.
    static bool passwd(const AuthenticatedUser& user, AuthenticationToken& authTokenCurrent,
                       AuthenticationToken& authTokenNew);

    // Session persistence (failures 201, see SessionMap).
    static void persistSession(AuthenticatedUser& user);
    // The current user becomes a copy of the stored login, renewed.
    static AuthenticatedUser& retrieveSession(const Session& s);
    static void killSession(const Session& s);

    // Completes a user through his registered domain's authenticator; throws 103
    // with the domain name when the domain is not registered, 5021 when it has
    // no authenticator.
    static void user(User& userF, bool bRecurse);
    // Assigns the registered team to teamF and loads its members when asked to
    // or when it has none; throws 104 with the number for an unknown team. The
    // registry entry is not changed.
    static void team(Team& teamF, bool bReload);
    // The outside-group mappings of one group, or onto one team; an empty map
    // when there are none (nothing is added to the registries).
    static const XTeamPtrMap& teams(const AlienKey& keyAlien);
    static const XTeamPtrMap& teams(const Team& team);

    // Find or add: the stored element for the number (an existing one is left
    // as it was).
    static Product& createProduct(int nProduct);
    static Role& createRole(Product& product, int nRole);
    static Permission& createPermission(Product& product, int nPermission);
    // A denied permission of the role with the number and description of the given one.
    static Permission& createRolePermission(Role& role, const Permission& permission);

    // Merges each granted role's permissions into its product's permissions
    // (never adding any).
    static void mergeRolePermissionsIntoPermissions(ProductMap& productS);

    // Whether the current user holds permission nOSRP_Maintain_Products of the
    // registered product nOSRD_Ostrel; false when that product is not registered.
    static bool hasProductPermission();

    // The four-part version of this release, which the build takes from its project version.
    static Corvel::Version version();

protected:
    // Built in this order when the library is loaded, destroyed in reverse.
    static ProductMap _productS;
    static DomainMap _domainS;
    static ProfileMap _profileS;
    static CustomerMap _customerS;
    static TeamMap _teamS;
    static XTeamMap _xteamS;
    static XTeamPtrAlienMap _alienS;
    static XTeamPtrAlienRevMap _ralienS;
    static PlatformMap _platformS;
    static SharedObjectMap _sharedObjectS;
    static AuthenticationLibraryMap _authenticationLibraryTemplateS;
    static AuthenticationLibraryPtrMap _authenticationLibraryS;
    static AuthenticatorPtrMap _authenticatorS;
    static AuthenticatedUser _userAuth;
    static SessionMap _sessionS;
    static Exporter* _pexporter;
};

} // namespace OstrelData

#endif
