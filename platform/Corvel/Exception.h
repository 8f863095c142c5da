#ifndef CORVEL_EXCEPTION_H
#define CORVEL_EXCEPTION_H

#include <exception>
#include <ostream>
#include <string>

#include "Corvel/Export.h"

namespace Corvel {

// The legend says it all.
constexpr int CVLX_SEELEGEND = 0;

// Failure of the foundation layer (transport, parsing of versions, ...).
class CORVEL_API Exception : public std::exception {
public:
    Exception(const std::string& strFile, int nLine, int nCode, bool bFlag, const std::string& strLegend);

    const std::string& file() const { return _strFile; }
    int line() const { return _nLine; }
    int code() const { return _nCode; }
    bool flag() const { return _bFlag; }
    const std::string& legend() const { return _strLegend; }
    const char* what() const noexcept override { return _strLegend.c_str(); }

private:
    std::string _strFile;
    int _nLine;
    int _nCode;
    bool _bFlag;
    std::string _strLegend;
};

// "Corvel::Exception code=<n> at <file> @ <line>: <legend>"
CORVEL_API std::ostream& operator<<(std::ostream& os, const Exception& e);

} // namespace Corvel

#endif
