// Arbitrary bytes as the two settings files: the machine-wide one, the separator line of
// FuzzTarget.h, then the per-user one.
//
// Loading either fails with 6111 or gives settings that, once saved, load back the same.

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "OstrelClientConfig/Settings.h"
#include "OstrelData/Exception.h"

namespace {

using OstrelClientConfig::Settings;
using OstrelFuzz::finding;

void writeFile(const std::string& strPath, const std::string& strText)
{
    int fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, strText.data(), strText.size()) != ssize_t(strText.size()))
        finding("cannot write " + strPath);
    ::close(fd);
}

// Everything a load reads, in one text to compare.
std::string readBack(const Settings& settings)
{
    std::string str = settings.defaultDomain() + '\0' + settings.defaultProfile() + '\0' + settings.userId() + '\0' +
                      settings.ostrelLocal() + '\0' + settings.ostrelMaster() + '\0' + settings.tlsCAFile() + '\0' +
                      settings.tlsPin() + '\0' + settings.tlsCertFile() + '\0' + settings.tlsKeyFile() + '\0';
    for (const auto& domain : settings.domains())
        str += "domain " + domain.first + '\0';
    for (const auto& profile : settings.profiles())
        str += "profile " + profile.first + '\0';
    return str;
}

} // namespace

OSTREL_FUZZ_TARGET(fuzzSettings)
{
    const std::vector<std::string> partS = OstrelFuzz::splitInput(pbyData, nSize);
    const std::string strHKLM = OstrelFuzz::scratchFolder() + "/rcostrel";
    const std::string strHKCU = OstrelFuzz::scratchFolder() + "/.rcostrel";
    writeFile(strHKLM, partS[0]);
    writeFile(strHKCU, partS.size() > 1 ? partS[1] : std::string());
    // As the administrator's tools load them (creating what is missing and writing both files) or
    // as any client does.
    const bool bAdmin = nSize % 2 == 1;

    std::string strLoaded;
    try {
        Settings settings(strHKLM, strHKCU);
        settings.load(bAdmin);
        strLoaded = readBack(settings);
        settings.save();
    } catch (const OstrelData::Exception& e) {
        if (e.errorCode() != OstrelData::nNAX_BADCONFIG) finding("refused with another code: " + e.legend());
        return 0;
    }
    try {
        Settings again(strHKLM, strHKCU);
        again.load(bAdmin);
        if (readBack(again) != strLoaded) finding("saved settings load back otherwise");
    } catch (const OstrelData::Exception& e) {
        finding("saved settings do not load: " + e.legend());
    }
    return 0;
}
