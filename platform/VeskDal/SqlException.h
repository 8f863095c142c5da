#ifndef VESKDAL_SQLEXCEPTION_H
#define VESKDAL_SQLEXCEPTION_H

#include <exception>
#include <string>

#include "VeskDal/Export.h"

namespace VeskDal {

// Faults in building or rendering a statement, or in reading a value (SqlException codes).
constexpr int SQLERR_NONE = 0;
constexpr int SQLERR_EMPTYNAME = 1;          // a table, column or function without a name
constexpr int SQLERR_BADIDENTIFIER = 2;      // a name that cannot be quoted (holds a NUL character)
constexpr int SQLERR_BADFUNCTION = 3;        // a function name that is not a plain SQL word
constexpr int SQLERR_NOCOLUMNS = 4;          // a select, insert or update without columns
constexpr int SQLERR_NOVALUE = 5;            // an insert or update column without a valid value
constexpr int SQLERR_INVALIDOPERAND = 6;     // an invalid column pointer where an operand is needed
constexpr int SQLERR_BADCONDITION = 7;       // a condition or modifier outside its enumeration
constexpr int SQLERR_EMPTYCONDITION = 8;     // a WHERE clause or join condition without any condition
constexpr int SQLERR_FOREIGNCOLUMN = 9;      // a column of a table the statement does not name
constexpr int SQLERR_DUPLICATEALIAS = 10;    // two tables of one statement under the same name or alias
constexpr int SQLERR_BADLANGUAGE = 11;       // a language outside SqlLanguage
constexpr int SQLERR_NOTANINTEGER = 12;      // asInt() of an invalid value or of text that is no integer
constexpr int SQLERR_WRONGSTATEMENT = 13;    // a select given to execute(), or another misuse of a statement
constexpr int SQLERR_NOTABLE = 14;           // a query without any registered column asked for its table

// Faults of a database handle (DalDatabaseException codes).
constexpr int DDBERR_USER = 5000;            // raised by a user of the library with its own explanation
constexpr int DDBERR_UNKNOWNENGINE = 5001;   // no driver of that engine name
constexpr int DDBERR_MODULELOAD = 5002;      // the driver module could not be loaded or has no entry point
constexpr int DDBERR_CONNECTSTRING = 5003;   // a connect string that does not parse
constexpr int DDBERR_PARAMETER = 5004;       // a connection parameter with a bad value, or a missing one
constexpr int DDBERR_CONNECT = 5005;         // the database could not be opened or the server not reached
constexpr int DDBERR_NOTOPEN = 5006;         // a statement on a handle that is not open
constexpr int DDBERR_STATEMENT = 5007;       // the database refused or failed a statement
constexpr int DDBERR_TRANSACTION = 5008;     // begin/commit/rollback out of order, or a commit that rolled back
constexpr int DDBERR_CONNECTIONLOST = 5009;  // the connection broke inside a transaction (its work is lost)
constexpr int DDBERR_VALUE = 5010;           // a bound value the engine cannot carry unchanged

// Failure while building or rendering a statement, or while reading a value.
class VESKDAL_API SqlException : public std::exception {
public:
    SqlException(const std::string& strFile, int nLine, int nErrorCode, const std::string& strLegend);

    const std::string& file() const { return _strFile; }
    int line() const { return _nLine; }
    int errorCode() const { return _nErrorCode; }
    // Details of this occurrence (the name or value at fault).
    const std::string& legend() const { return _strLegend; }
    // The fixed explanation of a code; empty for a code the library does not know.
    static std::string explainErrorCode(int nErrorCode);
    // Explanation and legend together.
    const char* what() const noexcept override { return _strWhat.c_str(); }

private:
    std::string _strFile;
    int _nLine;
    int _nErrorCode;
    std::string _strLegend;
    std::string _strWhat;
};

// Failure of a database handle: loading a driver, opening, running a statement, a transaction.
class VESKDAL_API DalDatabaseException : public std::exception {
public:
    // nSeverity: 1 for an error (the only kind the library raises); kept for the caller's log.
    DalDatabaseException(const std::string& strFile, int nLine, int nErrorCode, int nSeverity,
                         const std::string& strNativeExplanation);

    const std::string& file() const { return _strFile; }
    int line() const { return _nLine; }
    int errorCode() const { return _nErrorCode; }
    int severity() const { return _nSeverity; }
    // The database server's (or client library's) own message, with what the library was doing.
    const std::string& nativeExplanation() const { return _strNativeExplanation; }
    // The fixed explanation of a DDBERR_ code; empty for a code the library does not know.
    static std::string explainErrorCode(int nErrorCode);
    const char* what() const noexcept override { return _strNativeExplanation.c_str(); }

private:
    std::string _strFile;
    int _nLine;
    int _nErrorCode;
    int _nSeverity;
    std::string _strNativeExplanation;
};

} // namespace VeskDal

#endif
