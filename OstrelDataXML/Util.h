#ifndef OSTRELDATAXML_UTIL_H
#define OSTRELDATAXML_UTIL_H

#include <string>

#include "OstrelDataXML/Export.h"
#include "crypto/rsa.h"

namespace OstrelDataXML {

// Replaces strTarget with the source bytes as lower-case hexadecimal, two digits
// a byte. Returns 0.
OSTRELDATAXML_API int boo(std::string& strTarget, const unsigned char* pbySource, unsigned int uSourceLen);

// Reads strSource two characters at a time, each pair a base-16 byte, into
// pbyTarget; a trailing single character is ignored. Returns the bytes stored,
// or -1 (storing nothing) when the source holds more pairs than uTargetLen.
OSTRELDATAXML_API int deboo(unsigned char* pbyTarget, unsigned int uTargetLen, const std::string& strSource);

// Writes the key's type and the sign, sizes and digits of e, d and N to
// standard output.
OSTRELDATAXML_API void dumpkey(const rsa_key& key);

} // namespace OstrelDataXML

#endif
