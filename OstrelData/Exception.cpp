#include "OstrelData/Exception.h"

namespace OstrelData {

namespace {

const Explanation g_explanationS[] = {
    {nNAX_UNKNOWN, "Unknown Error."},
    {nNAX_AUTHENTICATIONFAILED, "Authentication Failed."},
    {nNAX_APPLICATIONABORTED, "Application Aborted."},
    {nNAX_BADREQUEST, "Bad Request."},
    {nNAX_RESPONSETIMEOUT, "Response Timeout."},
    {nNAX_ALIENEXCEPTION, "Alien exception caught."},
    {nNAX_USERNOTFOUND, "User not found."},
    {nNAX_CUSTOMERNOTFOUND, "Customer not found."},
    {nNAX_DOMAINNOTFOUND, "Domain not found."},
    {nNAX_TEAMNOTFOUND, "Team not found."},
    {nNAX_PRODUCTNOTFOUND, "Product not found."},
    {nNAX_PLATFORMNOTFOUND, "Platform not found."},
    {nNAX_AUTHENTICATIONLIBRARYNOTFOUND, "Authentication library not found."},
    {nNAX_PERMISSIONNOTFOUND, "Permission not found."},
    {nNAX_ROLEPERMISSIONNOTFOUND, "Role permission not found."},
    {nNAX_BADSESSION, "Bad session."},
    {nNAX_NOTEAMLEADSET, "No team lead set."},
    {nNAX_NOCUSTOMERSET, "No customer set."},
    {nNAX_NODOMAINSET, "No domain set."},
    {nNAX_NOPLATFORMSET, "No platform set."},
    {nNAX_NOAUTHENTICATIONLIBRARYSET, "No authentication library set."},
    {nNAX_NOSHAREDOBJECTSET, "No shared object set (for platform)."},
    {nNAX_NOPAIRSET, "No pair set."},
    {nNAX_UPDATEFAILED, "Update failed."},
    {nNAX_MISMATCHEDNODE, "Node name does not match value name."},
    {nNAX_MALFORMEDXML, "XML is malformed."},
    {nNAX_DATABASE, "Failed to execute statement."},
    {nNAX_NOSERVERCONNECT, "Failed to connect to server."},
    {nNAX_MISSINGDATA, "Attempt to create Ostrel object from incorrect data object type."},
    {nNAX_BADTEMPLATE, "Bad substitution template."},
    {nNAX_NOSUCHVARIABLE, "No such variable."},
    {nNAX_NOSUCHPRODUCT, "No such product."},
    {nNAX_NOSUCHPROFILE, "No such profile."},
    {nNAX_NOSHAREDOBJECT, "Failed to load shared object."},
    {nNAX_NOENTRYPOINT, "Failed to locate entry point."},
    {nNAX_LIBRARYNOTLOADED, "The AuthenticationLibrary is not loaded."},
    {nNAX_AUTHENTICATIONLIBRARYINITFAILED, "Failed to initialize the AuthenticationLibrary."},
    {nNAX_AUTHENTICATORINITFAILED, "Failed to initialize the Authenticator."},
    {nNAX_NOAUTHENTICATORSET, "Domain has no authenticator set."},
    {nNAX_NOPRODUCTSET, "Role/Permission has no product set."},
    {nNAX_NOROLESET, "Permission has no role set."},
    {nNAX_NODEFAULTPROFILESET, "No default Profile set."},
    {nNAX_NOUNIQUEUSER, "Failed to uniquely identify a user."},
    {nNAX_VERSIONMISMATCH, "The server version does not support the client version."},
    {nNAX_KEYOPENFAILED, "Failed to read a key file."},
    {nNAX_CONNECTOPENFAILED, "Failed to retrieve connection from file."},
    {nNAX_BADCONFIG, "Bad Config."},
    {nNAX_BADUSERFORMAT, "Bad user format."},
    {nNAX_PERMISSIONDENIED, "Permission Denied."},
    {nNAX_NOTIMPLEMENTED, "Feature has not been implemented."},
    {nNAX_FILEOPENFAILED, "File open failed."},
    {nNAX_SEARCHEXECFAILED, "Failed to execute search."},
    {0, nullptr},
};

} // namespace

Exception::Exception() : _nLine(-1), _nErrorCode(0), _bRemote(false) {}

Exception::Exception(const std::string& strFile, int nLine, int nErrorCode, const std::string& strLegend,
                     bool bRemote)
    : _strFile(strFile), _nLine(nLine), _nErrorCode(nErrorCode), _strLegend(strLegend), _bRemote(bRemote)
{
}

Exception::Exception(const Exception& other) = default;

Exception& Exception::operator=(const Exception& other)
{
    if (this != &other) {
        _strFile = other._strFile;
        _nLine = other._nLine;
        _nErrorCode = other._nErrorCode;
        _strLegend = other._strLegend;
        _bRemote = other._bRemote;
    }
    return *this;
}

Exception::~Exception() = default;

std::string Exception::explainErrorCode(int nErrorCode)
{
    // The terminator is recognised by its null text, so its code (0) never matches.
    const Explanation* p = g_explanationS;
    while (p->pszExplanation != nullptr && p->nErrorCode != nErrorCode)
        ++p;
    return p->pszExplanation != nullptr ? std::string(p->pszExplanation) : std::string();
}

std::ostream& operator<<(std::ostream& os, const Exception& e)
{
    os << "Error Code=" << e.errorCode() << '\n';
    os << "Explanation=\"" << Exception::explainErrorCode(e.errorCode()) << "\"\n";
    os << "Legend=\"" << e.legend() << "\"\n";
    os << "Location=" << (e.remote() ? "REMOTE: " : "") << e.file() << " @ " << e.line() << '\n';
    return os;
}

} // namespace OstrelData
