#include "Vesk/String.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace Vesk {

const String String::null;

String& String::operator+=(const String& other)
{
    if (!other._bIsNull) {
        _str += other._str;
        _bIsNull = false;
    }
    return *this;
}

String& String::operator+=(const char* psz)
{
    if (psz) {
        _str += psz;
        _bIsNull = false;
    }
    return *this;
}

String& String::format(const char* pszFormat, ...)
{
    if (!pszFormat)
        throw std::invalid_argument("Vesk::String::format: null format");
    // Measure first, then render into exactly that much room: the result can
    // never overrun, whatever the arguments expand to.
    va_list args;
    va_start(args, pszFormat);
    va_list argsAgain;
    va_copy(argsAgain, args);
    int nNeeded = std::vsnprintf(nullptr, 0, pszFormat, args);
    va_end(args);
    if (nNeeded < 0) {
        va_end(argsAgain);
        throw std::runtime_error("Vesk::String::format: encoding error");
    }
    std::string strResult(static_cast<std::size_t>(nNeeded) + 1, '\0');
    std::vsnprintf(&strResult[0], strResult.size(), pszFormat, argsAgain);
    va_end(argsAgain);
    strResult.resize(static_cast<std::size_t>(nNeeded));
    _str.swap(strResult);
    _bIsNull = false;
    return *this;
}

} // namespace Vesk
