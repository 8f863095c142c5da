#include "VeskDal/SqlValue.h"

#include <charconv>

#include "VeskDal/SqlException.h"

namespace VeskDal {

SqlValue::SqlValue(Type type, std::int64_t nValue, std::string&& strValue, const std::string& strAlias)
    : _type(type), _nValue(nValue), _strValue(std::move(strValue)),
      _palias(strAlias.empty() ? nullptr : std::make_shared<const std::string>(strAlias))
{
}

const std::string& SqlValue::alias() const
{
    static const std::string s_strNone;
    return _palias ? *_palias : s_strNone;
}

std::int64_t SqlValue::convertToInt64() const
{
    if (_type == typeInteger) {
        return _nValue;
    }
    if (_type == typeInvalid) {
        throw SqlException(__FILE__, __LINE__, SQLERR_NOTANINTEGER, "(no value)");
    }
    // Only plain decimal text counts: "12abc" or " 12" is data we do not understand.
    const char* pszBegin = _strValue.data();
    const char* pszEnd = pszBegin + _strValue.size();
    if (pszBegin != pszEnd && *pszBegin == '+') {
        ++pszBegin;
        if (pszBegin != pszEnd && *pszBegin == '-') {
            pszBegin = pszEnd;  // "+-5" is no number
        }
    }
    std::int64_t n = 0;
    auto [ptr, ec] = std::from_chars(pszBegin, pszEnd, n);
    if (pszBegin == pszEnd || ec != std::errc() || ptr != pszEnd) {
        throw SqlException(__FILE__, __LINE__, SQLERR_NOTANINTEGER, "\"" + _strValue.substr(0, 64) + "\"");
    }
    return n;
}

int SqlValue::convertToInt() const
{
    std::int64_t n = asInt64();
    if (n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max()) {
        throw SqlException(__FILE__, __LINE__, SQLERR_NOTANINTEGER, std::to_string(n) + " is beyond int");
    }
    return static_cast<int>(n);
}

bool SqlValue::operator==(const SqlValue& other) const
{
    if (_type != other._type) {
        return false;
    }
    switch (_type) {
    case typeInteger:
        return _nValue == other._nValue;
    case typeText:
        return _strValue == other._strValue;
    default:
        return true;
    }
}

SqlText::SqlText(const std::string& strValue, const std::string& strAlias)
    : SqlValue(typeText, 0, std::string(strValue), strAlias)
{
}

SqlText::SqlText(std::string&& strValue, const std::string& strAlias)
    : SqlValue(typeText, 0, std::move(strValue), strAlias)
{
}

SqlText::SqlText(const char* pszValue, const std::string& strAlias)
    : SqlValue(pszValue ? typeText : typeInvalid, 0, pszValue ? std::string(pszValue) : std::string(), strAlias)
{
}

SqlInteger::SqlInteger(std::int64_t nValue, const std::string& strAlias)
    : SqlValue(typeInteger, nValue, std::string(), strAlias)
{
}

} // namespace VeskDal
