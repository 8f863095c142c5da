#ifndef OSTRELDATADB_FACTORYSUPPORT_H
#define OSTRELDATADB_FACTORYSUPPORT_H

// Internal to the library: reading result rows by the column names of the query classes, the
// conversions of the SQL library's failures, and taking entries out of the registries, as every
// source of the factory does them.

#include <string>
#include <vector>

#include "OstrelData/Exception.h"
#include "OstrelDal/OstrelDal.h"
#include "VeskDal/DalDatabase.h"
#include "VeskDal/SqlException.h"
#include "VeskDal/SqlTable.h"

namespace OstrelDataDB {
namespace detail {

using Row = VeskDal::DalDatabase::Row;
using Result = VeskDal::DalDatabase::Result;

// One instance of a query class per process, used only to read the result names of its columns
// (which do not depend on the schema). Never runs a statement, so sharing it between threads is
// safe.
template <class TQuery>
const TQuery& columnsOf()
{
    static const TQuery s_query{VeskDal::SqlSchema()};
    return s_query;
}

// The value of a column of a row, or null when the row does not hold the column.
inline const VeskDal::SqlValue* column(const Row& row, const std::string& strName)
{
    Row::const_iterator it = row.find(strName);
    return it == row.end() ? nullptr : &it->second;
}

// A column value as an integer; stored text that is no integer throws 2001 naming the column, so a
// bad row fails like any other row with missing data.
inline int integerOf(const VeskDal::SqlValue& value, const std::string& strColumn)
{
    try {
        return value.asInt();
    } catch (const VeskDal::SqlException&) {
        throw OstrelData::Exception(__FILE__, __LINE__, OstrelData::nNAX_MISSINGDATA,
                                    strColumn + " is not an integer: " + value.string(), false);
    }
}

// The text of a SQL library failure that is not a database's own: explanation and details.
inline std::string describe(const VeskDal::SqlException& e)
{
    std::string strText = VeskDal::SqlException::explainErrorCode(e.errorCode());
    if (!e.legend().empty())
        strText += (strText.empty() ? "" : " ") + e.legend();
    return strText;
}

// Takes an entry out of its registry without destroying it. Model objects point at registry
// entries (a domain at its customer, a user at his domain, an authenticator's domain copy at its
// customer), and such objects live on in sessions, in the current user and in plug-ins; an entry
// that goes is therefore kept, unreachable through the registry, for the rest of the process.
template <class TMap>
void retireEntry(TMap& map, typename TMap::iterator it)
{
    static std::vector<typename TMap::node_type> s_retiredS;
    s_retiredS.push_back(map.extract(it));
}

} // namespace detail
} // namespace OstrelDataDB

#endif
