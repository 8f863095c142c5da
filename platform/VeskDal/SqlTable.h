#ifndef VESKDAL_SQLTABLE_H
#define VESKDAL_SQLTABLE_H

#include <memory>
#include <string>

#include "VeskDal/Export.h"

namespace VeskDal {

// The schema (database) tables live in. Its name is the database the handle opened, which is every
// engine's default namespace, so it is not written into the SQL unless bQualify asks for it (to reach
// another schema or attached database).
class VESKDAL_API SqlSchema {
public:
    SqlSchema() = default;
    explicit SqlSchema(const std::string& strName, bool bQualify = false);

    const std::string& name() const { return _strName; }
    // Whether table names are written as "schema"."table".
    bool qualifies() const { return _bQualify; }

private:
    std::string _strName;
    bool _bQualify = false;
};

// A table of a schema, optionally under an alias. Copyable; copies share their immutable content.
class VESKDAL_API SqlTable {
public:
    // No name: usable only as a placeholder until assigned.
    SqlTable();
    SqlTable(const SqlSchema& schema, const std::string& strName, const std::string& strAlias = std::string());

    const SqlSchema& schema() const;
    const std::string& name() const;
    // Empty when the table has no alias.
    const std::string& alias() const;
    // What columns are qualified with in SQL: the alias when there is one, else the name.
    const std::string& reference() const;

    // Same schema name, table name and alias.
    bool operator==(const SqlTable& other) const;
    bool operator!=(const SqlTable& other) const { return !(*this == other); }

private:
    struct Data;
    std::shared_ptr<const Data> _pdata;
};

} // namespace VeskDal

#endif
