#ifndef VESK_STRING_H
#define VESK_STRING_H

#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

#include "Vesk/Export.h"

namespace Vesk {

// A text that may also be null: "no value at all", as opposed to the empty
// text. XML readers use the difference to tell an element without text from
// one whose text is empty.
class VESK_API String {
public:
    // The null string.
    String();
    // The first nLength characters of psz (0: up to its NUL); never reads past
    // a NUL. A null psz gives the null string.
    String(const char* psz, std::size_t nLength = 0);
    // The whole of str, embedded NULs included; never null.
    String(const std::string& str);
    // As above, taking str's text over instead of copying it.
    String(std::string&& str);

    // The shared null value.
    static const String null;

    bool isNull() const { return _bIsNull; }
    // Number of characters; 0 for the null string.
    std::size_t length() const { return _str.size(); }
    // NUL-terminated text, valid until the string changes; "" for the null string.
    operator const char*() const { return _str.c_str(); }
    const char* c_str() const { return _str.c_str(); }
    const std::string& str() const { return _str; }

    // Equal when both are null, or both are not null and hold the same text.
    // A null pointer stands for the null string.
    bool operator==(const String& other) const;
    bool operator!=(const String& other) const { return !(*this == other); }
    bool operator==(const char* psz) const;
    bool operator!=(const char* psz) const { return !(*this == psz); }
    bool operator==(const std::string& str) const { return !_bIsNull && _str == str; }
    bool operator!=(const std::string& str) const { return !(*this == str); }

    // Appends; a null string becomes non-null. Appending a null string or null pointer
    // changes nothing.
    String& operator+=(const String& other);
    String& operator+=(const char* psz);

    // Replaces the text with the printf-style rendering of the arguments,
    // however long it turns out. Throws std::runtime_error on an encoding error.
    String& format(const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));

private:
    std::string _str;
    bool _bIsNull;
};

// Construction and comparison are defined here, so that a call with a literal
// knows its length where it is made: element names and values are made and
// compared by the thousand when a document is read or written.

inline String::String() : _bIsNull(true) {}

inline String::String(const char* psz, std::size_t nLength)
    : _str(psz == nullptr ? std::string()
                          : std::string(psz, nLength == 0 ? std::strlen(psz) : strnlen(psz, nLength))),
      _bIsNull(psz == nullptr)
{
}

inline String::String(const std::string& str) : _str(str), _bIsNull(false) {}

inline String::String(std::string&& str) : _str(std::move(str)), _bIsNull(false) {}

inline bool String::operator==(const String& other) const
{
    return _bIsNull == other._bIsNull && _str == other._str;
}

inline bool String::operator==(const char* psz) const
{
    if (!psz)
        return _bIsNull;
    std::size_t nLength = std::strlen(psz);
    return !_bIsNull && _str.size() == nLength && std::memcmp(_str.data(), psz, nLength) == 0;
}

// Text on the left compares by content too, never by address.
inline bool operator==(const char* psz, const String& s) { return s == psz; }
inline bool operator!=(const char* psz, const String& s) { return s != psz; }
inline bool operator==(const std::string& str, const String& s) { return s == str; }
inline bool operator!=(const std::string& str, const String& s) { return s != str; }

} // namespace Vesk

#endif
