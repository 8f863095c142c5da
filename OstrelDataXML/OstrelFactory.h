#ifndef OSTRELDATAXML_OSTRELFACTORY_H
#define OSTRELDATAXML_OSTRELFACTORY_H

#include <map>
#include <string>

#include "Corvel/Version.h"
#include "OstrelData/AuthenticatedUser.h"
#include "OstrelData/AuthenticationToken.h"
#include "OstrelData/Customer.h"
#include "OstrelData/Domain.h"
#include "OstrelData/Exception.h"
#include "OstrelData/InitMap.h"
#include "OstrelData/Permission.h"
#include "OstrelData/Product.h"
#include "OstrelData/Profile.h"
#include "OstrelData/Role.h"
#include "OstrelData/Session.h"
#include "OstrelData/SessionString.h"
#include "OstrelData/Team.h"
#include "OstrelData/TeamMember.h"
#include "OstrelData/User.h"
#include "OstrelDataXML/Export.h"
#include "Vesk/XMLDoc.h"
#include "crypto/rsa.h"

namespace OstrelDataXML {

// Logged-in users by (domain name, user id).
class OSTRELDATAXML_API AuthenticatedUserMap : public std::map<OstrelData::User::Key, OstrelData::AuthenticatedUser> {
public:
    using std::map<OstrelData::User::Key, OstrelData::AuthenticatedUser>::map;
};

// The client-side data source: each operation is one request to the ostreld
// daemon through OstrelService, and its response decoded into model objects.
// Static members only; never instantiated. Not derived from
// OstrelData::Factory; authenticated users are reported to it.
//
// Nothing here is locked: the caches, the daemon's key and the results are
// process state, and callers serialise their use of the factory.
//
// Every failure is an OstrelData::Exception. Failures the daemon reports are
// rethrown as it described them, with the remote flag set.
class OSTRELDATAXML_API Factory {
public:
    Factory() = delete;

    // ---- The XML form of the model -------------------------------------
    //
    // One coder per model type. toXML appends the object's element as the last
    // child of pnode; only Customer and Team look at bRecursive (their
    // collections, one level deep). fromXML decodes the element pnode itself and
    // throws 1011 (nNAX_MALFORMEDXML) on the first rule it breaks. Decoding
    // domains, customers and teams stores them in the factory's caches (see
    // below), and the objects it returns point into those caches.
    //
    // The same coders write and read on both sides of the wire.

    class OSTRELDATAXML_API Exception {
    public:
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::Exception& in, bool bRecursive = false);
        // Always remote, whatever the element says.
        static OstrelData::Exception fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API AuthenticatedUser {
    public:
        // Throws 201 when the user has no session.
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::AuthenticatedUser& in, bool bRecursive = false);
        static OstrelData::AuthenticatedUser fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API AuthenticatedUserMap {
    public:
        static void toXML(Vesk::XMLNode* pnode, const OstrelDataXML::AuthenticatedUserMap& in,
                          bool bRecursive = false);
        static OstrelDataXML::AuthenticatedUserMap fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API User {
    public:
        // Throws 503 when the user has no domain.
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::User& in, bool bRecursive = false);
        // The user is built on the cached domain of his domain's name.
        static OstrelData::User fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API UserMap {
    public:
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::UserMap& in, bool bRecursive = false);
        static OstrelData::UserMap fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API Session {
    public:
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::Session& in, bool bRecursive = false);
        static OstrelData::Session fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API SessionString : public Session {
    public:
        // Any session writes as a "sessionstring" holding its identifier.
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::Session& in, bool bRecursive = false);
        static OstrelData::SessionString fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API Profile {
    public:
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::Profile& in, bool bRecursive = false);
        // Never a default profile.
        static OstrelData::Profile fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API ProfileMap {
    public:
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::ProfileMap& in, bool bRecursive = false);
        static OstrelData::ProfileMap fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API Domain {
    public:
        // Throws 502 when the domain has no customer.
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::Domain& in, bool bRecursive = false);
        // Built on the cached customer; has no authenticator.
        static OstrelData::Domain fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API DomainMap {
    public:
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::DomainMap& in, bool bRecursive = false);
        static OstrelData::DomainMap fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API DomainPtrMap {
    public:
        // Null entries are left out.
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::DomainPtrMap& in, bool bRecursive = false);
        // Points at OstrelData::Factory::domains(); a domain that registry does not
        // hold is left out of the result.
        static OstrelData::DomainPtrMap fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API Customer {
    public:
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::Customer& in, bool bRecursive = false);
        static OstrelData::Customer fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API CustomerMap {
    public:
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::CustomerMap& in, bool bRecursive = false);
        static OstrelData::CustomerMap fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API Team {
    public:
        // Throws 502 when the team has no customer.
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::Team& in, bool bRecursive = false);
        // Built on the cached customer, then stored in the team cache.
        static OstrelData::Team fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API TeamMap {
    public:
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::TeamMap& in, bool bRecursive = false);
        static OstrelData::TeamMap fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API TeamPtrMap {
    public:
        // Null entries are left out.
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::TeamPtrMap& in, bool bRecursive = false);
        // Points at OstrelData::Factory::teams(); a team that registry does not
        // hold is left out of the result.
        static OstrelData::TeamPtrMap fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API TeamMember {
    public:
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::TeamMember& in, bool bRecursive = false);
        static OstrelData::TeamMember fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API TeamMemberMap {
    public:
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::TeamMemberMap& in, bool bRecursive = false);
        static OstrelData::TeamMemberMap fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API Permission {
    public:
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::Permission& in, bool bRecursive = false);
        // Without owning product or role.
        static OstrelData::Permission fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API PermissionMap {
    public:
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::PermissionMap& in, bool bRecursive = false);
        static OstrelData::PermissionMap fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API Product {
    public:
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::Product& in, bool bRecursive = false);
        static OstrelData::Product fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API ProductMap {
    public:
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::ProductMap& in, bool bRecursive = false);
        static OstrelData::ProductMap fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API ProductInitMap {
    public:
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::ProductInitMap& in, bool bRecursive = false);
        static OstrelData::ProductInitMap fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API Role {
    public:
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::Role& in, bool bRecursive = false);
        // Without owning product.
        static OstrelData::Role fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API RoleMap {
    public:
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::RoleMap& in, bool bRecursive = false);
        static OstrelData::RoleMap fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API InitMap {
    public:
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::InitMap& in, bool bRecursive = false);
        static OstrelData::InitMap fromXML(const Vesk::XMLNode* pnode);
    };
    class OSTRELDATAXML_API InitMapMap {
    public:
        static void toXML(Vesk::XMLNode* pnode, const OstrelData::InitMapMap& in, bool bRecursive = false);
        static OstrelData::InitMapMap fromXML(const Vesk::XMLNode* pnode);
    };

    // ---- The envelope ---------------------------------------------------
    //
    // A request or response is a document (XML 1.0, UTF-8) whose root
    // "ostrelservice" names it in its "request" or "response" attribute and holds
    // the payload elements as children.
    class OSTRELDATAXML_API Envelope {
    public:
        static Vesk::XMLDoc request(const std::string& strRequest);
        static Vesk::XMLDoc response(const std::string& strResponse);
        // Adds the "exception" child that reports a failure in a response.
        static void addException(Vesk::XMLDoc& doc, const OstrelData::Exception& e);
    };

    // ---- The daemon's public key on the wire ----------------------------
    //
    // Each number travels as "sign", "alloc", "used" and "dp": the alloc 16-bit
    // digits in Base64, in the machine's byte order.
    class OSTRELDATAXML_API RsaKey {
    public:
        // Appends "rsa" holding "e" and "N" (never the private exponent).
        static void toXML(Vesk::XMLNode* pnode, const rsa_key& key);
        // Decodes the "rsa" element into key, releasing what key held before:
        // type PK_PRIVATE as the protocol has it, e and N from the element, d empty.
        // Throws 1011 (key then unchanged) for a missing part or a number that is
        // not well formed.
        static void fromXML(const Vesk::XMLNode* prsa, rsa_key& key);
        // One number as element strName ("e", "N").
        static void numberToXML(Vesk::XMLNode* pnode, const std::string& strName, const mp_int& number);
        // Decodes the number element pnode, named strName, of the "rsa" element into
        // number (whose previous digits are not released); throws 1011.
        static void numberFromXML(const Vesk::XMLNode* pnode, const std::string& strName, mp_int& number);
    };

    // ---- Requests -------------------------------------------------------

    // The versions of the daemon's parts, by "prefix::name"; empty when the daemon
    // answers otherwise.
    static std::map<std::string, Corvel::Version> about();
    // Has the daemon reload its model; throws 1011 "No reloadfactory response"
    // unless it confirms.
    static void reinitialize();
    // Connects to the service named by strInit (see OstrelService::connect) and
    // loads the daemon's public key. Throws 1022 when the connection fails.
    // May be repeated: it reconnects and replaces the key.
    static void initialize(const std::string& strInit);
    // The token is encrypted with the daemon's key; throws 1 "Failed to encrypt
    // authentication token." (nothing sent) when it is 4096 bytes or longer or
    // does not fit below the key's modulus. The result becomes
    // OstrelData::Factory's authenticated user; the reference stays valid and is
    // overwritten by the next call.
    static OstrelData::AuthenticatedUser& authenticate(const OstrelData::User& user,
                                                       const OstrelData::AuthenticationToken& authToken,
                                                       const OstrelData::Profile& profile);
    // As authenticate, without a profile and without telling OstrelData::Factory.
    static OstrelData::AuthenticatedUser& validate(const OstrelData::User& user,
                                                   const OstrelData::AuthenticationToken& authToken);
    // The daemon's authenticated user for this connection.
    static OstrelData::AuthenticatedUser& authenticatedUser();
    // True when the daemon accepts the new token; false for any other answer
    // without an exception.
    static bool passwd(const OstrelData::AuthenticatedUser& user, OstrelData::AuthenticationToken& authTokenCurrent,
                       OstrelData::AuthenticationToken& authTokenNew);
    static void persistSession(OstrelData::AuthenticatedUser& user);
    // The result becomes OstrelData::Factory's authenticated user.
    static OstrelData::AuthenticatedUser& retrieveSession(const OstrelData::Session& session);
    static void killSession(const OstrelData::Session& session);
    // Replace the argument with the daemon's version of it.
    static void user(OstrelData::User& userF, bool bRecurse);
    static void team(OstrelData::Team& team, bool bReload);
    // The lists add what the cache lacks and return the cache (the same object
    // on every call).
    static OstrelData::TeamMap& teams();
    static OstrelData::ProductMap& products();
    static OstrelData::DomainMap& domains();
    static OstrelData::CustomerMap& customers();
    static OstrelData::ProfileMap& profiles();
    // The users logged in at the daemon.
    static OstrelDataXML::AuthenticatedUserMap who();
    // The version of OstrelData::Factory, which requests announce to the daemon.
    static Corvel::Version version();

    // ---- Caches ---------------------------------------------------------
    //
    // What the daemon returned, never emptied. Entries are replaced in place,
    // so pointers into them (a user's domain, a domain's customer) stay valid.
    static const OstrelData::CustomerMap& cachedCustomers() { return _customerS; }
    static const OstrelData::DomainMap& cachedDomains() { return _domainS; }
    static const OstrelData::ProfileMap& cachedProfiles() { return _profileS; }
    static const OstrelData::TeamMap& cachedTeams() { return _teamS; }
    static const OstrelData::ProductMap& cachedProducts() { return _productS; }

private:
    static OstrelData::CustomerMap _customerS;
    static OstrelData::DomainMap _domainS;
    static OstrelData::ProfileMap _profileS;
    static OstrelData::TeamMap _teamS;
    static OstrelData::ProductMap _productS;
};

} // namespace OstrelDataXML

#endif
