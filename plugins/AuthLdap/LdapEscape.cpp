#include "AuthLdap/LdapEscape.h"

namespace AuthLdap {

namespace {

const char achHex[] = "0123456789abcdef";

void appendHex(std::string& str, unsigned char ch)
{
    str += '\\';
    str += achHex[ch >> 4];
    str += achHex[ch & 15];
}

} // namespace

std::string escapeFilterValue(const std::string& strValue)
{
    std::string strOut;
    strOut.reserve(strValue.size());
    for (char ch : strValue) {
        switch (ch) {
        case '*':
        case '(':
        case ')':
        case '\\':
        case '\0':
            appendHex(strOut, static_cast<unsigned char>(ch));
            break;
        default:
            strOut += ch;
        }
    }
    return strOut;
}

std::string escapeDnValue(const std::string& strValue)
{
    std::string strOut;
    strOut.reserve(strValue.size() + 8);
    for (size_t i = 0; i < strValue.size(); ++i) {
        const char ch = strValue[i];
        switch (ch) {
        case '\0':
            appendHex(strOut, 0);
            continue;
        case '"':
        case '+':
        case ',':
        case ';':
        case '<':
        case '>':
        case '=':
        case '\\':
            strOut += '\\';
            break;
        case '#':
            if (i == 0) strOut += '\\';
            break;
        case ' ':
            if (i == 0 || i + 1 == strValue.size()) strOut += '\\';
            break;
        default:
            break;
        }
        strOut += ch;
    }
    return strOut;
}

std::string fillTemplate(const std::string& strTemplate, const std::string& strValue)
{
    std::string strOut;
    strOut.reserve(strTemplate.size() + strValue.size());
    for (size_t i = 0; i < strTemplate.size(); ++i) {
        if (strTemplate[i] == '%' && i + 1 < strTemplate.size()) {
            if (strTemplate[i + 1] == 's') {
                strOut += strValue;
                ++i;
                continue;
            }
            if (strTemplate[i + 1] == '%') {
                strOut += '%';
                ++i;
                continue;
            }
        }
        strOut += strTemplate[i];
    }
    return strOut;
}

std::string parentDn(const std::string& strDn)
{
    for (size_t i = 0; i < strDn.size(); ++i) {
        if (strDn[i] == '\\') {
            ++i;  // the escaped character (or the first digit of a pair) is no separator
            continue;
        }
        if (strDn[i] == ',') {
            size_t nStart = strDn.find_first_not_of(' ', i + 1);
            return nStart == std::string::npos ? std::string() : strDn.substr(nStart);
        }
    }
    return std::string();
}

} // namespace AuthLdap
