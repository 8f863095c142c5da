#include "VeskDal/SqlTable.h"

namespace VeskDal {

SqlSchema::SqlSchema(const std::string& strName, bool bQualify) : _strName(strName), _bQualify(bQualify) {}

struct SqlTable::Data {
    SqlSchema schema;
    std::string strName;
    std::string strAlias;
};

SqlTable::SqlTable()
{
    // Every unnamed table shares one content, so default tables cost no allocation.
    static const std::shared_ptr<const Data> s_pempty = std::make_shared<const Data>();
    _pdata = s_pempty;
}

SqlTable::SqlTable(const SqlSchema& schema, const std::string& strName, const std::string& strAlias)
    : _pdata(std::make_shared<const Data>(Data{schema, strName, strAlias}))
{
}

const SqlSchema& SqlTable::schema() const { return _pdata->schema; }
const std::string& SqlTable::name() const { return _pdata->strName; }
const std::string& SqlTable::alias() const { return _pdata->strAlias; }
const std::string& SqlTable::reference() const
{
    return _pdata->strAlias.empty() ? _pdata->strName : _pdata->strAlias;
}

bool SqlTable::operator==(const SqlTable& other) const
{
    return _pdata == other._pdata ||
           (_pdata->strName == other._pdata->strName && _pdata->strAlias == other._pdata->strAlias &&
            _pdata->schema.name() == other._pdata->schema.name());
}

} // namespace VeskDal
