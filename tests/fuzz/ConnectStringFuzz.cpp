// Arbitrary bytes as a database connect string, given on a command line or as a connect file.
//
// A string either parses, and then writes back into a string that parses into the same parameters,
// or is refused with DDBERR_CONNECTSTRING, leaving the caller's map as it was and naming no more of
// the string than a parameter's name (a value may be a password). A connect file gives its first
// line or is refused with DDBERR_PARAMETER.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "FuzzTarget.h"
#include "OstrelDal/ConnectFile.h"
#include "VeskDal/DalDatabase.h"
#include "VeskDal/SqlException.h"

namespace {

using VeskDal::DalDatabase;
using OstrelFuzz::finding;

bool isNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.';
}

// The text between quotes in a refusal may only be a parameter's name.
void checkRefusal(const VeskDal::DalDatabaseException& e)
{
    if (e.errorCode() != VeskDal::DDBERR_CONNECTSTRING) finding(std::string("refused with another code: ") + e.what());
    const std::string& strLegend = e.nativeExplanation();
    bool bQuoted = false;
    for (char c : strLegend) {
        if (c == '"')
            bQuoted = !bQuoted;
        else if (bQuoted && !isNameChar(c))
            finding("a refusal quotes more than a name: " + strLegend);
    }
}

void parseString(const std::string& strConnect)
{
    DalDatabase::ConnectionParameterMap parameterS;
    try {
        DalDatabase::connectStringToMap(parameterS, strConnect, DalDatabase::csClearMap);
    } catch (const VeskDal::DalDatabaseException& e) {
        checkRefusal(e);
        DalDatabase::ConnectionParameterMap kept{{"engine", "sqlite"}, {"file", "kept"}};
        const DalDatabase::ConnectionParameterMap before = kept;
        try {
            DalDatabase::connectStringToMap(kept, strConnect, DalDatabase::csMerge);
            finding("refused once, taken the next time");
        } catch (const VeskDal::DalDatabaseException&) {
        }
        if (kept != before) finding("a refused string changed the caller's map");
        return;
    }
    const std::string strWritten = DalDatabase::mapToConnectString(parameterS);
    DalDatabase::ConnectionParameterMap againS;
    try {
        DalDatabase::connectStringToMap(againS, strWritten, DalDatabase::csClearMap);
    } catch (const VeskDal::DalDatabaseException& e) {
        finding("a written string does not parse: " + strWritten + ": " + e.what());
    }
    if (againS != parameterS) finding("a written string parses into other parameters: " + strWritten);
}

void readFile(const std::string& strText)
{
    const std::string strPath = OstrelFuzz::scratchFolder() + "/connect";
    int fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, strText.data(), strText.size()) != ssize_t(strText.size()))
        finding("cannot write the connect file");
    ::close(fd);
    std::string strLine = strText.substr(0, strText.find('\n'));
    if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();
    try {
        if (OstrelDal::connectStringFromFile(strPath) != strLine) finding("a connect file gave another line");
        if (strLine.empty()) finding("a connect file with an empty first line was taken");
    } catch (const VeskDal::DalDatabaseException& e) {
        if (e.errorCode() != VeskDal::DDBERR_PARAMETER) finding(std::string("refused with another code: ") + e.what());
        if (!strLine.empty()) finding(std::string("a good connect file was refused: ") + e.what());
    }
}

} // namespace

OSTREL_FUZZ_TARGET(fuzzConnectString)
{
    const std::string strInput(reinterpret_cast<const char*>(pbyData), nSize);
    parseString(strInput);
    readFile(strInput);
    return 0;
}
