#include "OstrelDataXML/OstrelFactory.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "Corvel/Exception.h"
#include "OstrelData/Factory.h"
#include "OstrelDataXML/OstrelService.h"
#include "crypto/base64.h"

namespace OstrelDataXML {

using OstrelData::nNAX_MALFORMEDXML;
using Vesk::XMLDoc;
using Vesk::XMLNode;

OstrelData::CustomerMap Factory::_customerS;
OstrelData::DomainMap Factory::_domainS;
OstrelData::ProfileMap Factory::_profileS;
OstrelData::TeamMap Factory::_teamS;
OstrelData::ProductMap Factory::_productS;

namespace {

// Token texts and their encrypted and encoded forms never exceed this.
constexpr unsigned long nTokenBufferSize = 4096;

// Owns the digits of a key until they are handed over.
struct KeyHolder {
    rsa_key key{};
    KeyHolder()
    {
        mp_init(&key.e);
        mp_init(&key.d);
        mp_init(&key.N);
    }
    ~KeyHolder() { rsa_free(&key); }
    KeyHolder(const KeyHolder&) = delete;
    KeyHolder& operator=(const KeyHolder&) = delete;
};

// The daemon's public key: all zero until initialize() loads one. Encrypting
// with the empty key fails cleanly (the crypto library refuses a key without
// digits).
KeyHolder g_key;

[[noreturn]] void malformed(const std::string& strMessage)
{
    OSTREL_RAISE(nNAX_MALFORMEDXML, strMessage);
}

// As atoi, but a number outside the range of long is refused: the key's sizes
// are checked against their bounds after reading.
bool readLong(const std::string& strText, long& nValue)
{
    const char* psz = strText.c_str();
    while (std::isspace(static_cast<unsigned char>(*psz)))
        ++psz;
    errno = 0;
    char* pszEnd = nullptr;
    nValue = std::strtol(psz, &pszEnd, 10);
    if (pszEnd == psz) nValue = 0;
    return errno != ERANGE;
}

// The weakest key a password is encrypted with. Without padding, e = 1 sends
// the password as it is and a small e lets a short one be read by taking the
// root; a short modulus can be factored.
constexpr unsigned long nMinPublicExponent = 65537;
constexpr unsigned long nMinModulusBits = 2048;

// The significant bits of a number's digits (sign aside): 0 for zero.
unsigned long bitLength(const mp_int& number)
{
    for (unsigned int i = number.used; i > 0; --i) {
        mp_digit digit = number.dp[i - 1];
        if (digit == 0) continue;
        unsigned long nBits = static_cast<unsigned long>(i - 1) * MP_DIGIT_BIT;
        for (; digit != 0; digit = static_cast<mp_digit>(digit >> 1))
            ++nBits;
        return nBits;
    }
    return 0;
}

// The number's value when it has at most 32 bits (the caller checks).
unsigned long smallValue(const mp_int& number)
{
    unsigned long nValue = 0;
    for (unsigned int i = std::min(number.used, 2u); i > 0; --i)
        nValue = (nValue << MP_DIGIT_BIT) | number.dp[i - 1];
    return nValue;
}

// Refuses a key that would give the password away to whoever reads the wire.
void refuseWeakKey(const rsa_key& key)
{
    const unsigned long nExponentBits = bitLength(key.e);
    if (key.e.sign != MP_ZPOS || (nExponentBits <= 32 && smallValue(key.e) < nMinPublicExponent))
        malformed("Weak rsa key refused: public exponent below " + std::to_string(nMinPublicExponent) + ".");
    const unsigned long nModulusBits = bitLength(key.N);
    if (nModulusBits < nMinModulusBits)
        malformed("Weak rsa key refused: modulus of " + std::to_string(nModulusBits) + " bits, below " +
                  std::to_string(nMinModulusBits) + ".");
}

// Sends the request and returns the response. A foundation failure that gets
// past the service connection becomes 100 with its legend.
XMLDoc exchange(const XMLDoc& docRequest)
{
    XMLDoc docResponse;
    try {
        OstrelService::transact(docResponse, docRequest);
    } catch (const Corvel::Exception& e) {
        OSTREL_RAISE(OstrelData::nNAX_ALIENEXCEPTION, e.legend());
    }
    if (docResponse.rootNode() == nullptr) malformed("No root node in response.");
    return docResponse;
}

bool isResponse(const XMLDoc& doc, const char* pszResponse)
{
    return doc.rootNode()->attribute("response") == pszResponse;
}

// Throws the daemon's failure when the response reports one.
void rethrowException(const XMLDoc& doc)
{
    const XMLNode* pexception = doc.rootNode()->findChild("exception");
    if (pexception != nullptr) throw Factory::Exception::fromXML(pexception);
}

// The payload of an expected response; null when the response is another one
// (after rethrowing the daemon's failure if it reports one).
const XMLNode* payload(const XMLDoc& doc, const char* pszResponse, const char* pszPayload, const char* pszMissing)
{
    if (!isResponse(doc, pszResponse)) {
        rethrowException(doc);
        return nullptr;
    }
    const XMLNode* ppayload = doc.rootNode()->findChild(pszPayload);
    if (ppayload == nullptr) malformed(pszMissing);
    return ppayload;
}

// The token as the daemon expects it: its bytes raised to the daemon's public
// exponent (no padding), in Base64. The protocol leaves no room for tokens of
// 4096 bytes or more, nor for one that does not fit below the modulus.
// A password or session id goes only where nobody on a network can read or redirect it: over TLS,
// a unix socket or loopback. (Over plain TCP the daemon's key could be an impostor's.) An
// application on a network it trusts may allow more with OSTREL_ALLOW_PLAINTEXT_LOGINS=1.
void requireProtectedLink(const char* pszWhat)
{
    if (!OstrelService::isConnected()) return;  // the request fails as not connected
    if (OstrelService::comm().isProtected()) return;
    const char* pszAllow = std::getenv("OSTREL_ALLOW_PLAINTEXT_LOGINS");
    if (pszAllow != nullptr && std::string(pszAllow) == "1") return;
    OSTREL_RAISE(OstrelData::nNAX_NOSERVERCONNECT,
                 std::string("Not sending ") + pszWhat +
                     " over plain TCP beyond this machine: connect with tls:HOST:PORT "
                     "(or set OSTREL_ALLOW_PLAINTEXT_LOGINS=1 on a network you trust).");
}

// The daemon closes a connection that has not logged in after a while (or a network drops it):
// a request that needs no login of its own then goes over a new connection, with the key the
// daemon hands out there.
void relinkIfDropped()
{
    if (!OstrelService::isConnected() || OstrelService::comm().isConnected()) return;
    Factory::initialize(OstrelService::comm().target());
}

std::string encryptToken(const OstrelData::AuthenticationToken& authToken)
{
    relinkIfDropped();
    requireProtectedLink("a password");
    const std::string& strToken = authToken.str();
    if (strToken.size() >= nTokenBufferSize)
        OSTREL_RAISE(OstrelData::nNAX_AUTHENTICATIONFAILED, "Failed to encrypt authentication token.");

    std::vector<unsigned char> encrypted(nTokenBufferSize);
    unsigned long nEncrypted = nTokenBufferSize;
    if (rsa_exptmod(reinterpret_cast<const unsigned char*>(strToken.data()), strToken.size(), encrypted.data(),
                    &nEncrypted, PK_PUBLIC, &g_key.key) != CRYPT_OK)
        OSTREL_RAISE(OstrelData::nNAX_AUTHENTICATIONFAILED, "Failed to encrypt authentication token.");

    std::vector<unsigned char> encoded(nTokenBufferSize);
    unsigned long nEncoded = nTokenBufferSize;
    if (base64_encode(encrypted.data(), nEncrypted, encoded.data(), &nEncoded) != CRYPT_OK)
        OSTREL_RAISE(OstrelData::nNAX_AUTHENTICATIONFAILED, "Failed to encrypt authentication token.");
    return std::string(reinterpret_cast<const char*>(encoded.data()), nEncoded);
}

// Decodes the authenticated user of an "authenticateduser" response into
// userResult; leaves it as it was when the response is another one without an
// exception.
void readAuthenticatedUser(const XMLDoc& doc, OstrelData::AuthenticatedUser& userResult)
{
    const XMLNode* puser = payload(doc, "authenticateduser", "authenticateduser",
                                   "No authenticated user node in authenticateduser response.");
    if (puser != nullptr) userResult = Factory::AuthenticatedUser::fromXML(puser);
}

// Adds to the cache what it lacks; entries already cached stay as they are.
template <class MapT>
MapT& addMissing(MapT& cacheS, const MapT& listS)
{
    for (const auto& entry : listS)
        cacheS.insert(entry);
    return cacheS;
}

} // namespace

// ---- Envelope -------------------------------------------------------------------

XMLDoc Factory::Envelope::request(const std::string& strRequest)
{
    XMLDoc doc("ostrelservice", "1.0", "UTF-8");
    doc.rootNode()->attribute("request", strRequest);
    return doc;
}

XMLDoc Factory::Envelope::response(const std::string& strResponse)
{
    XMLDoc doc("ostrelservice", "1.0", "UTF-8");
    doc.rootNode()->attribute("response", strResponse);
    return doc;
}

void Factory::Envelope::addException(XMLDoc& doc, const OstrelData::Exception& e)
{
    Exception::toXML(doc.rootNode(), e, false);
}

// ---- The key on the wire -------------------------------------------------------

void Factory::RsaKey::numberToXML(XMLNode* pnode, const std::string& strName, const mp_int& number)
{
    XMLNode* pmy = pnode->addNode(strName);
    Vesk::String strValue;
    pmy->addNode("sign", strValue.format("%i", static_cast<int>(number.sign)));
    pmy->addNode("alloc", strValue.format("%u", number.alloc));
    pmy->addNode("used", strValue.format("%u", number.used));
    unsigned long nBytes = static_cast<unsigned long>(number.alloc) * sizeof(mp_digit);
    std::vector<unsigned char> encoded(4 * (nBytes / 3 + 1) + 1);
    unsigned long nEncoded = encoded.size();
    const unsigned char* pbyDigits = reinterpret_cast<const unsigned char*>(number.dp);
    if (number.dp == nullptr) nBytes = 0;
    if (base64_encode(pbyDigits, nBytes, encoded.data(), &nEncoded) != CRYPT_OK) nEncoded = 0;
    pmy->addNode("dp", Vesk::String(reinterpret_cast<const char*>(encoded.data()), nEncoded));
}

void Factory::RsaKey::numberFromXML(const XMLNode* pnode, const std::string& strName, mp_int& number)
{
    const std::string strWhere = " node in " + strName + " node in rsa node.";
    const char* apszPart[] = {"sign", "alloc", "used", "dp"};
    const XMLNode* apnode[4];
    for (int i = 0; i < 4; ++i) {
        apnode[i] = pnode->findChild(apszPart[i]);
        if (apnode[i] == nullptr || apnode[i]->value().isNull()) malformed("No " + std::string(apszPart[i]) + strWhere);
    }
    long nSign = 0;
    long nAlloc = 0;
    long nUsed = 0;
    // The daemon's numbers are trusted no further than the crypto library's own
    // bounds: a size it would refuse, or digits that do not decode, are malformed.
    if (!readLong(apnode[0]->value().str(), nSign) || (nSign != MP_ZPOS && nSign != MP_NEG))
        malformed("Bad sign" + strWhere);
    if (!readLong(apnode[1]->value().str(), nAlloc) || nAlloc < 0 || nAlloc > MP_MAX_DIGITS)
        malformed("Bad alloc" + strWhere);
    if (!readLong(apnode[2]->value().str(), nUsed) || nUsed < 0 || nUsed > nAlloc) malformed("Bad used" + strWhere);

    mp_int decoded;
    if (mp_init_size(&decoded, static_cast<unsigned int>(nAlloc)) != CRYPT_OK) malformed("Bad alloc" + strWhere);
    decoded.sign = static_cast<signed char>(nSign);
    decoded.used = static_cast<unsigned int>(nUsed);
    if (nAlloc > 0) {
        const std::string strDigits = apnode[3]->value().str();
        unsigned long nBytes = static_cast<unsigned long>(nAlloc) * sizeof(mp_digit);
        if (base64_decode(reinterpret_cast<const unsigned char*>(strDigits.data()), strDigits.size(),
                          reinterpret_cast<unsigned char*>(decoded.dp), &nBytes) != CRYPT_OK) {
            mp_clear(&decoded);
            malformed("Bad dp" + strWhere);
        }
    }
    number = decoded;
}

void Factory::RsaKey::toXML(XMLNode* pnode, const rsa_key& key)
{
    XMLNode* prsa = pnode->addNode("rsa");
    numberToXML(prsa, "e", key.e);
    numberToXML(prsa, "N", key.N);
}

void Factory::RsaKey::fromXML(const XMLNode* prsa, rsa_key& key)
{
    if (prsa == nullptr || prsa->qualifiedName() != "rsa") malformed("No rsa node.");
    const XMLNode* pe = prsa->findChild("e");
    if (pe == nullptr) malformed("No e node in rsa node.");
    const XMLNode* pN = prsa->findChild("N");
    if (pN == nullptr) malformed("No N node in rsa node.");

    KeyHolder decoded;
    decoded.key.type = PK_PRIVATE;
    numberFromXML(pe, "e", decoded.key.e);
    numberFromXML(pN, "N", decoded.key.N);
    rsa_free(&key);
    key = decoded.key;
    // The digits now belong to key.
    mp_init(&decoded.key.e);
    mp_init(&decoded.key.N);
}

// ---- Requests ---------------------------------------------------------------------

std::map<std::string, Corvel::Version> Factory::about()
{
    XMLDoc docResponse = exchange(Envelope::request("about"));
    std::map<std::string, Corvel::Version> versionS;
    if (!isResponse(docResponse, "about")) return versionS;
    const XMLNode* pabout = docResponse.rootNode()->findChild("about");
    if (pabout == nullptr) return versionS;
    for (const XMLNode* ppart = pabout->nextChild(); ppart != nullptr; ppart = pabout->nextChild(ppart)) {
        std::string strKey = ppart->nameSpace().str() + "::" + ppart->name().str();
        try {
            versionS[strKey] = Corvel::Version::fromText(ppart->value().str());
        } catch (const Corvel::Exception&) {
            malformed("Bad version in " + ppart->qualifiedName().str() + " node in about response.");
        }
    }
    return versionS;
}

void Factory::reinitialize()
{
    XMLDoc docResponse = exchange(Envelope::request("reloadfactory"));
    if (!isResponse(docResponse, "reloadfactory")) malformed("No reloadfactory response");
}

void Factory::initialize(const std::string& strInit)
{
    try {
        OstrelService::connect(strInit);
    } catch (const Corvel::Exception& e) {
        OSTREL_RAISE(OstrelData::nNAX_NOSERVERCONNECT, e.legend());
    }

    XMLDoc docRequest = Envelope::request("initialize");
    docRequest.rootNode()->attribute("version", version().text());
    XMLDoc docResponse = exchange(docRequest);
    if (isResponse(docResponse, "rsa")) {
        // Like a malformed key, a weak one leaves the key loaded before in place.
        KeyHolder offered;
        RsaKey::fromXML(docResponse.rootNode()->findChild("rsa"), offered.key);
        refuseWeakKey(offered.key);
        std::swap(g_key.key, offered.key);
        return;
    }
    rethrowException(docResponse);
}

OstrelData::AuthenticatedUser& Factory::authenticate(const OstrelData::User& user,
                                                     const OstrelData::AuthenticationToken& authToken,
                                                     const OstrelData::Profile& profile)
{
    static OstrelData::AuthenticatedUser s_userResult;
    XMLDoc docRequest = Envelope::request("authenticate");
    std::string strToken = encryptToken(authToken);
    User::toXML(docRequest.rootNode(), user, false);
    docRequest.rootNode()->addNode("authenticationtoken", Vesk::String(strToken));
    Profile::toXML(docRequest.rootNode(), profile, false);
    readAuthenticatedUser(exchange(docRequest), s_userResult);
    OstrelData::Factory::setAuthenticatedUser(s_userResult);
    return s_userResult;
}

OstrelData::AuthenticatedUser& Factory::validate(const OstrelData::User& user,
                                                 const OstrelData::AuthenticationToken& authToken)
{
    static OstrelData::AuthenticatedUser s_userResult;
    XMLDoc docRequest = Envelope::request("validate");
    std::string strToken = encryptToken(authToken);
    User::toXML(docRequest.rootNode(), user, false);
    docRequest.rootNode()->addNode("authenticationtoken", Vesk::String(strToken));
    readAuthenticatedUser(exchange(docRequest), s_userResult);
    return s_userResult;
}

OstrelData::AuthenticatedUser& Factory::authenticatedUser()
{
    static OstrelData::AuthenticatedUser s_userResult;
    readAuthenticatedUser(exchange(Envelope::request("authenticateduser")), s_userResult);
    return s_userResult;
}

bool Factory::passwd(const OstrelData::AuthenticatedUser& user, OstrelData::AuthenticationToken& authTokenCurrent,
                     OstrelData::AuthenticationToken& authTokenNew)
{
    XMLDoc docRequest = Envelope::request("passwd");
    // Both tokens are encrypted before anything is written, so that a token the
    // key cannot carry stops the request before it is built.
    std::string strCurrent = encryptToken(authTokenCurrent);
    std::string strNew = encryptToken(authTokenNew);
    AuthenticatedUser::toXML(docRequest.rootNode(), user, false);
    docRequest.rootNode()->addNode("authenticationtokencurrent", Vesk::String(strCurrent));
    docRequest.rootNode()->addNode("authenticationtokennew", Vesk::String(strNew));
    XMLDoc docResponse = exchange(docRequest);
    if (isResponse(docResponse, "passwd")) return true;
    rethrowException(docResponse);
    return false;
}

void Factory::persistSession(OstrelData::AuthenticatedUser& user)
{
    XMLDoc docRequest = Envelope::request("persistsession");
    AuthenticatedUser::toXML(docRequest.rootNode(), user, true);
    rethrowException(exchange(docRequest));
}

OstrelData::AuthenticatedUser& Factory::retrieveSession(const OstrelData::Session& session)
{
    static OstrelData::AuthenticatedUser s_userResult;
    relinkIfDropped();
    requireProtectedLink("a session id");
    XMLDoc docRequest = Envelope::request("retrievesession");
    Session::toXML(docRequest.rootNode(), session, false);
    readAuthenticatedUser(exchange(docRequest), s_userResult);
    OstrelData::Factory::setAuthenticatedUser(s_userResult);
    return s_userResult;
}

void Factory::killSession(const OstrelData::Session& session)
{
    // The id may be any session's, not only one this link was given.
    requireProtectedLink("a session id");
    XMLDoc docRequest = Envelope::request("killsession");
    Session::toXML(docRequest.rootNode(), session, false);
    rethrowException(exchange(docRequest));
}

void Factory::user(OstrelData::User& userF, bool bRecurse)
{
    XMLDoc docRequest = Envelope::request("user");
    docRequest.rootNode()->attribute("recurse", bRecurse ? "Y" : "N");
    User::toXML(docRequest.rootNode(), userF, false);
    XMLDoc docResponse = exchange(docRequest);
    const XMLNode* puser = payload(docResponse, "user", "user", "No User node in user response.");
    if (puser != nullptr) userF = User::fromXML(puser);
}

void Factory::team(OstrelData::Team& team, bool bReload)
{
    XMLDoc docRequest = Envelope::request("team");
    docRequest.rootNode()->attribute("reload", bReload ? "Y" : "N");
    Team::toXML(docRequest.rootNode(), team, false);
    XMLDoc docResponse = exchange(docRequest);
    const XMLNode* pteam = payload(docResponse, "team", "team", "No Team node in team response.");
    if (pteam != nullptr) team = Team::fromXML(pteam);
}

OstrelData::TeamMap& Factory::teams()
{
    XMLDoc docResponse = exchange(Envelope::request("teams"));
    const XMLNode* pteams = payload(docResponse, "teams", "teams", "No Teams node in teams response.");
    if (pteams != nullptr) addMissing(_teamS, TeamMap::fromXML(pteams));
    return _teamS;
}

OstrelData::ProductMap& Factory::products()
{
    XMLDoc docResponse = exchange(Envelope::request("products"));
    const XMLNode* pproducts = payload(docResponse, "products", "products", "No Products node in products response.");
    if (pproducts != nullptr) addMissing(_productS, ProductMap::fromXML(pproducts));
    return _productS;
}

OstrelData::DomainMap& Factory::domains()
{
    XMLDoc docResponse = exchange(Envelope::request("domains"));
    const XMLNode* pdomains = payload(docResponse, "domains", "domains", "No Domains node in domains response.");
    if (pdomains != nullptr) addMissing(_domainS, DomainMap::fromXML(pdomains));
    return _domainS;
}

OstrelData::CustomerMap& Factory::customers()
{
    XMLDoc docResponse = exchange(Envelope::request("customers"));
    const XMLNode* pcustomers =
        payload(docResponse, "customers", "customers", "No Customers node in customers response.");
    if (pcustomers != nullptr) addMissing(_customerS, CustomerMap::fromXML(pcustomers));
    return _customerS;
}

OstrelData::ProfileMap& Factory::profiles()
{
    XMLDoc docResponse = exchange(Envelope::request("profiles"));
    const XMLNode* pprofiles = payload(docResponse, "profiles", "profiles", "No Profiles node in profiles response.");
    if (pprofiles != nullptr) addMissing(_profileS, ProfileMap::fromXML(pprofiles));
    return _profileS;
}

OstrelDataXML::AuthenticatedUserMap Factory::who()
{
    XMLDoc docResponse = exchange(Envelope::request("who"));
    const XMLNode* pusers =
        payload(docResponse, "who", "authenticatedusers", "No AuthenticatedUsers node in who response.");
    if (pusers == nullptr) return OstrelDataXML::AuthenticatedUserMap();
    return AuthenticatedUserMap::fromXML(pusers);
}

Corvel::Version Factory::version()
{
    return OstrelData::Factory::version();
}

} // namespace OstrelDataXML
