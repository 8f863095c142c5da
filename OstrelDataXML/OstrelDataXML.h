#ifndef OSTRELDATAXML_OSTRELDATAXML_H
#define OSTRELDATAXML_OSTRELDATAXML_H

// The whole client side: the link to the daemon, the XML form of the model and
// the client factory.

#include "OstrelData/OstrelData.h"
#include "OstrelDataXML/OstrelFactory.h"
#include "OstrelDataXML/OstrelService.h"
#include "OstrelDataXML/Util.h"

#endif
