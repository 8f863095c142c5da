#include "Arguments.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace ostreltool {

Arguments::Arguments(const std::vector<std::string>& wordS, const std::vector<OptionSpec>& specS)
{
    bool bOptionsEnded = false;
    for (size_t i = 0; i < wordS.size(); ++i) {
        const std::string& strWord = wordS[i];
        if (bOptionsEnded || strWord.size() < 3 || strWord.compare(0, 2, "--") != 0) {
            if (strWord == "--")
                bOptionsEnded = true;
            else
                _positionalS.push_back(strWord);
            continue;
        }
        std::string strName = strWord.substr(2);
        std::string strValue;
        const std::string::size_type nEquals = strName.find('=');
        const bool bInline = nEquals != std::string::npos;
        if (bInline) {
            strValue = strName.substr(nEquals + 1);
            strName.erase(nEquals);
        }
        const OptionSpec* pspec = nullptr;
        for (const OptionSpec& spec : specS) {
            if (strName == spec.pszName)
                pspec = &spec;
        }
        if (!pspec)
            throw UsageError("unknown option --" + strName);
        if (_optionS.count(strName))
            throw UsageError("--" + strName + " given twice");
        if (pspec->bTakesValue && !bInline) {
            if (i + 1 >= wordS.size())
                throw UsageError("--" + strName + " needs a value");
            strValue = wordS[++i];
        } else if (!pspec->bTakesValue && bInline) {
            throw UsageError("--" + strName + " takes no value");
        }
        _optionS[strName] = strValue;
    }
}

std::string Arguments::value(const std::string& strName, const std::string& strDefault) const
{
    auto it = _optionS.find(strName);
    return it == _optionS.end() ? strDefault : it->second;
}

int parseNumber(const std::string& strText, const std::string& strWhat)
{
    const char* psz = strText.c_str();
    char* pszEnd = nullptr;
    errno = 0;
    const long n = std::strtol(psz, &pszEnd, 10);
    if (strText.empty() || *pszEnd != '\0' || errno == ERANGE || n < INT_MIN || n > INT_MAX)
        throw UsageError(strWhat + " must be a whole number, not '" + strText + "'");
    return static_cast<int>(n);
}

std::pair<int, int> parsePair(const std::string& strText, const std::string& strWhat)
{
    const std::string::size_type nColon = strText.find(':');
    if (nColon == std::string::npos)
        throw UsageError(strWhat + " must be PRODUCT:NUMBER, not '" + strText + "'");
    return {parseNumber(strText.substr(0, nColon), strWhat + " product"),
            parseNumber(strText.substr(nColon + 1), strWhat + " number")};
}

} // namespace ostreltool
