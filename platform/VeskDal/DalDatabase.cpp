#include "VeskDal/DalDatabase.h"

#include <cctype>
#include <charconv>

namespace VeskDal {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isNameChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
}

[[noreturn]] void badConnectString(const std::string& strWhat, size_t nPosition)
{
    throw DalDatabaseException(__FILE__, __LINE__, DDBERR_CONNECTSTRING, 1,
                               "Malformed connect string: " + strWhat + " at position " +
                                   std::to_string(nPosition + 1));
}

} // namespace

DalDatabase::~DalDatabase() = default;

void DalDatabase::connectStringToMap(ConnectionParameterMap& parameterS, const std::string& strConnect,
                                     int nOptions)
{
    // Parse into a scratch map so that a malformed string leaves the caller's map as it was.
    ConnectionParameterMap parsedS;
    const size_t nSize = strConnect.size();
    size_t n = 0;
    while (n < nSize) {
        while (n < nSize && isBlank(strConnect[n])) {
            ++n;
        }
        if (n == nSize) {
            break;
        }
        if (strConnect[n] == ';') {
            ++n;
            continue;
        }
        const size_t nNameStart = n;
        while (n < nSize && isNameChar(strConnect[n])) {
            ++n;
        }
        std::string strName = strConnect.substr(nNameStart, n - nNameStart);
        while (n < nSize && isBlank(strConnect[n])) {
            ++n;
        }
        if (strName.empty()) {
            badConnectString("a parameter without a name, or a name with characters other than letters, "
                             "digits, '_', '-' and '.'",
                             n);
        }
        if (n == nSize || strConnect[n] != '=') {
            badConnectString("parameter \"" + strName + "\" is not followed by '='", n);
        }
        ++n;
        while (n < nSize && isBlank(strConnect[n])) {
            ++n;
        }
        std::string strValue;
        if (n < nSize && strConnect[n] == '"') {
            const size_t nQuote = n++;
            bool bClosed = false;
            while (n < nSize) {
                char c = strConnect[n++];
                if (c == '"') {
                    if (n < nSize && strConnect[n] == '"') {
                        strValue += '"';
                        ++n;
                        continue;
                    }
                    bClosed = true;
                    break;
                }
                strValue += c;
            }
            if (!bClosed) {
                badConnectString("the quoted value of parameter \"" + strName + "\" has no closing quote", nQuote);
            }
            while (n < nSize && isBlank(strConnect[n])) {
                ++n;
            }
            if (n < nSize && strConnect[n] != ';') {
                badConnectString("text after the quoted value of parameter \"" + strName + "\"", n);
            }
        } else {
            const size_t nValueStart = n;
            while (n < nSize && strConnect[n] != ';') {
                if (strConnect[n] == '"') {
                    badConnectString("a quote inside the unquoted value of parameter \"" + strName + "\"", n);
                }
                ++n;
            }
            size_t nValueEnd = n;
            while (nValueEnd > nValueStart && isBlank(strConnect[nValueEnd - 1])) {
                --nValueEnd;
            }
            strValue = strConnect.substr(nValueStart, nValueEnd - nValueStart);
        }
        parsedS[strName] = strValue;
    }
    if (nOptions & csClearMap) {
        parameterS.clear();
    }
    for (auto& parameter : parsedS) {
        parameterS[parameter.first] = std::move(parameter.second);
    }
}

std::string DalDatabase::mapToConnectString(const ConnectionParameterMap& parameterS)
{
    std::string strConnect;
    for (const auto& parameter : parameterS) {
        if (!strConnect.empty()) {
            strConnect += ';';
        }
        strConnect += parameter.first;
        strConnect += '=';
        const std::string& strValue = parameter.second;
        bool bQuote = strValue.empty() || isBlank(strValue.front()) || isBlank(strValue.back()) ||
                      strValue.find_first_of(";\"") != std::string::npos;
        if (!bQuote) {
            strConnect += strValue;
            continue;
        }
        strConnect += '"';
        for (char c : strValue) {
            if (c == '"') {
                strConnect += '"';
            }
            strConnect += c;
        }
        strConnect += '"';
    }
    return strConnect;
}

std::string DalDatabase::parameter(const ConnectionParameterMap& parameterS, const std::string& strName,
                                   const std::string& strDefault)
{
    auto it = parameterS.find(strName);
    return it == parameterS.end() ? strDefault : it->second;
}

int DalDatabase::integerParameter(const ConnectionParameterMap& parameterS, const std::string& strName,
                                  int nDefault, int nMin, int nMax)
{
    auto it = parameterS.find(strName);
    if (it == parameterS.end()) {
        return nDefault;
    }
    const std::string& strValue = it->second;
    int nValue = 0;
    auto [ptr, ec] = std::from_chars(strValue.data(), strValue.data() + strValue.size(), nValue);
    if (strValue.empty() || ec != std::errc() || ptr != strValue.data() + strValue.size() || nValue < nMin ||
        nValue > nMax) {
        throw DalDatabaseException(__FILE__, __LINE__, DDBERR_PARAMETER, 1,
                                   "Connection parameter \"" + strName + "\" must be a whole number from " +
                                       std::to_string(nMin) + " to " + std::to_string(nMax) + ", not \"" +
                                       strValue.substr(0, 32) + "\"");
    }
    return nValue;
}

bool DalDatabase::awaitNotification(const std::string&, long)
{
    return false;
}

} // namespace VeskDal
