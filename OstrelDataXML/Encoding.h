#ifndef OSTRELDATAXML_ENCODING_H
#define OSTRELDATAXML_ENCODING_H

// Replies written straight as text (not installed). A daemon answers every login with the whole
// user, his grants included; built as a document first and then written out, that reply cost more
// than everything else a login does but the RSA step. These write the same encoders' output
// straight into the text, byte for byte what Factory's toXML into an Envelope::response and
// XMLDoc::stream() give.

#include <string>

#include "OstrelData/AuthenticatedUser.h"
#include "OstrelDataXML/Export.h"

namespace OstrelDataXML {
namespace encoding {

// The text of the response strResponse (letters only) holding the authenticated user, as
// Envelope::response(strResponse), AuthenticatedUser::toXML into its root and stream() would write
// it. Throws Vesk::XMLException where toXML would (a text holding a NUL byte).
OSTRELDATAXML_API std::string responseText(const std::string& strResponse, const OstrelData::AuthenticatedUser& user);

} // namespace encoding
} // namespace OstrelDataXML

#endif
