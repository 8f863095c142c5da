// The XML form of every model object. Decoding treats the element as hostile:
// every rule it breaks is a 1011 exception, and nothing is decoded before all
// of an element's own checks have passed.

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "OstrelData/Factory.h"
#include "OstrelDataXML/Decoding.h"
#include "OstrelDataXML/Encoding.h"
#include "OstrelDataXML/OstrelFactory.h"

namespace OstrelDataXML {

using OstrelData::nNAX_MALFORMEDXML;
using Vesk::XMLNode;

// The names of the elements, made once: documents are written and read an
// element at a time, and a name made for each call would cost as much as the
// call. Only these are ever kept by a TextChild.
namespace tag {
const Vesk::String authenticateduser("authenticateduser");
const Vesk::String authenticatedusers("authenticatedusers");
const Vesk::String authenticationtoken("authenticationtoken");
const Vesk::String contact("contact");
const Vesk::String customer("customer");
const Vesk::String customers("customers");
const Vesk::String description("description");
const Vesk::String domain("domain");
const Vesk::String domainptrs("domainptrs");
const Vesk::String domains("domains");
const Vesk::String errorcode("errorcode");
const Vesk::String exception("exception");
const Vesk::String file("file");
const Vesk::String init("init");
const Vesk::String initmap("initmap");
const Vesk::String initmapmap("initmapmap");
const Vesk::String islead("islead");
const Vesk::String legend("legend");
const Vesk::String line("line");
const Vesk::String name("name");
const Vesk::String param("param");
const Vesk::String permission("permission");
const Vesk::String permissions("permissions");
const Vesk::String product("product");
const Vesk::String productinitmap("productinitmap");
const Vesk::String products("products");
const Vesk::String profile("profile");
const Vesk::String profiles("profiles");
const Vesk::String remote("remote");
const Vesk::String role("role");
const Vesk::String roles("roles");
const Vesk::String session("session");
const Vesk::String sessionid("sessionid");
const Vesk::String sessionstring("sessionstring");
const Vesk::String status("status");
const Vesk::String team("team");
const Vesk::String teammember("teammember");
const Vesk::String teammembers("teammembers");
const Vesk::String teamptrs("teamptrs");
const Vesk::String teams("teams");
const Vesk::String user("user");
const Vesk::String userid("userid");
const Vesk::String users("users");
const Vesk::String value("value");
} // namespace tag

namespace {

[[noreturn]] void malformed(const std::string& strMessage)
{
    OSTREL_RAISE(nNAX_MALFORMEDXML, strMessage);
}

// pnode must be the element named strName.
void expectElement(const XMLNode* pnode, const Vesk::String& strName, const char* pszMessage)
{
    if (pnode == nullptr || pnode->qualifiedName() != strName) malformed(pszMessage);
}

const XMLNode* required(const XMLNode* pnode, const Vesk::String& strChild, const char* pszMessage)
{
    const XMLNode* pchild = pnode->findChild(strChild);
    if (pchild == nullptr) malformed(pszMessage);
    return pchild;
}

// A child that carries text, looked up and read once.
class TextChild {
public:
    // strName outlives the child: one of the names below.
    TextChild(const XMLNode* pparent, const Vesk::String& strName) : TextChild(strName, pparent->findChild(strName)) {}
    TextChild(const XMLNode* pparent, Vesk::String&& strName) = delete;
    // The child strName already found (pnode; null when there is none).
    TextChild(const Vesk::String& strName, const XMLNode* pnode)
        : _pstrName(&strName), _pnode(pnode), _strValue(_pnode != nullptr ? _pnode->value() : Vesk::String())
    {
    }
    TextChild(Vesk::String&& strName, const XMLNode* pnode) = delete;

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
    [[noreturn]] void outOfRange() const { malformed("Number out of range in " + _pstrName->str() + " node."); }

    const Vesk::String* _pstrName;
    const XMLNode* _pnode;
    Vesk::String _strValue;
};

// A text child that must be present with a value.
TextChild requiredValue(TextChild child, const char* pszMessage)
{
    if (!child.hasValue()) malformed(pszMessage);
    return child;
}
TextChild requiredValue(const XMLNode* pnode, const Vesk::String& strChild, const char* pszMessage)
{
    return requiredValue(TextChild(pnode, strChild), pszMessage);
}

// A text child that must be present, with or without a value.
TextChild requiredText(TextChild child, const char* pszMessage)
{
    if (!child.present()) malformed(pszMessage);
    return child;
}
TextChild requiredText(const XMLNode* pnode, const Vesk::String& strChild, const char* pszMessage)
{
    return requiredText(TextChild(pnode, strChild), pszMessage);
}

// The children of one element that a reader takes, each the first of its name, found in one walk:
// the entries of a large user are read by the thousand, and a walk a name was a good part of it.
// The names are listed in the order they are written, which makes the walk shortest.
template <size_t N>
class Children {
public:
    Children(const XMLNode* pnode, const Vesk::String (&strNameS)[N]) : _strNameS(strNameS)
    {
        pnode->findChildren(strNameS, N, _pchildS);
    }
    const XMLNode* operator[](size_t i) const { return _pchildS[i]; }
    TextChild text(size_t i) const { return TextChild(_strNameS[i], _pchildS[i]); }

private:
    const Vesk::String (&_strNameS)[N];
    const XMLNode* _pchildS[N];
};

XMLNode* addText(XMLNode* pnode, const Vesk::String& strName, const std::string& strValue)
{
    return pnode->addNode(strName, Vesk::String(strValue));
}

// Decimal, as "%i" writes it.
XMLNode* addInt(XMLNode* pnode, const Vesk::String& strName, int nValue)
{
    return pnode->addNode(strName, Vesk::String(std::to_string(nValue)));
}

// An element that only holds children.
XMLNode* addElement(XMLNode* pnode, const Vesk::String& strName)
{
    return pnode->addNode(strName);
}

// The encoders write either into a document (an XMLNode*) or, through a TextOut, straight into
// the text that XMLDoc::stream() would make of that document: the declaration, one element a line
// indented two blanks a level, an element with only text on one line, an empty one as "<name />",
// text escaped as the parser's writer escapes it. Elements are written in document order, so an
// element is closed once a sibling of it or of an ancestor begins.
class TextWriter;

// An element of the text being written, open for children.
struct TextOut {
    TextWriter* pwriter;
    size_t nDepth;   // the root is 0
    size_t nSerial;  // which element at that depth
};

class TextWriter {
public:
    // Writes into str, which it owns until finish().
    explicit TextWriter(std::string& str) : _str(str)
    {
        _str.resize(std::max<size_t>(_str.capacity(), 4096));
        _openS.reserve(16);  // deeper than any model object goes
    }

    // The declaration and the root element with one attribute, whose value must need no escape.
    TextOut root(const std::string& strName, const char* pszAttribute, const std::string& strValue)
    {
        put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<");
        put(strName);
        put(" ");
        put(pszAttribute);
        put("=\"");
        put(strValue);
        put("\"");
        _openS.push_back(Open{&strName, ++_nSerial, true});
        return TextOut{this, 0, _nSerial};
    }

    TextOut element(const TextOut& parent, const Vesk::String& strName)
    {
        enter(parent);
        startTag(parent.nDepth + 1, strName.str());
        _openS.push_back(Open{&strName.str(), ++_nSerial, true});
        return TextOut{this, parent.nDepth + 1, _nSerial};
    }

    void text(const TextOut& parent, const Vesk::String& strName, const std::string& strValue)
    {
        // The document refuses a NUL in a text; so does its text.
        if (std::memchr(strValue.data(), '\0', strValue.size()) != nullptr)
            throw Vesk::XMLException("XML value contains a NUL byte");
        enter(parent);
        startTag(parent.nDepth + 1, strName.str());
        if (strValue.empty()) {
            put(" />\n");
            return;
        }
        put(">");
        escape(strValue);
        endTag(strName.str());
    }

    // A number, as std::to_string writes it.
    void number(const TextOut& parent, const Vesk::String& strName, int nValue)
    {
        enter(parent);
        startTag(parent.nDepth + 1, strName.str());
        char ach[16];
        char* p = ach + sizeof ach;
        unsigned int n = nValue < 0 ? 0u - static_cast<unsigned int>(nValue) : static_cast<unsigned int>(nValue);
        do {
            *--p = static_cast<char>('0' + n % 10);
            n /= 10;
        } while (n != 0);
        if (nValue < 0) *--p = '-';
        reserve(1 + sizeof ach);
        _str[_nUsed++] = '>';
        std::memcpy(&_str[_nUsed], p, static_cast<size_t>(ach + sizeof ach - p));
        _nUsed += static_cast<size_t>(ach + sizeof ach - p);
        endTag(strName.str());
    }

    // Closes every element still open and hands the text over.
    void finish()
    {
        while (!_openS.empty())
            closeLast();
        _str.resize(_nUsed);
    }

private:
    struct Open {
        const std::string* pstrName;
        size_t nSerial;
        bool bEmpty;  // its start tag still waits for its end: no child yet
    };

    // Makes parent the innermost open element, its start tag ended.
    void enter(const TextOut& parent)
    {
        if (parent.nDepth >= _openS.size() || _openS[parent.nDepth].nSerial != parent.nSerial)
            throw std::logic_error("text encoder: an element written to after it was closed");
        while (_openS.size() > parent.nDepth + 1)
            closeLast();
        Open& open = _openS.back();
        if (open.bEmpty) {
            put(">\n");
            open.bEmpty = false;
        }
    }

    void closeLast()
    {
        const Open& open = _openS.back();
        if (open.bEmpty) {
            put(" />\n");
        } else {
            indent(_openS.size() - 1);
            endTag(*open.pstrName);
        }
        _openS.pop_back();
    }

    // The text is written into _str's own room, grown as needed, rather than appended piece by
    // piece: a reply is a thousand or more short pieces.
    void reserve(size_t nMore)
    {
        if (_nUsed + nMore > _str.size()) _str.resize(std::max(2 * _str.size(), _nUsed + nMore));
    }
    void put(const char* pch, size_t n)
    {
        reserve(n);
        std::memcpy(&_str[_nUsed], pch, n);
        _nUsed += n;
    }
    void put(const std::string& str) { put(str.data(), str.size()); }
    void put(const char* psz) { put(psz, std::strlen(psz)); }

    void indent(size_t nDepth)
    {
        reserve(2 * nDepth);
        std::memset(&_str[_nUsed], ' ', 2 * nDepth);
        _nUsed += 2 * nDepth;
    }
    void startTag(size_t nDepth, const std::string& strName)
    {
        indent(nDepth);
        reserve(1 + strName.size());
        _str[_nUsed++] = '<';
        std::memcpy(&_str[_nUsed], strName.data(), strName.size());
        _nUsed += strName.size();
    }
    void endTag(const std::string& strName)
    {
        reserve(strName.size() + 4);
        _str[_nUsed++] = '<';
        _str[_nUsed++] = '/';
        std::memcpy(&_str[_nUsed], strName.data(), strName.size());
        _nUsed += strName.size();
        _str[_nUsed++] = '>';
        _str[_nUsed++] = '\n';
    }

    // As the parser's writer escapes element text: the markup characters by name, control
    // characters other than tab, newline and carriage return by number (two digits).
    void escape(const std::string& strValue)
    {
        const char* p = strValue.data();
        const char* pEnd = p + strValue.size();
        while (p < pEnd) {
            const char* pPlain = p;
            while (p < pEnd && !special(static_cast<unsigned char>(*p)))
                ++p;
            put(pPlain, static_cast<size_t>(p - pPlain));
            if (p == pEnd) break;
            const unsigned char ch = static_cast<unsigned char>(*p++);
            switch (ch) {
            case '&': put("&amp;", 5); break;
            case '<': put("&lt;", 4); break;
            case '>': put("&gt;", 4); break;
            default: {
                const char ach[5] = {'&', '#', static_cast<char>('0' + ch / 10), static_cast<char>('0' + ch % 10), ';'};
                put(ach, sizeof ach);
            }
            }
        }
    }
    static bool special(unsigned char ch)
    {
        return ch == '&' || ch == '<' || ch == '>' || (ch < 32 && ch != '\t' && ch != '\n' && ch != '\r');
    }

    std::string& _str;
    size_t _nUsed = 0;  // how much of _str is written
    std::vector<Open> _openS;
    size_t _nSerial = 0;
};

TextOut addElement(const TextOut& out, const Vesk::String& strName)
{
    return out.pwriter->element(out, strName);
}

void addText(const TextOut& out, const Vesk::String& strName, const std::string& strValue)
{
    out.pwriter->text(out, strName, strValue);
}

void addInt(const TextOut& out, const Vesk::String& strName, int nValue)
{
    out.pwriter->number(out, strName, nValue);
}

// What only a document can hold (the recursive forms) is never asked of the text.
template <class Out>
constexpr bool isDocument = std::is_same_v<Out, XMLNode*>;

// The anchors of the decoding Scope of this thread; none: the caches.
thread_local decoding::Anchors* t_panchors = nullptr;

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
void forEachEntry(const XMLNode* pnode, const Vesk::String& strMap, const Vesk::String& strEntry, const char* pszNotMap,
                  Fn fn)
{
    expectElement(pnode, strMap, pszNotMap);
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
void writeMap(XMLNode* pnode, const MapT& in, const Vesk::String& strMap)
{
    XMLNode* pmy = addElement(pnode, strMap);
    for (const auto& entry : in)
        writeEntry<CoderT>(pmy, entry.second);
}

// The same, each entry written by encode (into a document or a text).
template <class Out, class MapT, class EncodeFn>
void writeMapWith(const Out& out, const MapT& in, const Vesk::String& strMap, EncodeFn encode)
{
    const auto my = addElement(out, strMap);
    for (const auto& entry : in)
        encode(my, entry.second);
}

// Entries keyed by what the decoded value says.
template <class MapT, class CoderT>
MapT readMap(const XMLNode* pnode, const Vesk::String& strMap, const Vesk::String& strEntry, const char* pszNotMap)
{
    MapT out;
    forEachEntry(pnode, strMap, strEntry, pszNotMap, [&out](const XMLNode* pentry) {
        typename MapT::mapped_type value = CoderT::fromXML(pentry);
        out.insert_or_assign(keyOf(value), value);
    });
    return out;
}

// Entries decoded straight into the map: read(pentry, place) decodes one entry
// (found by its name, so read need not check it), handing place() the value it
// starts from and filling in what place() returns. A value with maps of its own
// is never copied whole that way.
template <class MapT, class ReadFn>
MapT readMapInPlace(const XMLNode* pnode, const Vesk::String& strMap, const Vesk::String& strEntry,
                    const char* pszNotMap, ReadFn read)
{
    typedef typename MapT::mapped_type Value;
    MapT out;
    forEachEntry(pnode, strMap, strEntry, pszNotMap, [&out, &read](const XMLNode* pentry) {
        read(pentry, [&out](const Value& start) -> Value& {
            return out.insert_or_assign(keyOf(start), start).first->second;
        });
    });
    return out;
}

// The same decoders building the value fromXML returns.
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
MapT readPointerMap(const XMLNode* pnode, RegistryT& registryS, const Vesk::String& strMap,
                    const Vesk::String& strEntry, const char* pszNotMap)
{
    MapT out;
    forEachEntry(pnode, strMap, strEntry, pszNotMap, [&out, &registryS](const XMLNode* pentry) {
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

    template <class Out>
    static void toXML(const Out& out, const Map& in)
    {
        const auto my = addElement(out, Traits::tagMap);
        for (const auto& entry : in) {
            const auto entryOut = addElement(my, Traits::tagEntry);
            Traits::writeKey(entryOut, entry.first);
            Traits::writeValue(entryOut, entry.second);
        }
    }

    static Map fromXML(const XMLNode* pnode)
    {
        Map out;
        forEachEntry(pnode, Traits::tagMap, Traits::tagEntry, Traits::pszNotMap, [&out](const XMLNode* pentry) {
            TextChild key(pentry, Traits::tagKey);
            const XMLNode* pvalue = pentry->findChild(Traits::tagValue);
            if (!key.hasValue() || !Traits::usableValue(pvalue)) return;
            out.insert_or_assign(Traits::readKey(key), Traits::readValue(pvalue));
        });
        return out;
    }
};

struct InitMapTraits {
    typedef OstrelData::InitMap Map;
    static inline const Vesk::String& tagMap = tag::initmap;
    static inline const Vesk::String& tagEntry = tag::init;
    static inline const Vesk::String& tagKey = tag::param;
    static inline const Vesk::String& tagValue = tag::value;
    static constexpr const char* pszNotMap = "Not a initmap node.";
    template <class Out>
    static void writeKey(const Out& entry, const std::string& strParam) { addText(entry, tagKey, strParam); }
    template <class Out>
    static void writeValue(const Out& entry, const std::string& strValue) { addText(entry, tagValue, strValue); }
    static bool usableValue(const XMLNode* pvalue) { return pvalue != nullptr && !pvalue->value().isNull(); }
    static std::string readKey(const TextChild& key) { return key.text(); }
    static std::string readValue(const XMLNode* pvalue) { return pvalue->value().str(); }
};

// Maps of parameter maps: the value is a whole tag::initmap element.
struct InitMapValue {
    static inline const Vesk::String& tagEntry = tag::initmap;
    static inline const Vesk::String& tagValue = tag::initmap;
    template <class Out>
    static void writeValue(const Out& entry, const OstrelData::InitMap& initS)
    {
        PairMapRule<InitMapTraits>::toXML(entry, initS);
    }
    static bool usableValue(const XMLNode* pvalue) { return pvalue != nullptr; }
    static OstrelData::InitMap readValue(const XMLNode* pvalue) { return Factory::InitMap::fromXML(pvalue); }
};

struct InitMapMapTraits : InitMapValue {
    typedef OstrelData::InitMapMap Map;
    static inline const Vesk::String& tagMap = tag::initmapmap;
    static inline const Vesk::String& tagKey = tag::profile;
    static constexpr const char* pszNotMap = "Not a initmapmap node.";
    template <class Out>
    static void writeKey(const Out& entry, const std::string& strProfile) { addText(entry, tagKey, strProfile); }
    static std::string readKey(const TextChild& key) { return key.text(); }
};

struct ProductInitMapTraits : InitMapValue {
    typedef OstrelData::ProductInitMap Map;
    static inline const Vesk::String& tagMap = tag::productinitmap;
    static inline const Vesk::String& tagKey = tag::product;
    static constexpr const char* pszNotMap = "Not a productinitmap node.";
    template <class Out>
    static void writeKey(const Out& entry, int nProduct) { addInt(entry, tagKey, nProduct); }
    static int readKey(const TextChild& key) { return key.number(); }
};


// ---- The encoders of what a user carries, into a document or a text ----------

// status: what the holder of the permission (role) says it is, which a product keeping its
// statuses aside answers without making its maps.
template <class Out>
void encodePermission(const Out& out, const OstrelData::Permission& in, const OstrelData::PRStatus& status)
{
    const auto my = addElement(out, tag::permission);
    addInt(my, tag::permission, in.permission());
    addText(my, tag::description, in.description());
    addInt(my, tag::status, static_cast<int>(status));
}

template <class Out>
void encodePermission(const Out& out, const OstrelData::Permission& in)
{
    encodePermission(out, in, in.status());
}

template <class Out>
void encodePermissionMap(const Out& out, const OstrelData::PermissionMap& in)
{
    writeMapWith(out, in, tag::permissions, [](const auto& o, const OstrelData::Permission& v) { encodePermission(o, v); });
}

template <class Out>
void encodeRole(const Out& out, const OstrelData::Role& in, const OstrelData::PRStatus& status)
{
    const auto my = addElement(out, tag::role);
    addInt(my, tag::role, in.role());
    addText(my, tag::description, in.description());
    addInt(my, tag::status, static_cast<int>(status));
    encodePermissionMap(my, in.permissions());
}

template <class Out>
void encodeRole(const Out& out, const OstrelData::Role& in)
{
    encodeRole(out, in, in.status());
}

template <class Out>
void encodeRoleMap(const Out& out, const OstrelData::RoleMap& in)
{
    writeMapWith(out, in, tag::roles, [](const auto& o, const OstrelData::Role& v) { encodeRole(o, v); });
}

template <class Out>
void encodeProduct(const Out& out, const OstrelData::Product& in)
{
    const auto my = addElement(out, tag::product);
    addInt(my, tag::product, in.product());
    addText(my, tag::description, in.description());
    PairMapRule<InitMapMapTraits>::toXML(my, in.productInit());
    const auto roles = addElement(my, tag::roles);
    in.forEachRole([&roles](const OstrelData::Role& role, const OstrelData::PRStatus& status) {
        encodeRole(roles, role, status);
    });
    const auto permissions = addElement(my, tag::permissions);
    in.forEachPermission([&permissions](const OstrelData::Permission& permission, const OstrelData::PRStatus& status) {
        encodePermission(permissions, permission, status);
    });
}

template <class Out>
void encodeProductMap(const Out& out, const OstrelData::ProductMap& in)
{
    writeMapWith(out, in, tag::products, [](const auto& o, const OstrelData::Product& v) { encodeProduct(o, v); });
}

template <class Out>
void encodeProfile(const Out& out, const OstrelData::Profile& in)
{
    const auto my = addElement(out, tag::profile);
    addText(my, tag::profile, in.profile());
    PairMapRule<ProductInitMapTraits>::toXML(my, in.products());
}

template <class Out>
void encodeSession(const Out& out, const OstrelData::Session& in)
{
    const auto my = addElement(out, tag::session);
    addText(my, tag::sessionid, in.str());
}

template <class Out>
void encodeSessionString(const Out& out, const OstrelData::Session& in)
{
    encodeSession(addElement(out, tag::sessionstring), in);
}

template <class Out>
void encodeCustomer(const Out& out, const OstrelData::Customer& in, bool bRecursive)
{
    const auto my = addElement(out, tag::customer);
    addText(my, tag::customer, in.customer());
    addText(my, tag::name, in.name());
    if constexpr (isDocument<Out>) {
        if (bRecursive) {
            Factory::DomainPtrMap::toXML(my, in.domains(), false);
            Factory::TeamPtrMap::toXML(my, in.teams(), false);
        }
    } else if (bRecursive) {
        throw std::logic_error("text encoder: a customer with its domains and teams");
    }
}

template <class Out>
void encodeDomain(const Out& out, const OstrelData::Domain& in)
{
    const auto my = addElement(out, tag::domain);
    encodeCustomer(my, *in.customer(), false);
    addText(my, tag::domain, in.domain());
    addText(my, tag::description, in.description());
}

template <class Out>
void encodeTeam(const Out& out, const OstrelData::Team& in, bool bRecursive)
{
    const auto my = addElement(out, tag::team);
    addInt(my, tag::team, in.team());
    encodeCustomer(my, in.customer(), false);
    addText(my, tag::name, in.name());
    if constexpr (isDocument<Out>) {
        if (bRecursive) {
            Factory::TeamMemberMap::toXML(my, in.members(), false);
            encodeProductMap(my, in.products());
        }
    } else if (bRecursive) {
        throw std::logic_error("text encoder: a team with its members");
    }
}

template <class Out>
void encodeTeamMap(const Out& out, const OstrelData::TeamMap& in)
{
    writeMapWith(out, in, tag::teams, [](const auto& o, const OstrelData::Team& v) { encodeTeam(o, v, false); });
}

template <class Out>
void encodeUser(const Out& out, const OstrelData::User& in)
{
    const auto my = addElement(out, tag::user);
    encodeDomain(my, in.domain());
    addText(my, tag::userid, in.userId());
    addText(my, tag::name, in.name());
    try {
        addText(my, tag::authenticationtoken, in.authenticationToken());
    } catch (const OstrelData::Exception&) {
        // A user whose token cannot be read travels without it.
    } catch (...) {
        OSTREL_RAISE(OstrelData::nNAX_UNKNOWN, "Unknown Error.");
    }
    addText(my, tag::contact, in.contact());
    encodeTeamMap(my, in.teams());
    encodeProductMap(my, in.products());
}

template <class Out>
void encodeAuthenticatedUser(const Out& out, const OstrelData::AuthenticatedUser& in)
{
    const auto my = addElement(out, tag::authenticateduser);
    encodeUser(my, in);
    encodeSessionString(my, in.session());
    // A profile without a name could not be read back (its name is required);
    // left out, it reads as the empty profile it is.
    if (!in.profile().profile().empty()) encodeProfile(my, in.profile());
}

} // namespace

// ---- Exception ------------------------------------------------------------

void Factory::Exception::toXML(XMLNode* pnode, const OstrelData::Exception& in, bool)
{
    XMLNode* pmy = addElement(pnode, tag::exception);
    addText(pmy, tag::file, in.file());
    addInt(pmy, tag::line, in.line());
    addInt(pmy, tag::errorcode, in.errorCode());
    addText(pmy, tag::legend, in.legend());
    addText(pmy, tag::remote, in.remote() ? "y" : "n");
}

OstrelData::Exception Factory::Exception::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, tag::exception, "Not an exception node.");
    TextChild file = requiredValue(pnode, tag::file, "No file node in Exception.");
    TextChild line = requiredValue(pnode, tag::line, "No line node in Exception.");
    int nLine = line.number();
    if (nLine == 0) malformed("No line node in Exception.");
    TextChild errorcode = requiredValue(pnode, tag::errorcode, "No errorcode node in Exception.");
    int nErrorCode = errorcode.number();
    if (nErrorCode == 0) malformed("No errorcode node in Exception.");
    // Many failures carry no details, and an empty legend travels as an empty
    // element: refusing it would report malformed XML instead of the failure.
    TextChild legend = requiredText(pnode, tag::legend, "No legend node in Exception.");
    return OstrelData::Exception(file.text(), nLine, nErrorCode, legend.text(), true);
}

// ---- Users and sessions ------------------------------------------------------

void Factory::AuthenticatedUser::toXML(XMLNode* pnode, const OstrelData::AuthenticatedUser& in, bool)
{
    encodeAuthenticatedUser(pnode, in);
}

OstrelData::AuthenticatedUser Factory::AuthenticatedUser::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, tag::authenticateduser, "Not an authenticateduser node.");
    const XMLNode* puser = required(pnode, tag::user, "No user node in AuthenticatedUser.");
    const XMLNode* psession = required(pnode, tag::sessionstring, "No session node in AuthenticatedUser.");
    const XMLNode* pprofile = pnode->findChild(tag::profile);

    OstrelData::User user = User::fromXML(puser);
    OstrelData::SessionString session = SessionString::fromXML(psession);
    OstrelData::Profile profile = pprofile != nullptr ? Profile::fromXML(pprofile) : OstrelData::Profile("", false);
    return OstrelData::AuthenticatedUser(user, session, profile);
}

void Factory::AuthenticatedUserMap::toXML(XMLNode* pnode, const OstrelDataXML::AuthenticatedUserMap& in, bool)
{
    writeMap<AuthenticatedUser>(pnode, in, tag::authenticatedusers);
}

OstrelDataXML::AuthenticatedUserMap Factory::AuthenticatedUserMap::fromXML(const XMLNode* pnode)
{
    return readMap<OstrelDataXML::AuthenticatedUserMap, AuthenticatedUser>(pnode, tag::authenticatedusers, tag::authenticateduser, "Not an authenticatedusers node.");
}

void Factory::User::toXML(XMLNode* pnode, const OstrelData::User& in, bool)
{
    encodeUser(pnode, in);
}

OstrelData::User Factory::User::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, tag::user, "Not a user node.");
    const XMLNode* pdomain = required(pnode, tag::domain, "No domain node in User.");
    TextChild userid = requiredValue(pnode, tag::userid, "No userid node in User.");
    TextChild name = requiredText(pnode, tag::name, "No name node in User.");
    TextChild token(pnode, tag::authenticationtoken);
    TextChild contact = requiredText(pnode, tag::contact, "No contact node in User.");
    const XMLNode* pteams = pnode->findChild(tag::teams);
    const XMLNode* pproducts = pnode->findChild(tag::products);

    OstrelData::Domain domain = Domain::fromXML(pdomain);
    const OstrelData::Domain& domainCached =
        t_panchors != nullptr ? t_panchors->domain(domain) : storeInPlace(_domainS, domain.domain(), domain);
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
    writeMap<User>(pnode, in, tag::users);
}

OstrelData::UserMap Factory::UserMap::fromXML(const XMLNode* pnode)
{
    return readMap<OstrelData::UserMap, User>(pnode, tag::users, tag::user, "Not a users node.");
}

void Factory::Session::toXML(XMLNode* pnode, const OstrelData::Session& in, bool)
{
    encodeSession(pnode, in);
}

OstrelData::Session Factory::Session::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, tag::session, "Not a sessionstring node.");
    TextChild sessionid = requiredValue(pnode, tag::sessionid, "No sessionid node in SessionString.");
    return OstrelData::Session(sessionid.text());
}

void Factory::SessionString::toXML(XMLNode* pnode, const OstrelData::Session& in, bool)
{
    encodeSessionString(pnode, in);
}

OstrelData::SessionString Factory::SessionString::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, tag::sessionstring, "Not a sessionstring node.");
    const XMLNode* psession = required(pnode, tag::session, "No session node in SessionString.");
    return OstrelData::SessionString(Session::fromXML(psession).str());
}

// ---- Profiles -----------------------------------------------------------------

void Factory::Profile::toXML(XMLNode* pnode, const OstrelData::Profile& in, bool)
{
    encodeProfile(pnode, in);
}

OstrelData::Profile Factory::Profile::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, tag::profile, "Not a profile node.");
    TextChild name = requiredValue(pnode, tag::profile, "No profile node in Profile.");
    const XMLNode* pproducts = pnode->findChild(tag::productinitmap);

    OstrelData::Profile profile(name.text(), false);
    if (pproducts != nullptr) profile.setProducts(ProductInitMap::fromXML(pproducts));
    return profile;
}

void Factory::ProfileMap::toXML(XMLNode* pnode, const OstrelData::ProfileMap& in, bool)
{
    writeMap<Profile>(pnode, in, tag::profiles);
}

OstrelData::ProfileMap Factory::ProfileMap::fromXML(const XMLNode* pnode)
{
    return readMap<OstrelData::ProfileMap, Profile>(pnode, tag::profiles, tag::profile, "Not a profiles node.");
}

// ---- Organisation -------------------------------------------------------------

void Factory::Domain::toXML(XMLNode* pnode, const OstrelData::Domain& in, bool)
{
    encodeDomain(pnode, in);
}

OstrelData::Domain Factory::Domain::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, tag::domain, "Not a domain node.");
    const XMLNode* pcustomer = required(pnode, tag::customer, "No customer node in Domain.");
    TextChild name = requiredValue(pnode, tag::domain, "No domain node in Domain.");
    TextChild description(pnode, tag::description);

    OstrelData::Customer customer = Customer::fromXML(pcustomer);
    const OstrelData::Customer& customerCached = t_panchors != nullptr
                                                     ? t_panchors->customer(customer)
                                                     : storeInPlace(_customerS, customer.customer(), customer);
    OstrelData::Domain domain(customerCached, name.text());
    domain.setDescription(description.text());
    return domain;
}

void Factory::DomainMap::toXML(XMLNode* pnode, const OstrelData::DomainMap& in, bool)
{
    writeMap<Domain>(pnode, in, tag::domains);
}

OstrelData::DomainMap Factory::DomainMap::fromXML(const XMLNode* pnode)
{
    return readMap<OstrelData::DomainMap, Domain>(pnode, tag::domains, tag::domain, "Not a domains node.");
}

void Factory::DomainPtrMap::toXML(XMLNode* pnode, const OstrelData::DomainPtrMap& in, bool)
{
    writeMap<Domain>(pnode, in, tag::domainptrs);
}

OstrelData::DomainPtrMap Factory::DomainPtrMap::fromXML(const XMLNode* pnode)
{
    return readPointerMap<OstrelData::DomainPtrMap, Domain>(pnode, t_panchors != nullptr ? t_panchors->domains() : OstrelData::Factory::domains(), tag::domainptrs, tag::domain,
                                  "Not a domainptrs node.");
}

void Factory::Customer::toXML(XMLNode* pnode, const OstrelData::Customer& in, bool bRecursive)
{
    encodeCustomer(pnode, in, bRecursive);
}

OstrelData::Customer Factory::Customer::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, tag::customer, "Not a customer node.");
    TextChild id = requiredValue(pnode, tag::customer, "No customer node in Customer.");
    TextChild name(pnode, tag::name);
    const XMLNode* pdomains = pnode->findChild(tag::domainptrs);
    const XMLNode* pteams = pnode->findChild(tag::teamptrs);

    OstrelData::Customer customer(id.text(), name.text());
    if (pdomains != nullptr) customer.domains() = DomainPtrMap::fromXML(pdomains);
    if (pteams != nullptr) customer.teams() = TeamPtrMap::fromXML(pteams);
    return customer;
}

void Factory::CustomerMap::toXML(XMLNode* pnode, const OstrelData::CustomerMap& in, bool)
{
    writeMap<Customer>(pnode, in, tag::customers);
}

OstrelData::CustomerMap Factory::CustomerMap::fromXML(const XMLNode* pnode)
{
    return readMap<OstrelData::CustomerMap, Customer>(pnode, tag::customers, tag::customer, "Not a customers node.");
}

void Factory::Team::toXML(XMLNode* pnode, const OstrelData::Team& in, bool bRecursive)
{
    encodeTeam(pnode, in, bRecursive);
}

OstrelData::Team Factory::Team::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, tag::team, "Not a team node.");
    TextChild number = requiredValue(pnode, tag::team, "No team node in Team.");
    const XMLNode* pcustomer = required(pnode, tag::customer, "No customer node in Team.");
    TextChild name = requiredValue(pnode, tag::name, "No name node in Team.");
    const XMLNode* pmembers = pnode->findChild(tag::teammembers);
    const XMLNode* pproducts = pnode->findChild(tag::products);

    int nTeam = number.number();
    OstrelData::Customer customer = Customer::fromXML(pcustomer);
    const OstrelData::Customer& customerCached = t_panchors != nullptr
                                                     ? t_panchors->customer(customer)
                                                     : storeInPlace(_customerS, customer.customer(), customer);
    OstrelData::Team team(customerCached, nTeam, "");
    team.setName(name.text());
    if (pmembers != nullptr) team.members() = TeamMemberMap::fromXML(pmembers);
    if (pproducts != nullptr) team.products() = ProductMap::fromXML(pproducts);
    if (t_panchors != nullptr)
        t_panchors->team(team);
    else
        storeInPlace(_teamS, nTeam, team);
    return team;
}

void Factory::TeamMap::toXML(XMLNode* pnode, const OstrelData::TeamMap& in, bool)
{
    encodeTeamMap(pnode, in);
}

OstrelData::TeamMap Factory::TeamMap::fromXML(const XMLNode* pnode)
{
    return readMap<OstrelData::TeamMap, Team>(pnode, tag::teams, tag::team, "Not a teams node.");
}

void Factory::TeamPtrMap::toXML(XMLNode* pnode, const OstrelData::TeamPtrMap& in, bool)
{
    writeMap<Team>(pnode, in, tag::teamptrs);
}

OstrelData::TeamPtrMap Factory::TeamPtrMap::fromXML(const XMLNode* pnode)
{
    return readPointerMap<OstrelData::TeamPtrMap, Team>(pnode, t_panchors != nullptr ? t_panchors->teams() : OstrelData::Factory::teams(), tag::teamptrs, tag::team,
                                  "Not a teamptrs node.");
}

void Factory::TeamMember::toXML(XMLNode* pnode, const OstrelData::TeamMember& in, bool)
{
    XMLNode* pmy = addElement(pnode, tag::teammember);
    User::toXML(pmy, in, false);
    addText(pmy, tag::islead, in.isLead() ? "Y" : "N");
}

OstrelData::TeamMember Factory::TeamMember::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, tag::teammember, "Not a team member node.");
    const XMLNode* puser = required(pnode, tag::user, "No user node in TeamMember.");
    TextChild lead = requiredValue(pnode, tag::islead, "No islead node in TeamMember.");
    return OstrelData::TeamMember(User::fromXML(puser), lead.text() == "Y");
}

void Factory::TeamMemberMap::toXML(XMLNode* pnode, const OstrelData::TeamMemberMap& in, bool)
{
    writeMap<TeamMember>(pnode, in, tag::teammembers);
}

OstrelData::TeamMemberMap Factory::TeamMemberMap::fromXML(const XMLNode* pnode)
{
    return readMap<OstrelData::TeamMemberMap, TeamMember>(pnode, tag::teammembers, tag::teammember, "Not a teammembers node.");
}

// ---- Product catalogue --------------------------------------------------------

void Factory::Permission::toXML(XMLNode* pnode, const OstrelData::Permission& in, bool)
{
    encodePermission(pnode, in);
}

namespace {

const Vesk::String g_permissionChildS[] = {tag::permission, tag::description, tag::status};

// pnode is known to be named "permission": found by that name, or checked.
template <class PlaceFn>
void readPermission(const XMLNode* pnode, PlaceFn place)
{
    const Children<3> childS(pnode, g_permissionChildS);
    TextChild number = requiredValue(childS.text(0), "No permission node in Permission.");
    TextChild status = requiredValue(childS.text(2), "No status node in Permission.");
    TextChild description = childS.text(1);

    OstrelData::Permission& permission = place(OstrelData::Permission(number.number(), "", OstrelData::PRStatus()));
    if (description.hasValue()) permission.setDescription(description.text());
    permission.setStatus(OstrelData::PRStatus::fromInt(status.number()));
}

} // namespace

OstrelData::Permission Factory::Permission::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, tag::permission, "Not a permission node.");
    return readValue<OstrelData::Permission>(pnode, [](const XMLNode* p, auto place) { readPermission(p, place); });
}

void Factory::PermissionMap::toXML(XMLNode* pnode, const OstrelData::PermissionMap& in, bool)
{
    encodePermissionMap(pnode, in);
}

OstrelData::PermissionMap Factory::PermissionMap::fromXML(const XMLNode* pnode)
{
    return readMapInPlace<OstrelData::PermissionMap>(pnode, tag::permissions, tag::permission, "Not a permissions node.",
                                                     [](const XMLNode* p, auto place) { readPermission(p, place); });
}

void Factory::Product::toXML(XMLNode* pnode, const OstrelData::Product& in, bool)
{
    encodeProduct(pnode, in);
}

namespace {

const Vesk::String g_productChildS[] = {tag::product, tag::description, tag::initmapmap, tag::roles, tag::permissions};

// pnode is known to be named "product": found by that name, or checked.
template <class PlaceFn>
void readProduct(const XMLNode* pnode, PlaceFn place)
{
    const Children<5> childS(pnode, g_productChildS);
    TextChild number = requiredValue(childS.text(0), "No product node in Product.");
    TextChild description = requiredText(childS.text(1), "No description node in Product.");
    const XMLNode* pinit = childS[2];
    const XMLNode* proles = childS[3];
    const XMLNode* ppermissions = childS[4];

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
    expectElement(pnode, tag::product, "Not a product node.");
    return readValue<OstrelData::Product>(pnode, [](const XMLNode* p, auto place) { readProduct(p, place); });
}

void Factory::ProductMap::toXML(XMLNode* pnode, const OstrelData::ProductMap& in, bool)
{
    encodeProductMap(pnode, in);
}

OstrelData::ProductMap Factory::ProductMap::fromXML(const XMLNode* pnode)
{
    return readMapInPlace<OstrelData::ProductMap>(pnode, tag::products, tag::product, "Not a products node.",
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
    encodeRole(pnode, in);
}

namespace {

const Vesk::String g_roleChildS[] = {tag::role, tag::description, tag::status, tag::permissions};

// pnode is known to be named "role": found by that name, or checked.
template <class PlaceFn>
void readRole(const XMLNode* pnode, PlaceFn place)
{
    const Children<4> childS(pnode, g_roleChildS);
    TextChild number = requiredValue(childS.text(0), "No role node in Role.");
    TextChild description = requiredText(childS.text(1), "No description node in Role.");
    TextChild status = requiredValue(childS.text(2), "No status node in Role.");
    const XMLNode* ppermissions = childS[3];

    OstrelData::Role& role = place(OstrelData::Role(number.number(), "", OstrelData::PRStatus()));
    if (description.hasValue()) role.setDescription(description.text());
    role.setStatus(OstrelData::PRStatus::fromInt(status.number()));
    // Most roles carry none: an empty map is what place() starts the role with.
    if (ppermissions != nullptr && ppermissions->nextChild() != nullptr)
        role.permissions() = Factory::PermissionMap::fromXML(ppermissions);
}

} // namespace

OstrelData::Role Factory::Role::fromXML(const XMLNode* pnode)
{
    expectElement(pnode, tag::role, "Not a role node.");
    return readValue<OstrelData::Role>(pnode, [](const XMLNode* p, auto place) { readRole(p, place); });
}

void Factory::RoleMap::toXML(XMLNode* pnode, const OstrelData::RoleMap& in, bool)
{
    encodeRoleMap(pnode, in);
}

OstrelData::RoleMap Factory::RoleMap::fromXML(const XMLNode* pnode)
{
    return readMapInPlace<OstrelData::RoleMap>(pnode, tag::roles, tag::role, "Not a roles node.",
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

// ---- Replies straight as text --------------------------------------------------

std::string encoding::responseText(const std::string& strResponse, const OstrelData::AuthenticatedUser& user)
{
    // The attribute's value is written as it is: it must need no escape.
    for (char ch : strResponse)
        if (!((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z')))
            throw std::invalid_argument("responseText: a response name of letters only");
    static const std::string s_strRoot("ostrelservice");
    std::string strText;
    TextWriter writer(strText);
    encodeAuthenticatedUser(writer.root(s_strRoot, "response", strResponse), user);
    writer.finish();
    return strText;
}

// ---- Decoding without filing -----------------------------------------------

decoding::Anchors::~Anchors() = default;

const OstrelData::Customer& decoding::LocalAnchors::customer(const OstrelData::Customer& decoded)
{
    return storeInPlace(_customerS, decoded.customer(), decoded);
}

const OstrelData::Domain& decoding::LocalAnchors::domain(const OstrelData::Domain& decoded)
{
    return storeInPlace(_domainS, decoded.domain(), decoded);
}

void decoding::LocalAnchors::team(const OstrelData::Team&) {}

OstrelData::DomainMap& decoding::LocalAnchors::domains()
{
    return OstrelData::Factory::domains();
}

OstrelData::TeamMap& decoding::LocalAnchors::teams()
{
    return OstrelData::Factory::teams();
}

decoding::Scope::Scope(Anchors& anchors) : _pprevious(t_panchors)
{
    t_panchors = &anchors;
}

decoding::Scope::~Scope()
{
    t_panchors = _pprevious;
}

} // namespace OstrelDataXML
