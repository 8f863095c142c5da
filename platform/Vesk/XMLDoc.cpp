#include "Vesk/XMLDoc.h"

#include <pugixml.hpp>

#include <cstring>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

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

bool isNameStart(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

bool isNameChar(unsigned char c)
{
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// Writing a name the parser would refuse would give text nobody can read back.
void checkName(const String& strName, const char* pszWhat)
{
    const std::string& str = strName.str();
    bool bValid = !str.empty() && isNameStart(static_cast<unsigned char>(str[0]));
    for (size_t i = 1; bValid && i < str.size(); ++i)
        bValid = isNameChar(static_cast<unsigned char>(str[i]));
    if (!bValid)
        throw XMLException(std::string("Invalid XML ") + pszWhat + " name '" + str + "'");
}

// The parser's text setters stop at a NUL, which would cut a value short.
void checkValue(const String& strValue)
{
    if (strValue.str().find('\0') != std::string::npos)
        throw XMLException("XML value contains a NUL byte");
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

bool isText(pugi::xml_node node)
{
    return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

// Checks what the parser lets through but a reader must not have to guess
// about: nesting beyond XMLDoc::nMaxDepth, and an attribute given twice on one
// element (which of the two would a reader believe?).
class ShapeWalker : public pugi::xml_tree_walker {
public:
    bool for_each(pugi::xml_node& node) override
    {
        if (node.type() != pugi::node_element)
            return true;
        // depth() counts from 0 for the document's own children, so the root is 1 deep.
        if (depth() + 1 > XMLDoc::nMaxDepth)
            return fail(node, "elements nested deeper than " + std::to_string(XMLDoc::nMaxDepth));
        _nameS.clear();
        for (pugi::xml_attribute attr = node.first_attribute(); attr; attr = attr.next_attribute())
            if (!_nameS.insert(attr.name()).second)
                return fail(node, std::string("attribute '") + attr.name() + "' given twice");
        return true;
    }
    std::string _strProblem;
    long _nOffset = -1;

private:
    bool fail(const pugi::xml_node& node, const std::string& strProblem)
    {
        _nOffset = static_cast<long>(node.offset_debug());
        _strProblem = strProblem;
        return false;
    }
    std::unordered_set<std::string> _nameS;
};

class StringWriter : public pugi::xml_writer {
public:
    void write(const void* pData, size_t nSize) override { _str.append(static_cast<const char*>(pData), nSize); }
    std::string _str;
};

} // namespace

// Owns the parser's document and one wrapper per element handed out, so an
// element keeps the same XMLNode* for the life of the tree.
struct XMLDocImpl {
    pugi::xml_document doc;
    std::mutex mtxNodes;  // guards nodeS: const readers also add wrappers
    std::unordered_map<pugi::xml_node_struct*, std::unique_ptr<XMLNode>> nodeS;

    XMLNode* wrap(pugi::xml_node node)
    {
        if (!node || node.type() != pugi::node_element)
            return nullptr;
        std::lock_guard<std::mutex> lock(mtxNodes);
        std::unique_ptr<XMLNode>& pnode = nodeS[node.internal_object()];
        if (!pnode)
            pnode.reset(new XMLNode(this, node.internal_object()));
        return pnode.get();
    }

    static pugi::xml_node node(const XMLNode* pnode)
    {
        return pugi::xml_node(static_cast<pugi::xml_node_struct*>(pnode->_pnode));
    }
    static XMLDocImpl* docOf(const XMLNode* pnode) { return pnode->_pdoc; }
};

// ---- XMLNode -------------------------------------------------------------

XMLNode* XMLNode::addNode(const String& strName, const String& strValue)
{
    checkName(strName, "element");
    checkValue(strValue);
    pugi::xml_node child = XMLDocImpl::node(this).append_child(strName.c_str());
    if (!child)
        throw XMLException("Cannot add element '" + strName.str() + "'");
    if (strValue.length() > 0)
        child.append_child(pugi::node_pcdata).set_value(strValue.c_str());
    return _pdoc->wrap(child);
}

String XMLNode::attribute(const String& strName) const
{
    pugi::xml_attribute attr = XMLDocImpl::node(this).attribute(strName.c_str());
    return String(std::string(attr ? attr.value() : ""));
}

void XMLNode::attribute(const String& strName, const String& strValue)
{
    checkName(strName, "attribute");
    checkValue(strValue);
    pugi::xml_node me = XMLDocImpl::node(this);
    pugi::xml_attribute attr = me.attribute(strName.c_str());
    if (!attr)
        attr = me.append_attribute(strName.c_str());
    attr.set_value(strValue.c_str());
}

XMLNode* XMLNode::findChild(const String& strName, const XMLNode* pAfter)
{
    pugi::xml_node me = XMLDocImpl::node(this);
    pugi::xml_node child;
    if (pAfter) {
        pugi::xml_node after = XMLDocImpl::node(pAfter);
        if (XMLDocImpl::docOf(pAfter) != _pdoc || after.parent() != me)
            return nullptr;
        child = after.next_sibling();
    } else {
        child = me.first_child();
    }
    for (; child; child = child.next_sibling())
        if (child.type() == pugi::node_element && strName.str() == child.name())
            return _pdoc->wrap(child);
    return nullptr;
}

const XMLNode* XMLNode::findChild(const String& strName, const XMLNode* pAfter) const
{
    return const_cast<XMLNode*>(this)->findChild(strName, pAfter);
}

XMLNode* XMLNode::nextChild(const XMLNode* pAfter)
{
    pugi::xml_node me = XMLDocImpl::node(this);
    pugi::xml_node child;
    if (pAfter) {
        pugi::xml_node after = XMLDocImpl::node(pAfter);
        if (XMLDocImpl::docOf(pAfter) != _pdoc || after.parent() != me)
            return nullptr;
        child = after.next_sibling();
    } else {
        child = me.first_child();
    }
    for (; child; child = child.next_sibling())
        if (child.type() == pugi::node_element)
            return _pdoc->wrap(child);
    return nullptr;
}

const XMLNode* XMLNode::nextChild(const XMLNode* pAfter) const
{
    return const_cast<XMLNode*>(this)->nextChild(pAfter);
}

XMLNode* XMLNode::parent()
{
    return _pdoc->wrap(XMLDocImpl::node(this).parent());
}

const XMLNode* XMLNode::parent() const
{
    return const_cast<XMLNode*>(this)->parent();
}

String XMLNode::qualifiedName() const
{
    return String(std::string(XMLDocImpl::node(this).name()));
}

String XMLNode::name() const
{
    const char* pszName = XMLDocImpl::node(this).name();
    const char* pszColon = std::strchr(pszName, ':');
    return String(std::string(pszColon ? pszColon + 1 : pszName));
}

String XMLNode::nameSpace() const
{
    const char* pszName = XMLDocImpl::node(this).name();
    const char* pszColon = std::strchr(pszName, ':');
    return String(pszColon ? std::string(pszName, pszColon) : std::string());
}

String XMLNode::value() const
{
    pugi::xml_text text = XMLDocImpl::node(this).text();
    if (!text)
        return String();
    return String(std::string(text.get()));
}

void XMLNode::value(const String& strValue)
{
    checkValue(strValue);
    pugi::xml_node me = XMLDocImpl::node(this);
    for (pugi::xml_node child = me.first_child(); child;) {
        pugi::xml_node next = child.next_sibling();
        if (isText(child))
            me.remove_child(child);
        child = next;
    }
    if (strValue.length() > 0)
        me.prepend_child(pugi::node_pcdata).set_value(strValue.c_str());
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
    _pimpl->doc.append_child(strRoot.c_str());
}

XMLDoc::XMLDoc(const XMLDoc& other) : _pimpl(new XMLDocImpl)
{
    if (other._pimpl)
        _pimpl->doc.reset(other._pimpl->doc);
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

void XMLDoc::fromStream(const String& strText)
{
    const std::string& str = strText.str();
    size_t nNul = str.find('\0');
    if (nNul != std::string::npos)
        throw XMLException("XML text contains a NUL byte at offset " + std::to_string(nNul), static_cast<long>(nNul));
    // Refused before parsing: without a DTD no entity can be declared, so
    // nothing can be expanded or fetched from outside, however it is nested.
    size_t nDoctype = str.find("<!DOCTYPE");
    if (nDoctype != std::string::npos)
        throw XMLException("XML text with a DOCTYPE is refused (offset " + std::to_string(nDoctype) + ")",
                           static_cast<long>(nDoctype));

    std::unique_ptr<XMLDocImpl> pimpl(new XMLDocImpl);
    pugi::xml_parse_result result =
        pimpl->doc.load_buffer(str.data(), str.size(), kParseFlags, pugi::encoding_auto);
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
    ShapeWalker walker;
    if (!pimpl->doc.traverse(walker))
        throw XMLException("Malformed XML at offset " + std::to_string(walker._nOffset) + ": " + walker._strProblem,
                           walker._nOffset);
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
    _pimpl->doc.save(writer, "  ", pugi::format_indent | pugi::format_no_declaration, encoding);
    return String(writer._str);
}

XMLNode* XMLDoc::rootNode()
{
    return _pimpl ? _pimpl->wrap(_pimpl->doc.document_element()) : nullptr;
}

const XMLNode* XMLDoc::rootNode() const
{
    return const_cast<XMLDoc*>(this)->rootNode();
}

} // namespace Vesk
