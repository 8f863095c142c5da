#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "../EchoOff.h"
#include "Admin.h"

namespace OstrelAdmin {

namespace {

// The longest password a client can send: it travels as one number below the service's RSA
// modulus, without padding, and every key the clients take has at least 2048 bits, so 255 bytes
// always fit and 256 only sometimes. (The protocol's own bound, 4096 bytes, is further off.) A
// longer password could be stored but never used to log in.
constexpr size_t nMaxPassword = 255;

std::string tooLongPassword()
{
    return "the password is longer than " + std::to_string(nMaxPassword) +
           " bytes, the most a client can send under the service's 2048-bit key";
}

// One line from fd, without its line feed or a carriage return before it (nor one that ends the
// input); false at the end of the input before any character. Reading stops at the first character
// past nMost (bTooLong): an input without a line feed is not read to its end. The rest of a line
// typed on a terminal is thrown away there, so that it does not reach the shell once the tool has
// ended. A read error, or a NUL, which no client could send and a C string would cut short, is a
// Failure naming pszWhat, never a line cut short.
bool readLine(int fd, std::string& strLine, bool& bTooLong, const char* pszWhat, size_t nMost = nMaxPassword)
{
    strLine.clear();
    strLine.reserve(nMost + 2);  // no reallocation leaves a part of the password behind
    bTooLong = false;
    bool bAny = false;
    auto fail = [&strLine](const std::string& strWhy) {
        OstrelData::wipePassword(strLine);
        throw Failure(strWhy);
    };
    char ch;
    for (;;) {
        ssize_t n = ::read(fd, &ch, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail(std::string("cannot read ") + pszWhat + ": " + std::strerror(errno));
        if (n == 0) break;
        bAny = true;
        if (ch == '\n') break;
        if (ch == '\0') fail(std::string(pszWhat) + " holds a NUL byte");
        // One more for a carriage return, which may end a line of the most there may be.
        if (strLine.size() > nMost || (strLine.size() == nMost && ch != '\r')) {
            bTooLong = true;
            if (::isatty(fd)) ::tcflush(fd, TCIFLUSH);
            return true;
        }
        strLine += ch;
    }
    if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();
    return bAny;
}

// Asks on the terminal with echo off, restoring the terminal whatever happens, a signal included.
std::string askWithoutEcho(int fd, const std::string& strPrompt)
{
    termios current{};
    if (::tcgetattr(fd, &current) != 0) throw Failure("cannot use the terminal: " + std::string(std::strerror(errno)));
    ::dprintf(fd, "%s", strPrompt.c_str());
    std::string strLine;
    bool bTooLong = false;
    bool bRead;
    {
        ostreltools::EchoOff echoOff(fd);
        bRead = readLine(fd, strLine, bTooLong, "the password");
    }
    ::dprintf(fd, "\n");
    if (!bRead) throw Failure("no password given");
    if (bTooLong) {
        OstrelData::wipePassword(strLine);
        throw Failure(tooLongPassword());
    }
    return strLine;
}

} // namespace

const std::string& word(const Context& context, size_t n)
{
    return context.args.words().at(n);
}

std::string columnText(const VeskDal::DalDatabase::Row& row, const char* pszColumn)
{
    VeskDal::DalDatabase::Row::const_iterator it = row.find(pszColumn);
    return it == row.end() ? std::string() : it->second.string();
}

int integerArgument(const std::string& strText, const char* pszWhat)
{
    const char* psz = strText.c_str();
    char* pszEnd = nullptr;
    errno = 0;
    long n = std::strtol(psz, &pszEnd, 10);
    if (strText.empty() || *pszEnd != '\0' || errno == ERANGE || n < INT_MIN || n > INT_MAX)
        throw UsageError(std::string(pszWhat) + " must be a whole number, not '" + strText + "'");
    return static_cast<int>(n);
}

// An empty id is kept by the database, but the XML the daemon sends its clients cannot carry it:
// every client's reading of the organisation would then fail, and with it every login.
const std::string& newIdArgument(const std::string& strText, const char* pszWhat)
{
    if (strText.empty()) throw UsageError(std::string(pszWhat) + " cannot be empty");
    return strText;
}

// Nobody could log in to a domain whose name holds one: the text would not name it.
const std::string& newDomainArgument(const std::string& strText)
{
    if (newIdArgument(strText, "a domain's name").find_first_of("/\\@") != std::string::npos)
        throw UsageError("a domain's name cannot hold '/', '\\' or '@', which part it from a user id");
    return strText;
}

OstrelData::PRStatus statusArgument(const std::string& strText)
{
    using OstrelData::PRStatus;
    if (strText == "granted" || strText == "1") return PRStatus(PRStatus::statusGranted);
    if (strText == "denied" || strText == "0") return PRStatus(PRStatus::statusDenied);
    if (strText == "revoked" || strText == "-1") return PRStatus(PRStatus::statusRevoked);
    throw UsageError("a status is granted, denied or revoked, not '" + strText + "'");
}

std::string statusText(const OstrelData::PRStatus& status)
{
    switch (static_cast<OstrelData::PRStatus::PRStatusRaw>(status)) {
    case OstrelData::PRStatus::statusGranted: return "granted";
    case OstrelData::PRStatus::statusRevoked: return "revoked";
    case OstrelData::PRStatus::statusDenied: return "denied";
    }
    return "denied";
}

bool yesNoArgument(const std::string& strText, const char* pszWhat)
{
    if (strText == "yes" || strText == "y" || strText == "true" || strText == "1") return true;
    if (strText == "no" || strText == "n" || strText == "false" || strText == "0") return false;
    throw UsageError(std::string(pszWhat) + " is yes or no, not '" + strText + "'");
}

OstrelData::Customer& registeredCustomer(const std::string& strCustomer)
{
    OstrelData::CustomerMap::iterator it = OstrelData::Factory::customers().find(strCustomer);
    if (it == OstrelData::Factory::customers().end()) throw Failure("no customer '" + strCustomer + "'");
    return it->second;
}

OstrelData::Domain& registeredDomain(const std::string& strDomain)
{
    OstrelData::DomainMap::iterator it = OstrelData::Factory::domains().find(strDomain);
    if (it == OstrelData::Factory::domains().end()) throw Failure("no domain '" + strDomain + "'");
    return it->second;
}

OstrelData::Team& registeredTeam(int nTeam)
{
    OstrelData::TeamMap::iterator it = OstrelData::Factory::teams().find(nTeam);
    if (it == OstrelData::Factory::teams().end()) throw Failure("no team " + std::to_string(nTeam));
    return it->second;
}

OstrelData::Product& registeredProduct(int nProduct)
{
    OstrelData::ProductMap::iterator it = OstrelData::Factory::products().find(nProduct);
    if (it == OstrelData::Factory::products().end()) throw Failure("no product " + std::to_string(nProduct));
    return it->second;
}

OstrelData::Role& registeredRole(OstrelData::Product& product, int nRole)
{
    OstrelData::RoleMap::iterator it = product.roles().find(nRole);
    if (it == product.roles().end())
        throw Failure("product " + std::to_string(product.product()) + " has no role " + std::to_string(nRole));
    return it->second;
}

OstrelData::Permission& registeredPermission(OstrelData::Product& product, int nPermission)
{
    OstrelData::PermissionMap::iterator it = product.permissions().find(nPermission);
    if (it == product.permissions().end())
        throw Failure("product " + std::to_string(product.product()) + " has no permission " +
                      std::to_string(nPermission));
    return it->second;
}

OstrelData::User userArgument(const std::string& strText)
{
    std::string strDomain, strUserId;
    std::string::size_type n = strText.find_first_of("/\\");
    if (n != std::string::npos) {
        strDomain = strText.substr(0, n);
        strUserId = strText.substr(n + 1);
    } else if ((n = strText.rfind('@')) != std::string::npos) {
        strUserId = strText.substr(0, n);
        strDomain = strText.substr(n + 1);
    }
    if (strDomain.empty() || strUserId.empty())
        throw UsageError("a user is written DOMAIN/USER, not '" + strText + "'");
    return OstrelData::User(registeredDomain(strDomain), strUserId, "", "", "");
}

OstrelData::Authenticator& authenticatorOf(const OstrelData::Domain& domain)
{
    OstrelData::AuthenticatorPtrMap::iterator it = OstrelData::Factory::authenticators().find(domain.domain());
    if (it == OstrelData::Factory::authenticators().end() || it->second == nullptr)
        throw Failure("domain '" + domain.domain() +
                      "' has no working authenticator (is its library registered and its plug-in loadable?)");
    return *it->second;
}

void actAsOperator()
{
    using namespace OstrelData;
    ProductMap::const_iterator it = Factory::products().find(OSROstrel::nOSRD_Ostrel);
    if (it == Factory::products().end())
        throw Failure("the database has no product 0: run 'ostrel-admin init' first");
    Product ostrel = it->second;
    Permission& maintain = Factory::createPermission(ostrel, OSROstrel::nOSRP_Maintain_Products);
    maintain.setStatus(PRStatus(PRStatus::statusGranted));
    User operatorUser;
    operatorUser.products().insert_or_assign(ostrel.product(), ostrel);
    Factory::setAuthenticatedUser(AuthenticatedUser(operatorUser, SessionString("ostrel-admin"), Profile()));
}

// SQLite would make a missing database file with the umask's mode, commonly readable by every local
// user, and the file holds the password hashes: so the tool makes it first. A file that is there
// keeps its mode, which the operator may have chosen; any other failure is left for SQLite to report
// as it opens the file.
void createSqliteFileForOwnerOnly(const std::string& strConnect)
{
    VeskDal::DalDatabase::ConnectionParameterMap parameterS;
    VeskDal::DalDatabase::connectStringToMap(parameterS, strConnect, VeskDal::DalDatabase::csClearMap);
    auto parameter = [&](const char* pszName, const std::string& strDefault) {
        auto it = parameterS.find(pszName);
        return it == parameterS.end() ? strDefault : it->second;
    };
    if (parameter("engine", "mysql") != "sqlite" || parameter("mode", "rwc") != "rwc") return;
    const std::string strFile = parameter("file", parameter("database", ""));
    if (strFile.empty() || strFile == ":memory:" || strFile.compare(0, 5, "file:") == 0) return;
    int fd = ::open(strFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
}

std::string readValueFromInput()
{
    constexpr size_t nMostValue = 4096;
    std::string strValue;
    bool bTooLong = false;
    bool bRead;
    {
        // A value typed at a terminal, a secret most often, is not shown.
        std::unique_ptr<ostreltools::EchoOff> pechoOff;
        if (::isatty(STDIN_FILENO)) pechoOff = std::make_unique<ostreltools::EchoOff>(STDIN_FILENO);
        bRead = readLine(STDIN_FILENO, strValue, bTooLong, "the value", nMostValue);
    }
    if (!bRead) throw Failure("no value on standard input");
    if (bTooLong) {
        OstrelData::wipePassword(strValue);
        throw Failure("the value is longer than " + std::to_string(nMostValue) + " bytes");
    }
    return strValue;
}

std::string readNewPassword(const Context& context, const std::string& strFor)
{
    std::string strPassword;
    if (context.args.has("password-stdin")) {
        bool bTooLong = false;
        if (!readLine(STDIN_FILENO, strPassword, bTooLong, "the password")) throw Failure("no password on standard input");
        if (bTooLong) {
            OstrelData::wipePassword(strPassword);
            throw Failure(tooLongPassword());
        }
    } else {
        int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
        if (fd < 0)
            throw Failure("no terminal to ask for the password on; give it on standard input with --password-stdin");
        try {
            strPassword = askWithoutEcho(fd, "New password for " + strFor + ": ");
            std::string strAgain = askWithoutEcho(fd, "Again: ");
            bool bSame = strAgain == strPassword;
            OstrelData::wipePassword(strAgain);
            if (!bSame) {
                OstrelData::wipePassword(strPassword);
                throw Failure("the two passwords differ");
            }
        } catch (...) {
            ::close(fd);
            throw;
        }
        ::close(fd);
    }
    if (strPassword.empty()) throw Failure("the password is empty");
    return strPassword;
}

} // namespace OstrelAdmin
