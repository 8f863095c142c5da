#ifndef VESK_XMLDOC_H
#define VESK_XMLDOC_H

#include <memory>

#include "Vesk/Export.h"
#include "Vesk/String.h"
#include "Vesk/XMLNode.h"

namespace Vesk {

// An XML document: an optional declaration and at most one root element.
//
// Text is treated as untrusted: parsing refuses malformed text, a DOCTYPE
// (so no entity can be declared, let alone expanded, and nothing external is
// ever fetched), embedded NUL bytes and elements nested more than
// nMaxDepth deep, always with an XMLException.
class VESK_API XMLDoc {
public:
    // Deepest element nesting accepted from text; the root is at depth 1.
    static constexpr int nMaxDepth = 256;

    // An empty document: no declaration, no root.
    XMLDoc();
    // A document with the declaration <?xml version=.. encoding=..?> (encoding
    // left out when empty) and an empty root element. Throws XMLException for a
    // root name that is not an XML name.
    XMLDoc(const String& strRoot, const String& strVersion = "1.0", const String& strEncoding = "UTF-8");
    // Copies the tree; node pointers of the copy point into the copy.
    XMLDoc(const XMLDoc& other);
    XMLDoc& operator=(const XMLDoc& other);
    XMLDoc(XMLDoc&& other) noexcept;
    XMLDoc& operator=(XMLDoc&& other) noexcept;
    ~XMLDoc();

    // The document held by strText. Throws XMLException.
    static XMLDoc parse(const String& strText);
    // The same, taking the text over rather than copying it (what is left in
    // strText is unspecified, also when the text is refused).
    static XMLDoc parse(String&& strText);
    // Replaces this document with the one held by strText. Throws XMLException
    // and leaves the document unchanged when the text is refused.
    void fromStream(const String& strText);
    void fromStream(String&& strText);
    // The document as text: declaration first, elements indented. Text and
    // attribute values are escaped as XML requires.
    String stream() const;

    // The root element; null when there is none.
    XMLNode* rootNode();
    const XMLNode* rootNode() const;

private:
    // Parses strText; with pstrKept (strText itself), takes it over and parses it in place.
    void load(const String& strText, String* pstrKept);

    std::unique_ptr<XMLDocImpl> _pimpl;
};

} // namespace Vesk

#endif
