#ifndef VESK_XMLNODE_H
#define VESK_XMLNODE_H

#include <memory>
#include <stdexcept>
#include <string>

#include "Vesk/Export.h"
#include "Vesk/String.h"

namespace Vesk {

// Malformed or refused XML text, a bad element or attribute name, or an
// unusable document declaration.
class VESK_API XMLException : public std::runtime_error {
public:
    // nOffset: byte offset in the text where the problem was found, -1 when
    // the problem is not tied to a place in a text.
    XMLException(const std::string& strWhat, long nOffset = -1);
    long offset() const { return _nOffset; }

private:
    long _nOffset;
};

struct XMLDocImpl;

// One element of an XMLDoc. Nodes are made and owned by their document: a
// node pointer stays valid, and keeps its identity, for as long as the
// document holds the same tree (until it is destroyed, assigned or re-parsed).
// Reading changes nothing, so several threads may read one document (through
// const documents and nodes) at once; a change to a document needs it to
// itself: no other thread may read or change it meanwhile.
class VESK_API XMLNode {
public:
    XMLNode(const XMLNode&) = delete;
    XMLNode& operator=(const XMLNode&) = delete;

    // Appends a child element. An empty or null value gives an element
    // without text. Throws XMLException when strName is not an XML name.
    XMLNode* addNode(const String& strName, const String& strValue = String());

    // The attribute's value; the empty (not null) string when it is missing.
    String attribute(const String& strName) const;
    // Sets the attribute, adding it when missing. Throws XMLException when
    // strName is not an XML name.
    void attribute(const String& strName, const String& strValue);

    // The next child element named strName (the full name, prefix included)
    // after pAfter, or from the first child when pAfter is null. Null when there
    // is none, or when pAfter is not a child of this element.
    XMLNode* findChild(const String& strName, const XMLNode* pAfter = nullptr);
    const XMLNode* findChild(const String& strName, const XMLNode* pAfter = nullptr) const;
    // The first child element of each of the nNames names (null where no child has that name),
    // found in one walk over the children: for readers that take several children of one
    // element, which would otherwise walk them once a name.
    void findChildren(const String* pstrNameS, size_t nNames, const XMLNode** ppchildS) const;
    // The next child element of any name after pAfter (from the start when
    // null); null as findChild.
    XMLNode* nextChild(const XMLNode* pAfter = nullptr);
    const XMLNode* nextChild(const XMLNode* pAfter = nullptr) const;

    // The parent element; null for the root element.
    XMLNode* parent();
    const XMLNode* parent() const;

    // The name after a "prefix:", or the whole name when there is no prefix.
    String name() const;
    // The prefix before ':'; empty when there is none.
    String nameSpace() const;
    // The name as written, "prefix:local".
    String qualifiedName() const;

    // The element's text (its first text or CDATA child); null when it has none.
    String value() const;
    // Replaces the element's text; an empty or null value removes it, so the
    // element reads back the same after a round trip through text.
    void value(const String& strValue);

private:
    friend struct XMLDocImpl;
    XMLNode() = default;
    ~XMLNode() = default;

    // The document keeps, next to the parser's tree, this tree of its elements,
    // so walking children and reading names and text never has to look a node up.
    XMLDocImpl* _pdoc = nullptr;      // the document that owns this node
    void* _pnode = nullptr;           // the parser's element it stands for
    const char* _pszName = nullptr;   // the element's name, held by the parser
    const char* _pszValue = nullptr;  // the first text or CDATA child's text; null when none
    XMLNode* _pparent = nullptr;      // null for the root element
    XMLNode* _pfirstChild = nullptr;  // child elements in document order
    XMLNode* _plastChild = nullptr;
    XMLNode* _pnext = nullptr;        // next sibling element
};

} // namespace Vesk

#endif
