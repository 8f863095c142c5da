// The XML form of every model object. Decoding treats the element as hostile:
// every rule it breaks is a 1011 exception, and nothing is decoded before all
// of an element's own checks have passed.

#include <cctype>
#include <climits>
#include <string>

#include "OstrelData/Factory.h"
#include "OstrelDataXML/OstrelFactory.h"

namespace OstrelDataXML {

using OstrelData::nNAX_MALFORMEDXML;
using Vesk::XMLNode;

namespace {

[[noreturn]] void malformed(const std::string& strMessage)
{
    OSTREL_RAISE(nNAX_MALFORMEDXML, strMessage);
}

// pnode must be the element named pszName.
void expectElement(const XMLNode* pnode, const char* pszName, const char* pszMessage)
{
    if (pnode == nullptr || pnode->qualifiedName() != pszName) malformed(pszMessage);
}

const XMLNode* required(const XMLNode* pnode, const char* pszChild, const char* pszMessage)
{
    const XMLNode* pchild = pnode->findChild(pszChild);
    if (pchild == nullptr) malformed(pszMessage);
    return pchild;
}

// A child that carries text, looked up and read once.
class TextChild {
public:
    TextChild(const XMLNode* pparent, const char* pszName) : _pszName(pszName), _pnode(pparent->findChild(pszName))
    {
        if (_pnode != nullptr) _strValue = _pnode->value();
    }

    bool present() const { return _pnode != nullptr; }
    // Present, and its text is not null.
    bool hasValue() const { return !_strValue.isNull(); }
    // The text; empty when it has none.
    const std::string& text() const { return _strValue.str(); }

    // The text read as atoi reads it (leading blanks, an optional sign, the
    // digits up to the first other character; no digits read as 0), except that
    // a number outside the range of int is refused rather than left undefined.
    int number() const
    {
        const char* psz = _strValue.c_str();
        while (std::isspace(static_cast<unsigned char>(*psz)))
            ++psz;
        bool bNegative = *psz == '-';
        if (*psz == '-' || *psz == '+') ++psz;
        long long nValue = 0;
        for (; std::isdigit(static_cast<unsigned char>(*psz)); ++psz) {
            nValue = nValue * 10 + (*psz - '0');
            if (nValue > static_cast<long long>(INT_MAX) + 1) outOfRange();
        }
        if (bNegative) nValue = -nValue;
        if (nValue > INT_MAX) outOfRange();
        return static_cast<int>(nValue);
    }

private:
    [[noreturn]] void outOfRange() const { malformed("Number out of range in " + std::string(_pszName) + " node."); }

    const char* _pszName;
    const XMLNode* _pnode;
    Vesk::String _strValue;
};

// A text child that must be present with a value.
TextChild requiredValue(const XMLNode* pnode, const char* pszChild, const char* pszMessage)
{
    TextChild child(pnode, pszChild);
    if (!child.hasValue()) malformed(pszMessage);
    return child;
}

// A text child that must be present, with or without a value.
TextChild requiredText(const XMLNode* pnode, const char* pszChild, const char* pszMessage)
{
    TextChild child(pnode, pszChild);
    if (!child.present()) malformed(pszMessage);
    return child;
}

XMLNode* addText(XMLNode* pnode, const char* pszName, const std::string& strValue)
{
    return pnode->addNode(pszName, Vesk::String(strValue));
}

// Decimal, as "%i" writes it.
XMLNode* addInt(XMLNode* pnode, const char* pszName, int nValue)
{
    return pnode->addNode(pszName, Vesk::String(std::to_string(nValue)));
}

// An element that only holds children.
XMLNode* addElement(XMLNode* pnode, const char* pszName)
{
    return pnode->addNode(pszName);
}

// Finds or adds the entry; an existing entry is assigned over, never replaced,
// so pointers that other objects hold into the map stay valid.
template <class MapT, class ValueT>
typename MapT::mapped_type& storeInPlace(MapT& mapS, const typename MapT::key_type& key, const ValueT& value)
{
    typename MapT::iterator it = mapS.find(key);
    if (it == mapS.end()) return mapS.emplace(key, value).first->second;
    it->second = value;
    return it->second;
}

std::string keyOf(const OstrelData::Customer& customer) { return customer.customer(); }
std::string keyOf(const OstrelData::Domain& domain) { return domain.domain(); }
std::string keyOf(const OstrelData::Profile& profile) { return profile.profile(); }
int keyOf(const OstrelData::Team& team) { return team.team(); }
int keyOf(const OstrelData::Product& product) { return product.product(); }
int keyOf(const OstrelData::Role& role) { return role.role(); }
int keyOf(const OstrelData::Permission& permission) { return permission.permission(); }
OstrelData::User::Key keyOf(const OstrelData::User& user) { return user.key(); }

// The rule every collection follows: the collection element holds one element
// per entry, written in key order and read in document order (other children
// are skipped; a later entry of the same key replaces an earlier one).
template <class Fn>
void forEachEntry(const XMLNode* pnode, const char* pszMap, const char* pszEntry, const char* pszNotMap, Fn fn)
{
    expectElement(pnode, pszMap, pszNotMap);
    const Vesk::String strEntry(pszEntry);
    for (const XMLNode* pentry = pnode->findChild(strEntry); pentry != nullptr;
         pentry = pnode->findChild(strEntry, pentry))
        fn(pentry);
}

template <class CoderT, class ValueT>
void writeEntry(XMLNode* pnode, const ValueT& value)
{
    CoderT::toXML(pnode, value, false);
}

// Pointer maps may hold null entries; they have nothing to write.
template <class CoderT, class ValueT>
void writeEntry(XMLNode* pnode, ValueT* pvalue)
{
    if (pvalue != nullptr) CoderT::toXML(pnode, *pvalue, false);
}

template <class CoderT, class MapT>
void writeMap(XMLNode* pnode, const MapT& in, const char* pszMap)
{
    XMLNode* pmy = addElement(pnode, pszMap);
    for (const auto& entry : in)
        writeEntry<CoderT>(pmy, entry.second);
}

// Entries keyed by what the decoded value says.
template <class MapT, class CoderT>
MapT readMap(const XMLNode* pnode, const char* pszMap, const char* pszEntry, const char* pszNotMap)
{
    MapT out;
    forEachEntry(pnode, pszMap, pszEntry, pszNotMap, [&out](const XMLNode* pentry) {
        typename MapT::mapped_type value = CoderT::fromXML(pentry);
        out.insert_or_assign(keyOf(value), value);
    });
    return out;
}

// Entries decoded straight into the map: read(pentry, place) decodes one entry,
// handing place() the value it starts from and filling in what place() returns.
// A value with maps of its own is never copied whole that way.
template <class MapT, class ReadFn>
MapT readMapInPlace(const XMLNode* pnode, const char* pszMap, const char* pszEntry, const char* pszNotMap, ReadFn read)
{
    typedef typename MapT::mapped_type Value;
    MapT out;
    forEachEntry(pnode, pszMap, pszEntry, pszNotMap, [&out, &read](const XMLNode* pentry) {
        read(pentry, [&out](const Value& start) -> Value& { return out.insert_or_assign(keyOf(start), start).first->second; });
    });
    return out;
}

// The decoders that fill a value in place, for fromXML (a local) and for the
// collections (an entry of the map).
template <class ValueT, class ReadFn>
ValueT readValue(const XMLNode* pnode, ReadFn read)
{
    ValueT value;
    read(pnode, [&value](const ValueT& start) -> ValueT& {
        value = start;
        return value;
    });
    return value;
}

// Entries decoded like any other, then standing for the object of that key in
// the core registry. The pointers must point into the registry, so a key it
// does not hold cannot be kept: the entry is left out.
template <class MapT, class CoderT, class RegistryT>
MapT readPointerMap(const XMLNode* pnode, RegistryT& registryS, const char* pszMap, const char* pszEntry,
                    const char* pszNotMap)
{
    MapT out;
    forEachEntry(pnode, pszMap, pszEntry, pszNotMap, [&out, &registryS](const XMLNode* pentry) {
        auto key = keyOf(CoderT::fromXML(pentry));
        typename RegistryT::iterator it = registryS.find(key);
        if (it != registryS.end()) out.insert_or_assign(key, &it->second);
    });
    return out;
}

// The rule of the parameter maps: one entry element per key holding the key and
// the value as two children; an entry that lacks either is skipped.
template <class Traits>
struct PairMapRule {
    typedef typename Traits::Map Map;

    static void toXML(XMLNode* pnode, const Map& in)
    {
        XMLNode* pmy = addElement(pnode, Traits::pszMap);
        for (const auto& entry : in) {
            XMLNode* pentry = addElement(pmy, Traits::pszEntry);
            Traits::writeKey(pentry, entry.first);
            Traits::writeValue(pentry, entry.second);
        }
    }

    static Map fromXML(const XMLNode* pnode)
    {
        Map out;
        forEachEntry(pnode, Traits::pszMap, Traits::pszEntry, Traits::pszNotMap, [&out](const XMLNode* pentry) {
            TextChild key(pentry, Traits::pszKey);
            const XMLNode* pvalue = pentry->findChild(Traits::pszValue);
            if (!key.hasValue() || !Traits::usableValue(pvalue)) return;
            out.insert_or_assign(Traits::readKey(key), Traits::readValue(pvalue));
        });
        return out;
    }
};

struct InitMapTraits {
    typedef OstrelData::InitMap Map;
    static constexpr const char* pszMap = "initmap";
    static constexpr const char* pszEntry = "init";
    static constexpr const char* pszKey = "param";
    static constexpr const char* pszValue = "value";
    static constexpr const char* pszNotMap = "Not a initmap node.";
    static void writeKey(XMLNode* pentry, const std::string& strParam) { addText(pentry, pszKey, strParam); }
    static void writeValue(XMLNode* pentry, const std::string& strValue) { addText(pentry, pszValue, strValue); }
    static bool usableValue(const XMLNode* pvalue) { return pvalue != nullptr && !pvalue->value().isNull(); }
    static std::string readKey(const TextChild& key) { return key.text(); }
    static std::string readValue(const XMLNode* pvalue) { return pvalue->value().str(); }
};

// Maps of parameter maps: the value is a whole "initmap" element.
struct InitMapValue {
    static constexpr const char* pszEntry = "initmap";
    static constexpr const char* pszValue = "initmap";
    static void writeValue(XMLNode* pentry, const OstrelData::InitMap& initS)
    {
        Factory::InitMap::toXML(pentry, initS, false);
    }
    static bool usableValue(const XMLNode* pvalue) { return pvalue != nullptr; }
    static OstrelData::InitMap readValue(const XMLNode* pvalue) { return Factory::InitMap::fromXML(pvalue); }
};

struct InitMapMapTraits : InitMapValue {
    typedef OstrelData::InitMapMap Map;
    static constexpr const char* pszMap = "initmapmap";
    static constexpr const char* pszKey = "profile";
    static constexpr const char* pszNotMap = "Not a initmapmap node.";
    static void writeKey(XMLNode* pentry, const std::string& strProfile) { addText(pentry, pszKey, strProfile); }
    static std::string readKey(const TextChild& key) { return key.text(); }
};

struct ProductInitMapTraits : InitMapValue {
    typedef OstrelData::ProductInitMap Map;
    static constexpr const char* pszMap = "productinitmap";
    static constexpr const char* pszKey = "product";
    static constexpr const char* pszNotMap = "Not a productinitmap node.";
    static void writeKey(XMLNode* pentry, int nProduct) { addInt(pentry, pszKey, nProduct); }
    static int readKey(const TextChild& key) { return key.number(); }
};

} // namespace

// ---- Exception ------------------------------------------------------------

void Factory::Exception::toXML(XMLNode* pnode, const OstrelData::Exception& in, bool)
{
    XMLNode* pmy = addElement(pnode, "exception");
    addText(pmy, "file", in.file());
    addInt(pmy, "line", in.line());
    addInt(pmy, "errorcode", in.errorCode());
    addText(pmy, "legend", in.legend());
    addText(pmy, "remote", in.remote() ? "y" : "n");
}

OstrelData::Exception Factory::Exception::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, "exception", "Not an exception node.");
    TextChild file = requiredValue(pnode, "file", "No file node in Exception.");
    TextChild line = requiredValue(pnode, "line", "No line node in Exception.");
    int nLine = line.number();
    if (nLine == 0) malformed("No line node in Exception.");
    TextChild errorcode = requiredValue(pnode, "errorcode", "No errorcode node in Exception.");
    int nErrorCode = errorcode.number();
    if (nErrorCode == 0) malformed("No errorcode node in Exception.");
    // Many failures carry no details, and an empty legend travels as an empty
    // element: refusing it would report malformed XML instead of the failure.
    TextChild legend = requiredText(pnode, "legend", "No legend node in Exception.");
    return OstrelData::Exception(file.text(), nLine, nErrorCode, legend.text(), true);
}

// ---- Users and sessions ------------------------------------------------------

void Factory::AuthenticatedUser::toXML(XMLNode* pnode, const OstrelData::AuthenticatedUser& in, bool)
{
    XMLNode* pmy = addElement(pnode, "authenticateduser");
    User::toXML(pmy, in, false);
    SessionString::toXML(pmy, in.session(), false);
    // A profile without a name could not be read back (its name is required);
    // left out, it reads as the empty profile it is.
    if (!in.profile().profile().empty()) Profile::toXML(pmy, in.profile(), false);
}

OstrelData::AuthenticatedUser Factory::AuthenticatedUser::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, "authenticateduser", "Not an authenticateduser node.");
    const XMLNode* puser = required(pnode, "user", "No user node in AuthenticatedUser.");
    const XMLNode* psession = required(pnode, "sessionstring", "No session node in AuthenticatedUser.");
    const XMLNode* pprofile = pnode->findChild("profile");

    OstrelData::User user = User::fromXML(puser);
    OstrelData::SessionString session = SessionString::fromXML(psession);
    OstrelData::Profile profile = pprofile != nullptr ? Profile::fromXML(pprofile) : OstrelData::Profile("", false);
    return OstrelData::AuthenticatedUser(user, session, profile);
}

void Factory::AuthenticatedUserMap::toXML(XMLNode* pnode, const OstrelDataXML::AuthenticatedUserMap& in, bool)
{
    writeMap<AuthenticatedUser>(pnode, in, "authenticatedusers");
}

OstrelDataXML::AuthenticatedUserMap Factory::AuthenticatedUserMap::fromXML(const XMLNode* pnode)
{
    return readMap<OstrelDataXML::AuthenticatedUserMap, AuthenticatedUser>(pnode, "authenticatedusers", "authenticateduser", "Not an authenticatedusers node.");
}

void Factory::User::toXML(XMLNode* pnode, const OstrelData::User& in, bool)
{
    XMLNode* pmy = addElement(pnode, "user");
    Domain::toXML(pmy, in.domain(), false);
    addText(pmy, "userid", in.userId());
    addText(pmy, "name", in.name());
    try {
        addText(pmy, "authenticationtoken", in.authenticationToken());
    } catch (const OstrelData::Exception&) {
        // A user whose token cannot be read travels without it.
    } catch (...) {
        OSTREL_RAISE(OstrelData::nNAX_UNKNOWN, "Unknown Error.");
    }
    addText(pmy, "contact", in.contact());
    TeamMap::toXML(pmy, in.teams(), false);
    ProductMap::toXML(pmy, in.products(), false);
}

OstrelData::User Factory::User::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, "user", "Not a user node.");
    const XMLNode* pdomain = required(pnode, "domain", "No domain node in User.");
    TextChild userid = requiredValue(pnode, "userid", "No userid node in User.");
    TextChild name = requiredText(pnode, "name", "No name node in User.");
    TextChild token(pnode, "authenticationtoken");
    TextChild contact = requiredText(pnode, "contact", "No contact node in User.");
    const XMLNode* pteams = pnode->findChild("teams");
    const XMLNode* pproducts = pnode->findChild("products");

    OstrelData::Domain domain = Domain::fromXML(pdomain);
    const OstrelData::Domain& domainCached = storeInPlace(_domainS, domain.domain(), domain);
    OstrelData::User user(domainCached, userid.text(), "", "", "");
    if (name.hasValue()) user.setName(name.text());
    if (token.hasValue()) user.setAuthenticationToken(token.text());
    if (contact.hasValue()) user.setContact(contact.text());
    if (pteams != nullptr) user.teams() = TeamMap::fromXML(pteams);
    if (pproducts != nullptr) user.products() = ProductMap::fromXML(pproducts);
    return user;
}

void Factory::UserMap::toXML(XMLNode* pnode, const OstrelData::UserMap& in, bool)
{
    writeMap<User>(pnode, in, "users");
}

OstrelData::UserMap Factory::UserMap::fromXML(const XMLNode* pnode)
{
    return readMap<OstrelData::UserMap, User>(pnode, "users", "user", "Not a users node.");
}

void Factory::Session::toXML(XMLNode* pnode, const OstrelData::Session& in, bool)
{
    XMLNode* pmy = addElement(pnode, "session");
    addText(pmy, "sessionid", in.str());
}

OstrelData::Session Factory::Session::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, "session", "Not a sessionstring node.");
    TextChild sessionid = requiredValue(pnode, "sessionid", "No sessionid node in SessionString.");
    return OstrelData::Session(sessionid.text());
}

void Factory::SessionString::toXML(XMLNode* pnode, const OstrelData::Session& in, bool)
{
    XMLNode* pmy = addElement(pnode, "sessionstring");
    Session::toXML(pmy, in, false);
}

OstrelData::SessionString Factory::SessionString::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, "sessionstring", "Not a sessionstring node.");
    const XMLNode* psession = required(pnode, "session", "No session node in SessionString.");
    return OstrelData::SessionString(Session::fromXML(psession).str());
}

// ---- Profiles -----------------------------------------------------------------

void Factory::Profile::toXML(XMLNode* pnode, const OstrelData::Profile& in, bool)
{
    XMLNode* pmy = addElement(pnode, "profile");
    addText(pmy, "profile", in.profile());
    ProductInitMap::toXML(pmy, in.products(), false);
}

OstrelData::Profile Factory::Profile::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, "profile", "Not a profile node.");
    TextChild name = requiredValue(pnode, "profile", "No profile node in Profile.");
    const XMLNode* pproducts = pnode->findChild("productinitmap");

    OstrelData::Profile profile(name.text(), false);
    if (pproducts != nullptr) profile.setProducts(ProductInitMap::fromXML(pproducts));
    return profile;
}

void Factory::ProfileMap::toXML(XMLNode* pnode, const OstrelData::ProfileMap& in, bool)
{
    writeMap<Profile>(pnode, in, "profiles");
}

OstrelData::ProfileMap Factory::ProfileMap::fromXML(const XMLNode* pnode)
{
    return readMap<OstrelData::ProfileMap, Profile>(pnode, "profiles", "profile", "Not a profiles node.");
}

// ---- Organisation -------------------------------------------------------------

void Factory::Domain::toXML(XMLNode* pnode, const OstrelData::Domain& in, bool)
{
    XMLNode* pmy = addElement(pnode, "domain");
    Customer::toXML(pmy, *in.customer(), false);
    addText(pmy, "domain", in.domain());
    addText(pmy, "description", in.description());
}

OstrelData::Domain Factory::Domain::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, "domain", "Not a domain node.");
    const XMLNode* pcustomer = required(pnode, "customer", "No customer node in Domain.");
    TextChild name = requiredValue(pnode, "domain", "No domain node in Domain.");
    TextChild description(pnode, "description");

    OstrelData::Customer customer = Customer::fromXML(pcustomer);
    const OstrelData::Customer& customerCached = storeInPlace(_customerS, customer.customer(), customer);
    OstrelData::Domain domain(customerCached, name.text());
    domain.setDescription(description.text());
    return domain;
}

void Factory::DomainMap::toXML(XMLNode* pnode, const OstrelData::DomainMap& in, bool)
{
    writeMap<Domain>(pnode, in, "domains");
}

OstrelData::DomainMap Factory::DomainMap::fromXML(const XMLNode* pnode)
{
    return readMap<OstrelData::DomainMap, Domain>(pnode, "domains", "domain", "Not a domains node.");
}

void Factory::DomainPtrMap::toXML(XMLNode* pnode, const OstrelData::DomainPtrMap& in, bool)
{
    writeMap<Domain>(pnode, in, "domainptrs");
}

OstrelData::DomainPtrMap Factory::DomainPtrMap::fromXML(const XMLNode* pnode)
{
    return readPointerMap<OstrelData::DomainPtrMap, Domain>(pnode, OstrelData::Factory::domains(), "domainptrs", "domain",
                                  "Not a domainptrs node.");
}

void Factory::Customer::toXML(XMLNode* pnode, const OstrelData::Customer& in, bool bRecursive)
{
    XMLNode* pmy = addElement(pnode, "customer");
    addText(pmy, "customer", in.customer());
    addText(pmy, "name", in.name());
    if (bRecursive) {
        DomainPtrMap::toXML(pmy, in.domains(), false);
        TeamPtrMap::toXML(pmy, in.teams(), false);
    }
}

OstrelData::Customer Factory::Customer::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, "customer", "Not a customer node.");
    TextChild id = requiredValue(pnode, "customer", "No customer node in Customer.");
    TextChild name(pnode, "name");
    const XMLNode* pdomains = pnode->findChild("domainptrs");
    const XMLNode* pteams = pnode->findChild("teamptrs");

    OstrelData::Customer customer(id.text(), name.text());
    if (pdomains != nullptr) customer.domains() = DomainPtrMap::fromXML(pdomains);
    if (pteams != nullptr) customer.teams() = TeamPtrMap::fromXML(pteams);
    return customer;
}

void Factory::CustomerMap::toXML(XMLNode* pnode, const OstrelData::CustomerMap& in, bool)
{
    writeMap<Customer>(pnode, in, "customers");
}

OstrelData::CustomerMap Factory::CustomerMap::fromXML(const XMLNode* pnode)
{
    return readMap<OstrelData::CustomerMap, Customer>(pnode, "customers", "customer", "Not a customers node.");
}

void Factory::Team::toXML(XMLNode* pnode, const OstrelData::Team& in, bool bRecursive)
{
    XMLNode* pmy = addElement(pnode, "team");
    addInt(pmy, "team", in.team());
    Customer::toXML(pmy, in.customer(), false);
    addText(pmy, "name", in.name());
    if (bRecursive) {
        TeamMemberMap::toXML(pmy, in.members(), false);
        ProductMap::toXML(pmy, in.products(), false);
    }
}

OstrelData::Team Factory::Team::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, "team", "Not a team node.");
    TextChild number = requiredValue(pnode, "team", "No team node in Team.");
    const XMLNode* pcustomer = required(pnode, "customer", "No customer node in Team.");
    TextChild name = requiredValue(pnode, "name", "No name node in Team.");
    const XMLNode* pmembers = pnode->findChild("teammembers");
    const XMLNode* pproducts = pnode->findChild("products");

    int nTeam = number.number();
    OstrelData::Customer customer = Customer::fromXML(pcustomer);
    const OstrelData::Customer& customerCached = storeInPlace(_customerS, customer.customer(), customer);
    OstrelData::Team team(customerCached, nTeam, "");
    team.setName(name.text());
    if (pmembers != nullptr) team.members() = TeamMemberMap::fromXML(pmembers);
    if (pproducts != nullptr) team.products() = ProductMap::fromXML(pproducts);
    storeInPlace(_teamS, nTeam, team);
    return team;
}

void Factory::TeamMap::toXML(XMLNode* pnode, const OstrelData::TeamMap& in, bool)
{
    writeMap<Team>(pnode, in, "teams");
}

OstrelData::TeamMap Factory::TeamMap::fromXML(const XMLNode* pnode)
{
    return readMap<OstrelData::TeamMap, Team>(pnode, "teams", "team", "Not a teams node.");
}

void Factory::TeamPtrMap::toXML(XMLNode* pnode, const OstrelData::TeamPtrMap& in, bool)
{
    writeMap<Team>(pnode, in, "teamptrs");
}

OstrelData::TeamPtrMap Factory::TeamPtrMap::fromXML(const XMLNode* pnode)
{
    return readPointerMap<OstrelData::TeamPtrMap, Team>(pnode, OstrelData::Factory::teams(), "teamptrs", "team",
                                  "Not a teamptrs node.");
}

void Factory::TeamMember::toXML(XMLNode* pnode, const OstrelData::TeamMember& in, bool)
{
    XMLNode* pmy = addElement(pnode, "teammember");
    User::toXML(pmy, in, false);
    addText(pmy, "islead", in.isLead() ? "Y" : "N");
}

OstrelData::TeamMember Factory::TeamMember::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, "teammember", "Not a team member node.");
    const XMLNode* puser = required(pnode, "user", "No user node in TeamMember.");
    TextChild lead = requiredValue(pnode, "islead", "No islead node in TeamMember.");
    return OstrelData::TeamMember(User::fromXML(puser), lead.text() == "Y");
}

void Factory::TeamMemberMap::toXML(XMLNode* pnode, const OstrelData::TeamMemberMap& in, bool)
{
    writeMap<TeamMember>(pnode, in, "teammembers");
}

OstrelData::TeamMemberMap Factory::TeamMemberMap::fromXML(const XMLNode* pnode)
{
    return readMap<OstrelData::TeamMemberMap, TeamMember>(pnode, "teammembers", "teammember", "Not a teammembers node.");
}

// ---- Product catalogue --------------------------------------------------------

void Factory::Permission::toXML(XMLNode* pnode, const OstrelData::Permission& in, bool)
{
    XMLNode* pmy = addElement(pnode, "permission");
    addInt(pmy, "permission", in.permission());
    addText(pmy, "description", in.description());
    addInt(pmy, "status", static_cast<int>(in.status()));
}

namespace {

template <class PlaceFn>
void readPermission(const XMLNode* pnode, PlaceFn place)
{
    expectElement(pnode, "permission", "Not a permission node.");
    TextChild number = requiredValue(pnode, "permission", "No permission node in Permission.");
    TextChild status = requiredValue(pnode, "status", "No status node in Permission.");
    TextChild description(pnode, "description");

    OstrelData::Permission& permission = place(OstrelData::Permission(number.number(), "", OstrelData::PRStatus()));
    if (description.hasValue()) permission.setDescription(description.text());
    permission.setStatus(OstrelData::PRStatus::fromInt(status.number()));
}

} // namespace

OstrelData::Permission Factory::Permission::fromXML(const XMLNode* pnode)
{
    return readValue<OstrelData::Permission>(pnode, [](const XMLNode* p, auto place) { readPermission(p, place); });
}

void Factory::PermissionMap::toXML(XMLNode* pnode, const OstrelData::PermissionMap& in, bool)
{
    writeMap<Permission>(pnode, in, "permissions");
}

OstrelData::PermissionMap Factory::PermissionMap::fromXML(const XMLNode* pnode)
{
    return readMapInPlace<OstrelData::PermissionMap>(pnode, "permissions", "permission", "Not a permissions node.",
                                                     [](const XMLNode* p, auto place) { readPermission(p, place); });
}

void Factory::Product::toXML(XMLNode* pnode, const OstrelData::Product& in, bool)
{
    XMLNode* pmy = addElement(pnode, "product");
    addInt(pmy, "product", in.product());
    addText(pmy, "description", in.description());
    InitMapMap::toXML(pmy, in.productInit(), false);
    RoleMap::toXML(pmy, in.roles(), false);
    PermissionMap::toXML(pmy, in.permissions(), false);
}

namespace {

template <class PlaceFn>
void readProduct(const XMLNode* pnode, PlaceFn place)
{
    expectElement(pnode, "product", "Not a product node.");
    TextChild number = requiredValue(pnode, "product", "No product node in Product.");
    TextChild description = requiredText(pnode, "description", "No description node in Product.");
    const XMLNode* pinit = pnode->findChild("initmapmap");
    const XMLNode* proles = pnode->findChild("roles");
    const XMLNode* ppermissions = pnode->findChild("permissions");

    OstrelData::Product& product = place(OstrelData::Product(number.number()));
    if (description.hasValue()) product.setDescription(description.text());
    if (pinit != nullptr) product.setProductInit(Factory::InitMapMap::fromXML(pinit));
    if (ppermissions != nullptr) product.permissions() = Factory::PermissionMap::fromXML(ppermissions);
    if (proles != nullptr) product.roles() = Factory::RoleMap::fromXML(proles);
    // The roles and permissions now held belong to this product.
    product.resetPR();
}

} // namespace

OstrelData::Product Factory::Product::fromXML(const XMLNode* pnode)
{
    return readValue<OstrelData::Product>(pnode, [](const XMLNode* p, auto place) { readProduct(p, place); });
}

void Factory::ProductMap::toXML(XMLNode* pnode, const OstrelData::ProductMap& in, bool)
{
    writeMap<Product>(pnode, in, "products");
}

OstrelData::ProductMap Factory::ProductMap::fromXML(const XMLNode* pnode)
{
    return readMapInPlace<OstrelData::ProductMap>(pnode, "products", "product", "Not a products node.",
                                                  [](const XMLNode* p, auto place) { readProduct(p, place); });
}

void Factory::ProductInitMap::toXML(XMLNode* pnode, const OstrelData::ProductInitMap& in, bool)
{
    PairMapRule<ProductInitMapTraits>::toXML(pnode, in);
}

OstrelData::ProductInitMap Factory::ProductInitMap::fromXML(const XMLNode* pnode)
{
    return PairMapRule<ProductInitMapTraits>::fromXML(pnode);
}

void Factory::Role::toXML(XMLNode* pnode, const OstrelData::Role& in, bool)
{
    XMLNode* pmy = addElement(pnode, "role");
    addInt(pmy, "role", in.role());
    addText(pmy, "description", in.description());
    addInt(pmy, "status", static_cast<int>(in.status()));
    PermissionMap::toXML(pmy, in.permissions(), false);
}

namespace {

template <class PlaceFn>
void readRole(const XMLNode* pnode, PlaceFn place)
{
    expectElement(pnode, "role", "Not a role node.");
    TextChild number = requiredValue(pnode, "role", "No role node in Role.");
    TextChild description = requiredText(pnode, "description", "No description node in Role.");
    TextChild status = requiredValue(pnode, "status", "No status node in Role.");
    const XMLNode* ppermissions = pnode->findChild("permissions");

    OstrelData::Role& role = place(OstrelData::Role(number.number(), "", OstrelData::PRStatus()));
    if (description.hasValue()) role.setDescription(description.text());
    role.setStatus(OstrelData::PRStatus::fromInt(status.number()));
    if (ppermissions != nullptr) role.permissions() = Factory::PermissionMap::fromXML(ppermissions);
}

} // namespace

OstrelData::Role Factory::Role::fromXML(const XMLNode* pnode)
{
    return readValue<OstrelData::Role>(pnode, [](const XMLNode* p, auto place) { readRole(p, place); });
}

void Factory::RoleMap::toXML(XMLNode* pnode, const OstrelData::RoleMap& in, bool)
{
    writeMap<Role>(pnode, in, "roles");
}

OstrelData::RoleMap Factory::RoleMap::fromXML(const XMLNode* pnode)
{
    return readMapInPlace<OstrelData::RoleMap>(pnode, "roles", "role", "Not a roles node.",
                                               [](const XMLNode* p, auto place) { readRole(p, place); });
}

void Factory::InitMap::toXML(XMLNode* pnode, const OstrelData::InitMap& in, bool)
{
    PairMapRule<InitMapTraits>::toXML(pnode, in);
}

OstrelData::InitMap Factory::InitMap::fromXML(const XMLNode* pnode)
{
    return PairMapRule<InitMapTraits>::fromXML(pnode);
}

void Factory::InitMapMap::toXML(XMLNode* pnode, const OstrelData::InitMapMap& in, bool)
{
    PairMapRule<InitMapMapTraits>::toXML(pnode, in);
}

OstrelData::InitMapMap Factory::InitMapMap::fromXML(const XMLNode* pnode)
{
    return PairMapRule<InitMapMapTraits>::fromXML(pnode);
}

} // namespace OstrelDataXML
