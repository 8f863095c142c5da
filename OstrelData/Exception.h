#ifndef OSTRELDATA_EXCEPTION_H
#define OSTRELDATA_EXCEPTION_H

#include <ostream>
#include <string>

#include "OstrelData/Export.h"

namespace OstrelData {

// Error codes: the hundreds and thousands group them (1-20 protocol and
// authentication, 100-109 look-ups, 201 sessions, 501-520 missing links, ...).
constexpr int nNAX_UNKNOWN = -1;
constexpr int nNAX_AUTHENTICATIONFAILED = 1;
constexpr int nNAX_APPLICATIONABORTED = 5;
constexpr int nNAX_BADREQUEST = 10;
constexpr int nNAX_RESPONSETIMEOUT = 20;
constexpr int nNAX_ALIENEXCEPTION = 100;
constexpr int nNAX_USERNOTFOUND = 101;
constexpr int nNAX_CUSTOMERNOTFOUND = 102;
constexpr int nNAX_DOMAINNOTFOUND = 103;
constexpr int nNAX_TEAMNOTFOUND = 104;
constexpr int nNAX_PRODUCTNOTFOUND = 105;
constexpr int nNAX_PLATFORMNOTFOUND = 106;
constexpr int nNAX_AUTHENTICATIONLIBRARYNOTFOUND = 107;
constexpr int nNAX_PERMISSIONNOTFOUND = 108;
constexpr int nNAX_ROLEPERMISSIONNOTFOUND = 109;
constexpr int nNAX_BADSESSION = 201;
constexpr int nNAX_NOTEAMLEADSET = 501;
constexpr int nNAX_NOCUSTOMERSET = 502;
constexpr int nNAX_NODOMAINSET = 503;
constexpr int nNAX_NOPLATFORMSET = 504;
constexpr int nNAX_NOAUTHENTICATIONLIBRARYSET = 505;
constexpr int nNAX_NOSHAREDOBJECTSET = 506;
constexpr int nNAX_NOPAIRSET = 520;
constexpr int nNAX_UPDATEFAILED = 600;
constexpr int nNAX_MISMATCHEDNODE = 1001;
constexpr int nNAX_MALFORMEDXML = 1011;
constexpr int nNAX_DATABASE = 1021;
constexpr int nNAX_NOSERVERCONNECT = 1022;
constexpr int nNAX_MISSINGDATA = 2001;
constexpr int nNAX_BADTEMPLATE = 3001;
constexpr int nNAX_NOSUCHVARIABLE = 3002;
constexpr int nNAX_NOSUCHPRODUCT = 3003;
constexpr int nNAX_NOSUCHPROFILE = 3005;
constexpr int nNAX_NOSHAREDOBJECT = 5001;
constexpr int nNAX_NOENTRYPOINT = 5002;
constexpr int nNAX_LIBRARYNOTLOADED = 5003;
constexpr int nNAX_AUTHENTICATIONLIBRARYINITFAILED = 5011;
constexpr int nNAX_AUTHENTICATORINITFAILED = 5012;
constexpr int nNAX_NOAUTHENTICATORSET = 5021;
constexpr int nNAX_NOPRODUCTSET = 5022;
constexpr int nNAX_NOROLESET = 5023;
constexpr int nNAX_NODEFAULTPROFILESET = 5031;
constexpr int nNAX_NOUNIQUEUSER = 5101;
constexpr int nNAX_VERSIONMISMATCH = 5201;
constexpr int nNAX_KEYOPENFAILED = 6001;
constexpr int nNAX_CONNECTOPENFAILED = 6002;
constexpr int nNAX_BADCONFIG = 6111;
constexpr int nNAX_BADUSERFORMAT = 6151;
constexpr int nNAX_PERMISSIONDENIED = 6666;
constexpr int nNAX_NOTIMPLEMENTED = 7001;
constexpr int nNAX_FILEOPENFAILED = 7100;
constexpr int nNAX_SEARCHEXECFAILED = 7500;

// One record of the explanation table; the table ends with a record whose
// pszExplanation is null.
struct Explanation {
    int nErrorCode;
    const char* pszExplanation;
};

// The one failure type of the whole system. Thrown by value (use OSTREL_RAISE
// so the raise site is recorded), caught by reference; immutable once built.
// The explanation is looked up from the code when shown, never stored.
class OSTRELDATA_API Exception {
public:
    Exception();
    Exception(const std::string& strFile, int nLine, int nErrorCode, const std::string& strLegend, bool bRemote);
    Exception(const Exception& other);
    Exception& operator=(const Exception& other);
    virtual ~Exception();

    const std::string& file() const { return _strFile; }
    int line() const { return _nLine; }
    int errorCode() const { return _nErrorCode; }
    const std::string& legend() const { return _strLegend; }
    bool remote() const { return _bRemote; }

    // The fixed sentence for a code; empty for a code the table does not hold.
    static std::string explainErrorCode(int nErrorCode);

private:
    std::string _strFile;
    int _nLine;
    int _nErrorCode;
    std::string _strLegend;
    bool _bRemote;
};

// Four lines, each ended by '\n' (no flush):
//   Error Code=<code>
//   Explanation="<explanation>"
//   Legend="<legend>"
//   Location=[REMOTE: ]<file> @ <line>
OSTRELDATA_API std::ostream& operator<<(std::ostream& os, const Exception& e);

} // namespace OstrelData

// Raise sites record their own file and line.
#define OSTREL_RAISE(nCode, strLegend) \
    throw ::OstrelData::Exception(__FILE__, __LINE__, (nCode), (strLegend), false)
#define OSTREL_RAISE_REMOTE(nCode, strLegend) \
    throw ::OstrelData::Exception(__FILE__, __LINE__, (nCode), (strLegend), true)

#endif
