#ifndef VESKDAL_SQLVALUE_H
#define VESKDAL_SQLVALUE_H

#include <cstdint>
#include <string>

#include "VeskDal/Export.h"

namespace VeskDal {

// One SQL value: invalid (nothing; NULL columns of a result are left out of the row instead),
// an integer or a text. A plain copyable value; the alias names it when it is selected.
class VESKDAL_API SqlValue {
public:
    enum Type { typeInvalid = 0, typeInteger = 1, typeText = 2 };

    // Invalid: no value.
    SqlValue();

    bool isValid() const { return _type != typeInvalid; }
    Type type() const { return _type; }
    // The integer; text counts when it is a decimal integer ("42", "-7", no blanks).
    // Throws SqlException(SQLERR_NOTANINTEGER) when invalid, not an integer or beyond int.
    int asInt() const;
    // As asInt(), for the full 64-bit range.
    std::int64_t asInt64() const;
    // The text; an integer in decimal; empty when invalid.
    std::string string() const;
    // The name the value is selected under; empty when it has none.
    const std::string& alias() const { return _strAlias; }

    // Same kind and content (aliases are not compared); an integer never equals a text.
    bool operator==(const SqlValue& other) const;
    bool operator!=(const SqlValue& other) const { return !(*this == other); }

protected:
    SqlValue(Type type, std::int64_t nValue, std::string strValue, std::string strAlias);

private:
    Type _type;
    std::int64_t _nValue;
    std::string _strValue;
    std::string _strAlias;
};

// A text value. A null pointer gives an invalid value.
class VESKDAL_API SqlText : public SqlValue {
public:
    explicit SqlText(const std::string& strValue, const std::string& strAlias = std::string());
    explicit SqlText(std::string&& strValue, const std::string& strAlias = std::string());
    explicit SqlText(const char* pszValue, const std::string& strAlias = std::string());
};

// An integer value.
class VESKDAL_API SqlInteger : public SqlValue {
public:
    explicit SqlInteger(std::int64_t nValue, const std::string& strAlias = std::string());
};

} // namespace VeskDal

#endif
