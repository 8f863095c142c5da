// Kept apart from Settings.cpp: the only part of the settings that talks to
// the service.
#include "OstrelClientConfig/Settings.h"

#include "OstrelDataXML/OstrelFactory.h"

namespace OstrelClientConfig {

void Settings::loadProfiles()
{
    const OstrelData::ProfileMap profileS = OstrelDataXML::Factory::profiles();
    for (const auto& entry : profileS)
        _profileS[entry.first] = Profile(entry.second);
}

} // namespace OstrelClientConfig
