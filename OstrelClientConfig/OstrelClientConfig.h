#ifndef OSTRELCLIENTCONFIG_OSTRELCLIENTCONFIG_H
#define OSTRELCLIENTCONFIG_OSTRELCLIENTCONFIG_H

// The client settings: the service hosts of the machine, and the user's known
// domains and profiles with his defaults.
#include "OstrelClientConfig/Export.h"
#include "OstrelClientConfig/Settings.h"

#endif
