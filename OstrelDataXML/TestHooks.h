#ifndef OSTRELDATAXML_TESTHOOKS_H
#define OSTRELDATAXML_TESTHOOKS_H

// Not installed: lets the test suite shorten waits that would make it slow.

#include "OstrelDataXML/Export.h"

namespace OstrelDataXML {
namespace testhooks {

// Length of each of the ten waits of OstrelService::transact, in milliseconds;
// 0 or less restores the product's 1000.
OSTRELDATAXML_API void setResponseWaitMs(long nMs);

} // namespace testhooks
} // namespace OstrelDataXML

#endif
