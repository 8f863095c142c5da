#include "VeskDal/SqlException.h"

namespace VeskDal {

namespace {

struct Explanation {
    int nErrorCode;
    const char* pszExplanation;
};

const Explanation g_sqlExplanationS[] = {
    {SQLERR_NONE, "No error."},
    {SQLERR_EMPTYNAME, "A table, column or function has no name."},
    {SQLERR_BADIDENTIFIER, "A name cannot be written as an SQL identifier."},
    {SQLERR_BADFUNCTION, "A function name is not a plain SQL word."},
    {SQLERR_NOCOLUMNS, "The statement has no columns."},
    {SQLERR_NOVALUE, "A column to insert or update holds no valid value."},
    {SQLERR_INVALIDOPERAND, "An operand of the statement is invalid."},
    {SQLERR_BADCONDITION, "A condition is malformed."},
    {SQLERR_EMPTYCONDITION, "A condition holds no conditions."},
    {SQLERR_FOREIGNCOLUMN, "A column belongs to a table the statement does not name."},
    {SQLERR_DUPLICATEALIAS, "Two tables of the statement share a name or alias."},
    {SQLERR_BADLANGUAGE, "Unknown SQL language."},
    {SQLERR_NOTANINTEGER, "The value is not an integer."},
    {SQLERR_WRONGSTATEMENT, "The statement cannot be used this way."},
    {SQLERR_NOTABLE, "The query has no table."},
    {0, nullptr}};

const Explanation g_ddbExplanationS[] = {
    {DDBERR_USER, "Database usage error."},
    {DDBERR_UNKNOWNENGINE, "Unknown database engine."},
    {DDBERR_MODULELOAD, "Failed to load the database driver."},
    {DDBERR_CONNECTSTRING, "Malformed connect string."},
    {DDBERR_PARAMETER, "Bad connection parameter."},
    {DDBERR_CONNECT, "Failed to open the database."},
    {DDBERR_NOTOPEN, "The database handle is not open."},
    {DDBERR_STATEMENT, "The database failed the statement."},
    {DDBERR_TRANSACTION, "Transaction failure."},
    {DDBERR_CONNECTIONLOST, "The connection to the database broke inside a transaction."},
    {DDBERR_VALUE, "The database cannot hold the value unchanged."},
    {0, nullptr}};

std::string lookUp(const Explanation* pexplanation, int nErrorCode)
{
    for (; pexplanation->pszExplanation; ++pexplanation) {
        if (pexplanation->nErrorCode == nErrorCode) {
            return pexplanation->pszExplanation;
        }
    }
    return std::string();
}

} // namespace

SqlException::SqlException(const std::string& strFile, int nLine, int nErrorCode, const std::string& strLegend)
    : _strFile(strFile), _nLine(nLine), _nErrorCode(nErrorCode), _strLegend(strLegend)
{
    _strWhat = explainErrorCode(nErrorCode);
    if (!_strLegend.empty()) {
        _strWhat += (_strWhat.empty() ? "" : " ") + _strLegend;
    }
}

std::string SqlException::explainErrorCode(int nErrorCode)
{
    return lookUp(g_sqlExplanationS, nErrorCode);
}

DalDatabaseException::DalDatabaseException(const std::string& strFile, int nLine, int nErrorCode, int nSeverity,
                                           const std::string& strNativeExplanation)
    : _strFile(strFile), _nLine(nLine), _nErrorCode(nErrorCode), _nSeverity(nSeverity),
      _strNativeExplanation(strNativeExplanation)
{
}

std::string DalDatabaseException::explainErrorCode(int nErrorCode)
{
    return lookUp(g_ddbExplanationS, nErrorCode);
}

} // namespace VeskDal
