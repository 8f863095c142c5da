#ifndef VESKDAL_SQLVALUE_H
#define VESKDAL_SQLVALUE_H

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <utility>

#include "VeskDal/Export.h"

namespace VeskDal {

// One SQL value: invalid (nothing; NULL columns of a result are left out of the row instead),
// an integer or a text. A plain copyable value; the alias names it when it is selected.
//
// Results are made of these by the hundred, so a value costs no allocation of its own unless its
// text is long: an integer is held as a number, a short text inside the value, and the alias,
// which only selected values have, behind a pointer that is null otherwise.
class VESKDAL_API SqlValue {
public:
    enum Type { typeInvalid = 0, typeInteger = 1, typeText = 2 };

    // Invalid: no value.
    SqlValue() noexcept : _type(typeInvalid), _nValue(0) {}

    bool isValid() const { return _type != typeInvalid; }
    Type type() const { return _type; }
    // The integer; text counts when it is a decimal integer ("42", "-7", no blanks).
    // Throws SqlException(SQLERR_NOTANINTEGER) when invalid, not an integer or beyond int.
    int asInt() const
    {
        if (_type == typeInteger && _nValue >= std::numeric_limits<int>::min() &&
            _nValue <= std::numeric_limits<int>::max()) {
            return static_cast<int>(_nValue);
        }
        return convertToInt();
    }
    // As asInt(), for the full 64-bit range.
    std::int64_t asInt64() const { return _type == typeInteger ? _nValue : convertToInt64(); }
    // The text; an integer in decimal; empty when invalid.
    std::string string() const { return _type == typeInteger ? std::to_string(_nValue) : _strValue; }
    // The text of a text value without copying it; empty for an integer or an invalid value.
    const std::string& text() const { return _strValue; }
    // The name the value is selected under; empty when it has none.
    const std::string& alias() const;

    // Same kind and content (aliases are not compared); an integer never equals a text.
    bool operator==(const SqlValue& other) const;
    bool operator!=(const SqlValue& other) const { return !(*this == other); }

protected:
    SqlValue(Type type, std::int64_t nValue, std::string&& strValue) noexcept
        : _type(type), _nValue(nValue), _strValue(std::move(strValue))
    {
    }
    SqlValue(Type type, std::int64_t nValue, std::string&& strValue, const std::string& strAlias);

private:
    friend class DalRow;  // fills the values of result rows in place

    int convertToInt() const;
    std::int64_t convertToInt64() const;

    Type _type;
    std::int64_t _nValue;   // typeInteger
    std::string _strValue;  // typeText; empty otherwise
    std::shared_ptr<const std::string> _palias;  // null when the value has no alias
};

// A text value. A null pointer gives an invalid value.
class VESKDAL_API SqlText : public SqlValue {
public:
    explicit SqlText(const std::string& strValue) : SqlValue(typeText, 0, std::string(strValue)) {}
    explicit SqlText(std::string&& strValue) noexcept : SqlValue(typeText, 0, std::move(strValue)) {}
    explicit SqlText(const char* pszValue)
        : SqlValue(pszValue ? typeText : typeInvalid, 0, pszValue ? std::string(pszValue) : std::string())
    {
    }
    explicit SqlText(const std::string& strValue, const std::string& strAlias);
    explicit SqlText(std::string&& strValue, const std::string& strAlias);
    explicit SqlText(const char* pszValue, const std::string& strAlias);
};

// An integer value.
class VESKDAL_API SqlInteger : public SqlValue {
public:
    explicit SqlInteger(std::int64_t nValue) noexcept : SqlValue(typeInteger, nValue, std::string()) {}
    explicit SqlInteger(std::int64_t nValue, const std::string& strAlias);
};

} // namespace VeskDal

#endif
