#include "CommandLine.h"

namespace OstrelAdmin {

CommandLine::CommandLine(const std::vector<std::string>& argS, const OptionSpec& spec)
{
    bool bOptions = true;
    for (size_t i = 0; i < argS.size(); ++i) {
        const std::string& strArg = argS[i];
        if (!bOptions || strArg.size() < 3 || strArg.compare(0, 2, "--") != 0) {
            if (bOptions && strArg == "--") {
                bOptions = false;
                continue;
            }
            _wordS.push_back(strArg);
            continue;
        }
        std::string strName = strArg.substr(2);
        std::string strValue;
        bool bInline = false;
        std::string::size_type nEquals = strName.find('=');
        if (nEquals != std::string::npos) {
            strValue = strName.substr(nEquals + 1);
            strName.erase(nEquals);
            bInline = true;
        }
        if (_valueS.count(strName) != 0) throw UsageError("--" + strName + " is given twice");
        if (spec.valuedS.count(strName) != 0) {
            if (!bInline) {
                if (i + 1 >= argS.size()) throw UsageError("--" + strName + " needs a value");
                strValue = argS[++i];
            }
            _valueS[strName] = strValue;
        } else if (spec.flagS.count(strName) != 0) {
            if (bInline) throw UsageError("--" + strName + " takes no value");
            _valueS[strName] = "";
        } else {
            throw UsageError("unknown option --" + strName);
        }
    }
}

std::string CommandLine::value(const std::string& strName, const std::string& strDefault) const
{
    std::map<std::string, std::string>::const_iterator it = _valueS.find(strName);
    return it == _valueS.end() ? strDefault : it->second;
}

} // namespace OstrelAdmin
