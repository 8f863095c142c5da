#ifndef OSTRELDATADB_FACTORYSUPPORT_H
#define OSTRELDATADB_FACTORYSUPPORT_H

// Internal to the library: reading result rows by the column names of the query classes, the one
// conversion of the SQL library's failures, and taking entries out of the registries, as every
// source of the factory does them.

#include <string>
#include <utility>
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

// ---- the SQL library's failures, converted once at every boundary of the factory

// The code and remote flag one kind of operation gives a failure of the SQL library: one row of
// the table atop OstrelFactory.h.
struct FailureRule {
    int nCode;
    bool bRemote;
};

constexpr FailureRule g_ruleLoad{OstrelData::nNAX_ALIENEXCEPTION, true};
constexpr FailureRule g_ruleStatement{OstrelData::nNAX_DATABASE, true};
constexpr FailureRule g_ruleCatalogue{OstrelData::nNAX_DATABASE, false};

// The exception a failure of the SQL library becomes under rule. The legend holds the database's
// own explanation, or for a statement the library refused to build, the explanation of its code:
// text for the operator's log, which the daemon keeps out of its replies.
inline OstrelData::Exception databaseFailure(const FailureRule& rule, const VeskDal::DalDatabaseException& e,
                                             const char* pszFile, int nLine)
{
    return OstrelData::Exception(pszFile, nLine, rule.nCode, e.nativeExplanation(), rule.bRemote);
}
inline OstrelData::Exception databaseFailure(const FailureRule& rule, const VeskDal::SqlException& e,
                                             const char* pszFile, int nLine)
{
    return OstrelData::Exception(pszFile, nLine, rule.nCode, VeskDal::SqlException::explainErrorCode(e.errorCode()),
                                 rule.bRemote);
}

// Runs fn; a failure of the SQL library goes, converted under rule, to handle (which throws it, or
// logs it where the operation goes on). Anything else passes unchanged. The exception names the
// caller's line, where the operation met the failure.
template <class TFn, class THandle>
void onDatabaseFailure(const FailureRule& rule, TFn&& fn, THandle&& handle, const char* pszFile = __builtin_FILE(),
                       int nLine = __builtin_LINE())
{
    try {
        fn();
    } catch (const VeskDal::DalDatabaseException& e) {
        handle(databaseFailure(rule, e, pszFile, nLine));
    } catch (const VeskDal::SqlException& e) {
        handle(databaseFailure(rule, e, pszFile, nLine));
    }
}

// Runs fn; a failure of the SQL library is thrown converted under rule.
template <class TFn>
void convertingDatabaseFailures(const FailureRule& rule, TFn&& fn, const char* pszFile = __builtin_FILE(),
                                int nLine = __builtin_LINE())
{
    onDatabaseFailure(
        rule, std::forward<TFn>(fn), [](const OstrelData::Exception& e) { throw e; }, pszFile, nLine);
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
