#include "Vesk/XMLDoc.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string_view>
#include <strings.h>
#include <unordered_set>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define VESK_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define VESK_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define VESK_POISON(p, n) ((void)(p), (void)(n))
#define VESK_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace Vesk {

XMLException::XMLException(const std::string& strWhat, long nOffset)
    : std::runtime_error(strWhat), _nOffset(nOffset) {}

namespace {

// Comments, processing instructions and formatting whitespace are dropped;
// the declaration is kept so a parsed document writes it back. A text child
// that is only whitespace is kept when it is the element's only child, so
// values made of blanks survive a round trip.
constexpr unsigned int kParseFlags =
    (pugi::parse_default | pugi::parse_declaration | pugi::parse_ws_pcdata_single) & ~pugi::parse_doctype;

constexpr bool isNameStart(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

constexpr bool isNameChar(unsigned char c)
{
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// Every element written goes through checkName, so the character classes are
// looked up rather than worked out; the table is made by the compiler.
struct NameClasses {
    enum : unsigned char { kStart = 1, kChar = 2 };
    unsigned char classOf[256];
    constexpr NameClasses() : classOf()
    {
        for (int c = 0; c < 256; ++c)
            classOf[c] = static_cast<unsigned char>((isNameStart(static_cast<unsigned char>(c)) ? kStart : 0) |
                                                    (isNameChar(static_cast<unsigned char>(c)) ? kChar : 0));
    }
};
constexpr NameClasses g_nameClasses;

[[noreturn]] __attribute__((noinline, cold)) void refuseName(const String& strName, const char* pszWhat)
{
    throw XMLException(std::string("Invalid XML ") + pszWhat + " name '" + strName.str() + "'");
}

// Writing a name the parser would refuse would give text nobody can read back.
void checkName(const String& strName, const char* pszWhat)
{
    const std::string& str = strName.str();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(str.data());
    const unsigned char* pEnd = p + str.size();
    if (p == pEnd || !(g_nameClasses.classOf[*p] & NameClasses::kStart))
        refuseName(strName, pszWhat);
    // Names are short: every character is looked at, with no branch per character.
    unsigned char nClasses = NameClasses::kChar;
    while (++p < pEnd)
        nClasses &= g_nameClasses.classOf[*p];
    if (!(nClasses & NameClasses::kChar))
        refuseName(strName, pszWhat);
}

// Element names never hold a NUL, so a wanted name with one matches nothing.
bool holdsNul(const std::string& str)
{
    return std::memchr(str.data(), '\0', str.size()) != nullptr;
}

// Whether an element's name is str. Readers look children up by name thousands of times in a
// large document, so the names are compared here rather than through a library call or two a
// child; the loop stops at the end of either, so a wanted name holding a NUL matches nothing and
// no name is read past its end.
inline bool sameName(const char* pszName, const std::string& str)
{
    const char* pWanted = str.data();
    const size_t n = str.size();
    size_t i = 0;
    while (i < n && pszName[i] != '\0' && pszName[i] == pWanted[i])
        ++i;
    return i == n && pszName[i] == '\0';
}

// The parser's text setters stop at a NUL, which would cut a value short.
void checkValue(const String& strValue)
{
    if (holdsNul(strValue.str()))
        throw XMLException("XML value contains a NUL byte");
}

// Where "<!DOCTYPE" first occurs in str, or npos. A '!' is rare in XML text,
// so looking for it first passes over most of the text quickly.
size_t findDoctype(const std::string& str)
{
    static constexpr char kRest[] = "DOCTYPE";
    const char* pBegin = str.data();
    const char* pEnd = pBegin + str.size();
    for (const char* p = pBegin; p < pEnd; ++p) {
        p = static_cast<const char*>(std::memchr(p, '!', static_cast<size_t>(pEnd - p)));
        if (p == nullptr)
            break;
        if (p > pBegin && p[-1] == '<' && static_cast<size_t>(pEnd - p - 1) >= sizeof(kRest) - 1 &&
            std::memcmp(p + 1, kRest, sizeof(kRest) - 1) == 0)
            return static_cast<size_t>(p - 1 - pBegin);
    }
    return std::string::npos;
}

bool isLatin1(const char* psz)
{
    for (const char* pszName : {"ISO-8859-1", "ISO8859-1", "latin1", "latin-1"})
        if (strcasecmp(psz, pszName) == 0)
            return true;
    return false;
}

bool isDeclarationToken(const std::string& str, bool bAllowLetters)
{
    if (str.empty())
        return false;
    for (char c : str) {
        bool bLetter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        bool bOther = (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        if (!(bOther || (bAllowLetters && bLetter)))
            return false;
    }
    return true;
}

bool isText(pugi::xml_node_type type)
{
    return type == pugi::node_pcdata || type == pugi::node_cdata;
}

// The name of an attribute given twice on node, or null when there is none.
// Which of the two would a reader believe?
const char* repeatedAttribute(pugi::xml_node node)
{
    pugi::xml_attribute first = node.first_attribute();
    if (!first || !first.next_attribute())
        return nullptr;
    // Most elements carry a handful of attributes, compared pairwise; a hostile
    // element with thousands goes through a set, so the check stays linear.
    constexpr size_t nPairwiseMost = 16;
    std::vector<const char*> nameS;
    for (pugi::xml_attribute attr = first; attr; attr = attr.next_attribute()) {
        const char* pszName = attr.name();
        if (nameS.size() == nPairwiseMost) {
            std::unordered_set<std::string_view> seenS(nameS.begin(), nameS.end());
            for (; attr; attr = attr.next_attribute())
                if (!seenS.insert(attr.name()).second)
                    return attr.name();
            return nullptr;
        }
        for (const char* pszSeen : nameS)
            if (std::strcmp(pszSeen, pszName) == 0)
                return pszName;
        nameS.push_back(pszName);
    }
    return nullptr;
}

// Whether text may be parsed where it lies: UTF-8 text, the same either way. Text
// the parser converts from another encoding is copied as it converts, and its
// offsets are then counted in the converted text, so the text given is kept to.
bool readsInPlace(const std::string& str)
{
    // A byte order mark, or no text at all: left to the parser's own way.
    if (str.empty() || static_cast<unsigned char>(str[0]) >= 0x80)
        return false;
    if (str.compare(0, 5, "<?xml") != 0)
        return true;
    const size_t nEnd = str.find("?>");
    const size_t nEncoding = str.find("encoding", 5);
    if (nEncoding == std::string::npos || (nEnd != std::string::npos && nEncoding > nEnd))
        return true;
    const size_t nQuote = str.find_first_of("'\"", nEncoding);
    return nQuote != std::string::npos && nQuote + 6 < str.size() &&
           strncasecmp(str.c_str() + nQuote + 1, "UTF-8", 5) == 0 && str[nQuote + 6] == str[nQuote];
}

// Walks a whole parsed or copied tree in document order, through the parser's
// own traversal (one call per node), making the element nodes as it goes.
class TreeWalker : public pugi::xml_tree_walker {
public:
    TreeWalker(XMLDocImpl& impl, bool bCheck) : _impl(impl), _bCheck(bCheck) {}

    bool for_each(pugi::xml_node& node) override;

    std::string _strProblem;
    long _nOffset = -1;

private:
    bool fail(const pugi::xml_node& node, const std::string& strProblem)
    {
        _nOffset = static_cast<long>(node.offset_debug());
        _strProblem = strProblem;
        return false;
    }

    XMLDocImpl& _impl;
    bool _bCheck;
    // The last element met at each depth; depth 0 (the document) has none.
    std::vector<XMLNode*> _openS{nullptr};
};

// Room for one node.
struct alignas(XMLNode) NodeSlot {
    unsigned char bytes[sizeof(XMLNode)];
};

// Full-size node chunks kept from destroyed documents for the next ones: a
// service reads and writes a large document or two per request, and their
// nodes then cost no allocation, and no memory handed back to the system only
// to be asked for again at once. At most kMostKept chunks are kept, shared by
// all threads.
class NodeChunkPool {
public:
    static constexpr size_t kSlots = 256;    // nodes in a chunk
    static constexpr size_t kMostKept = 64;  // 1 MiB of nodes

    static std::unique_ptr<NodeSlot[]> take()
    {
        NodeChunkPool& pool = instance();
        {
            std::lock_guard<std::mutex> lock(pool._mx);
            if (!pool._freeS.empty()) {
                std::unique_ptr<NodeSlot[]> pslotS = std::move(pool._freeS.back());
                pool._freeS.pop_back();
                VESK_UNPOISON(pslotS.get(), sizeof(NodeSlot) * kSlots);
                return pslotS;
            }
        }
        return std::unique_ptr<NodeSlot[]>(new NodeSlot[kSlots]);
    }

    // A chunk that is not kept is freed outside the lock.
    static void give(std::unique_ptr<NodeSlot[]> pslotS)
    {
        NodeChunkPool& pool = instance();
        std::lock_guard<std::mutex> lock(pool._mx);
        if (pool._freeS.size() < kMostKept) {
            // A node pointer kept past its document is caught in sanitizer builds.
            VESK_POISON(pslotS.get(), sizeof(NodeSlot) * kSlots);
            pool._freeS.push_back(std::move(pslotS));
        }
    }

private:
    // Never destroyed: documents destroyed at exit still give their chunks back.
    static NodeChunkPool& instance()
    {
        static NodeChunkPool* s_ppool = new NodeChunkPool;
        return *s_ppool;
    }

    std::mutex _mx;  // guards _freeS
    std::vector<std::unique_ptr<NodeSlot[]>> _freeS;
};

// What one element adds to the text besides its name and value: brackets, the
// end of its line and the indentation of an element a few levels down.
constexpr size_t kLineLengthGuess = 24;
constexpr size_t kDeclarationLength = 64;

class StringWriter : public pugi::xml_writer {
public:
    void write(const void* pData, size_t nSize) override { _str.append(static_cast<const char*>(pData), nSize); }
    std::string _str;
};

} // namespace

// Owns the parser's document and an XMLNode for each of its elements, linked
// as the elements are, so an element keeps the same XMLNode* for the life of
// the tree and walks and reads stay inside this library. Every change to the
// tree goes through XMLNode, which keeps both trees in step; elements are
// never removed one by one.
//
// Nothing here is locked. The nodes are all made when the tree is (parsed,
// copied or added to), never while it is read, so readers write nothing.
struct XMLDocImpl {
    pugi::xml_document doc;
    XMLNode* proot = nullptr;
    // About how long the text of the document is, so that stream() makes its
    // buffer once instead of copying it through a series of larger ones.
    size_t nTextLengthHint = 0;
    // The text the parser read in place, when it was handed over to be kept: the
    // parser's names and values point into it.
    std::string strText;

    XMLDocImpl() = default;
    XMLDocImpl(const XMLDocImpl&) = delete;
    XMLDocImpl& operator=(const XMLDocImpl&) = delete;
    ~XMLDocImpl()
    {
        for (Chunk& chunk : _chunkS)
            for (size_t i = 0; i < chunk.nUsed; ++i)
                chunk.node(i)->~XMLNode();
    }

    // Room for one more node, made before the parser's tree changes so that
    // addNode cannot fail and leave an element without its node.
    void makeRoom()
    {
        if (_chunkS.empty() || _chunkS.back().nUsed == _chunkS.back().nSize)
            _chunkS.push_back(
                Chunk{_chunkS.empty() ? kMinChunk : std::min(2 * _chunkS.back().nSize, kMaxChunk)});
    }

    // A node for element, appended to pparent's children (the root when pparent is null).
    XMLNode* addNode(pugi::xml_node element, XMLNode* pparent) { return addNode(element, element.name(), pparent); }
    // The same, given the element's name as the parser holds it.
    XMLNode* addNode(pugi::xml_node element, const char* pszName, XMLNode* pparent)
    {
        makeRoom();
        Chunk& chunk = _chunkS.back();
        XMLNode* pnode = new (chunk.pslotS[chunk.nUsed].bytes) XMLNode;
        ++chunk.nUsed;
        pnode->_pdoc = this;
        pnode->_pnode = element.internal_object();
        pnode->_pszName = pszName;
        pnode->_pparent = pparent;
        if (pparent == nullptr)
            proot = pnode;
        else if (pparent->_plastChild == nullptr)
            pparent->_pfirstChild = pparent->_plastChild = pnode;
        else
            pparent->_plastChild = pparent->_plastChild->_pnext = pnode;
        return pnode;
    }

    // Makes the nodes of a tree that came whole from text or from another
    // document. With bCheck, refuses, in document order, what the parser lets
    // through but a reader must not have to guess about: elements nested
    // deeper than XMLDoc::nMaxDepth, and an attribute given twice.
    void addTree(bool bCheck)
    {
        TreeWalker walker(*this, bCheck);
        if (!doc.traverse(walker))
            throw XMLException("Malformed XML at offset " + std::to_string(walker._nOffset) + ": " +
                                   walker._strProblem,
                               walker._nOffset);
    }

    // The text of an element is its first text or CDATA child's.
    static void noteText(XMLNode* pnode, const char* pszText)
    {
        if (pnode->_pszValue == nullptr)
            pnode->_pszValue = pszText;
    }

    static pugi::xml_node node(const XMLNode* pnode)
    {
        return pugi::xml_node(static_cast<pugi::xml_node_struct*>(pnode->_pnode));
    }

    // The first child of pnode after pAfter, or its first child when pAfter is
    // null. Null when pAfter is no child of pnode.
    static XMLNode* firstAfter(const XMLNode* pnode, const XMLNode* pAfter)
    {
        if (pAfter == nullptr)
            return pnode->_pfirstChild;
        return pAfter->_pparent == pnode ? pAfter->_pnext : nullptr;
    }

private:
    // Nodes live in chunks that never move; small documents take little room,
    // large ones few chunks, mostly from the pool.
    static constexpr size_t kMinChunk = 16;
    static constexpr size_t kMaxChunk = NodeChunkPool::kSlots;

    struct Chunk {
        explicit Chunk(size_t nSizeIn)
            : pslotS(nSizeIn == kMaxChunk ? NodeChunkPool::take() : std::unique_ptr<NodeSlot[]>(new NodeSlot[nSizeIn])),
              nSize(nSizeIn)
        {
        }
        Chunk(Chunk&&) = default;
        Chunk& operator=(Chunk&&) = default;
        ~Chunk()
        {
            if (pslotS && nSize == kMaxChunk)
                NodeChunkPool::give(std::move(pslotS));
        }
        XMLNode* node(size_t i) { return std::launder(reinterpret_cast<XMLNode*>(pslotS[i].bytes)); }

        std::unique_ptr<NodeSlot[]> pslotS;
        size_t nSize;
        size_t nUsed = 0;
    };
    std::vector<Chunk> _chunkS;  // every node of the document
};

bool TreeWalker::for_each(pugi::xml_node& node)
{
    // depth() counts from 0 for the document's own children, so the root is 1 deep.
    size_t nDepth = static_cast<size_t>(depth()) + 1;
    const char* pszName = node.name();
    // Below the top the parser keeps elements, which have names, and text,
    // which has none; the top may also hold the declaration.
    bool bElement = nDepth == 1 ? node.type() == pugi::node_element : *pszName != '\0';
    if (bElement) {
        if (_bCheck) {
            if (nDepth > static_cast<size_t>(XMLDoc::nMaxDepth))
                return fail(node, "elements nested deeper than " + std::to_string(XMLDoc::nMaxDepth));
            if (const char* pszRepeated = repeatedAttribute(node))
                return fail(node, std::string("attribute '") + pszRepeated + "' given twice");
        }
        XMLNode* pnode = _impl.addNode(node, pszName, _openS[nDepth - 1]);
        if (_openS.size() == nDepth)
            _openS.push_back(pnode);
        else
            _openS[nDepth] = pnode;
    } else if (nDepth > 1) {
        XMLDocImpl::noteText(_openS[nDepth - 1], node.value());
    }
    return true;
}

// ---- XMLNode -------------------------------------------------------------

XMLNode* XMLNode::addNode(const String& strName, const String& strValue)
{
    checkName(strName, "element");
    checkValue(strValue);
    _pdoc->makeRoom();
    pugi::xml_node me = XMLDocImpl::node(this);
    pugi::xml_node child = me.append_child(strName.c_str());
    if (!child)
        throw XMLException("Cannot add element '" + strName.str() + "'");
    const char* pszText = nullptr;
    if (strValue.length() > 0) {
        pugi::xml_node text = child.append_child(pugi::node_pcdata);
        if (!text || !text.set_value(strValue.c_str(), strValue.length())) {
            me.remove_child(child);
            throw XMLException("Cannot add element '" + strName.str() + "' with its text");
        }
        pszText = text.value();
    }
    XMLNode* pchild = _pdoc->addNode(child, this);
    pchild->_pszValue = pszText;
    // The tags, the text, a line of its own and some indentation.
    _pdoc->nTextLengthHint += 2 * strName.length() + strValue.length() + kLineLengthGuess;
    return pchild;
}

String XMLNode::attribute(const String& strName) const
{
    pugi::xml_attribute attr = XMLDocImpl::node(this).attribute(strName.c_str());
    return String(attr ? attr.value() : "");
}

void XMLNode::attribute(const String& strName, const String& strValue)
{
    checkName(strName, "attribute");
    checkValue(strValue);
    pugi::xml_node me = XMLDocImpl::node(this);
    pugi::xml_attribute attr = me.attribute(strName.c_str());
    if (!attr)
        attr = me.append_attribute(strName.c_str());
    attr.set_value(strValue.c_str(), strValue.length());
}

XMLNode* XMLNode::findChild(const String& strName, const XMLNode* pAfter)
{
    const std::string& str = strName.str();
    for (XMLNode* pchild = XMLDocImpl::firstAfter(this, pAfter); pchild != nullptr; pchild = pchild->_pnext)
        if (sameName(pchild->_pszName, str))
            return pchild;
    return nullptr;
}

const XMLNode* XMLNode::findChild(const String& strName, const XMLNode* pAfter) const
{
    return const_cast<XMLNode*>(this)->findChild(strName, pAfter);
}

void XMLNode::findChildren(const String* pstrNameS, size_t nNames, const XMLNode** ppchildS) const
{
    std::fill(ppchildS, ppchildS + nNames, nullptr);
    size_t nLeft = nNames;
    for (const XMLNode* pchild = _pfirstChild; pchild != nullptr && nLeft > 0; pchild = pchild->_pnext)
        for (size_t i = 0; i < nNames; ++i)
            if (ppchildS[i] == nullptr && sameName(pchild->_pszName, pstrNameS[i].str())) {
                ppchildS[i] = pchild;
                --nLeft;
            }
}

XMLNode* XMLNode::nextChild(const XMLNode* pAfter)
{
    return XMLDocImpl::firstAfter(this, pAfter);
}

const XMLNode* XMLNode::nextChild(const XMLNode* pAfter) const
{
    return XMLDocImpl::firstAfter(this, pAfter);
}

XMLNode* XMLNode::parent()
{
    return _pparent;
}

const XMLNode* XMLNode::parent() const
{
    return _pparent;
}

String XMLNode::qualifiedName() const
{
    return String(_pszName);
}

String XMLNode::name() const
{
    const char* pszColon = std::strchr(_pszName, ':');
    return String(pszColon ? pszColon + 1 : _pszName);
}

String XMLNode::nameSpace() const
{
    const char* pszColon = std::strchr(_pszName, ':');
    return String(pszColon ? std::string(_pszName, pszColon) : std::string());
}

String XMLNode::value() const
{
    return String(_pszValue);
}

void XMLNode::value(const String& strValue)
{
    checkValue(strValue);
    pugi::xml_node me = XMLDocImpl::node(this);
    for (pugi::xml_node child = me.first_child(); child;) {
        pugi::xml_node next = child.next_sibling();
        if (isText(child.type()))
            me.remove_child(child);
        child = next;
    }
    _pszValue = nullptr;
    if (strValue.length() > 0) {
        _pdoc->nTextLengthHint += strValue.length();
        pugi::xml_node text = me.prepend_child(pugi::node_pcdata);
        if (!text || !text.set_value(strValue.c_str(), strValue.length())) {
            me.remove_child(text);
            throw XMLException("Cannot set the text of element '" + std::string(_pszName) + "'");
        }
        _pszValue = text.value();
    }
}

// ---- XMLDoc --------------------------------------------------------------

XMLDoc::XMLDoc() : _pimpl(new XMLDocImpl) {}

XMLDoc::XMLDoc(const String& strRoot, const String& strVersion, const String& strEncoding) : _pimpl(new XMLDocImpl)
{
    checkName(strRoot, "element");
    const std::string& strV = strVersion.str();
    const std::string& strE = strEncoding.str();
    // Anything else could not be read back: the declaration allows no escapes.
    if (!isDeclarationToken(strV, false))
        throw XMLException("Invalid XML version '" + strV + "'");
    if (!strE.empty() && !(isDeclarationToken(strE, true) && isNameStart(static_cast<unsigned char>(strE[0]))))
        throw XMLException("Invalid XML encoding '" + strE + "'");
    pugi::xml_node decl = _pimpl->doc.append_child(pugi::node_declaration);
    decl.append_attribute("version").set_value(strV.c_str());
    if (!strE.empty())
        decl.append_attribute("encoding").set_value(strE.c_str());
    pugi::xml_node root = _pimpl->doc.append_child(strRoot.c_str());
    if (!root)
        throw XMLException("Cannot add element '" + strRoot.str() + "'");
    _pimpl->addNode(root, nullptr);
}

XMLDoc::XMLDoc(const XMLDoc& other) : _pimpl(new XMLDocImpl)
{
    if (other._pimpl) {
        _pimpl->doc.reset(other._pimpl->doc);
        _pimpl->nTextLengthHint = other._pimpl->nTextLengthHint;
        // The source may have been built deeper than text may nest; a copy is no reading.
        _pimpl->addTree(false);
    }
}

XMLDoc& XMLDoc::operator=(const XMLDoc& other)
{
    if (this != &other) {
        XMLDoc copy(other);
        _pimpl.swap(copy._pimpl);
    }
    return *this;
}

XMLDoc::XMLDoc(XMLDoc&& other) noexcept = default;
XMLDoc& XMLDoc::operator=(XMLDoc&& other) noexcept = default;
XMLDoc::~XMLDoc() = default;

XMLDoc XMLDoc::parse(const String& strText)
{
    XMLDoc doc;
    doc.fromStream(strText);
    return doc;
}

XMLDoc XMLDoc::parse(String&& strText)
{
    XMLDoc doc;
    doc.fromStream(std::move(strText));
    return doc;
}

void XMLDoc::fromStream(const String& strText)
{
    load(strText, nullptr);
}

void XMLDoc::fromStream(String&& strText)
{
    load(strText, &strText);
}

void XMLDoc::load(const String& strText, String* pstrKept)
{
    const std::string& str = strText.str();
    const void* pnul = std::memchr(str.data(), '\0', str.size());
    if (pnul != nullptr) {
        size_t nNul = static_cast<size_t>(static_cast<const char*>(pnul) - str.data());
        throw XMLException("XML text contains a NUL byte at offset " + std::to_string(nNul), static_cast<long>(nNul));
    }
    // Refused before parsing: without a DTD no entity can be declared, so
    // nothing can be expanded or fetched from outside, however it is nested.
    size_t nDoctype = findDoctype(str);
    if (nDoctype != std::string::npos)
        throw XMLException("XML text with a DOCTYPE is refused (offset " + std::to_string(nDoctype) + ")",
                           static_cast<long>(nDoctype));

    std::unique_ptr<XMLDocImpl> pimpl(new XMLDocImpl);
    const size_t nLength = str.size();
    pugi::xml_parse_result result;
    if (pstrKept != nullptr && readsInPlace(str)) {
        // A large reply's text need not be copied only to be thrown away: the
        // document keeps it, at an address that no longer moves, and the parser
        // works in it. The parser is given the terminator too, as it is when it
        // copies: without it, it would end the text on its last character, and
        // a refused text would be described and placed differently.
        // (pstrKept is no const object: it came as String&&.)
        pimpl->strText = std::move(const_cast<std::string&>(pstrKept->str()));
        result = pimpl->doc.load_buffer_inplace(pimpl->strText.data(), nLength + 1, kParseFlags,
                                                pugi::encoding_auto);
    } else {
        result = pimpl->doc.load_buffer(str.data(), nLength, kParseFlags, pugi::encoding_auto);
    }
    if (!result)
        throw XMLException(std::string("Malformed XML at offset ") + std::to_string(result.offset) + ": " +
                               result.description(),
                           static_cast<long>(result.offset));
    int nRoots = 0;
    for (pugi::xml_node child = pimpl->doc.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_element && ++nRoots > 1)
            throw XMLException("Malformed XML at offset " + std::to_string(child.offset_debug()) +
                                   ": more than one root element",
                               static_cast<long>(child.offset_debug()));
    pimpl->addTree(true);
    pimpl->nTextLengthHint = nLength;
    _pimpl.swap(pimpl);
}

String XMLDoc::stream() const
{
    if (!_pimpl)
        return String(std::string());
    pugi::xml_encoding encoding = pugi::encoding_utf8;
    pugi::xml_node decl = _pimpl->doc.first_child();
    if (decl.type() == pugi::node_declaration && isLatin1(decl.attribute("encoding").value()))
        encoding = pugi::encoding_latin1;
    StringWriter writer;
    writer._str.reserve(_pimpl->nTextLengthHint + kDeclarationLength);
    _pimpl->doc.save(writer, "  ", pugi::format_indent | pugi::format_no_declaration, encoding);
    return String(std::move(writer._str));
}

XMLNode* XMLDoc::rootNode()
{
    return _pimpl ? _pimpl->proot : nullptr;
}

const XMLNode* XMLDoc::rootNode() const
{
    return _pimpl ? _pimpl->proot : nullptr;
}

} // namespace Vesk
