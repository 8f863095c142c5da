#include "AuthSql/PasswordHash.h"

#include <sodium.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "OstrelData/Exception.h"

namespace AuthSql {

namespace {

// Memory beyond this is surely a typing mistake, and would let one login take the machine.
constexpr unsigned long long nMaxMemKiB = 4ull * 1024 * 1024;

void initialiseSodium()
{
    static std::once_flag s_once;
    std::call_once(s_once, [] {
        if (sodium_init() < 0)
            OSTREL_RAISE(OstrelData::nNAX_AUTHENTICATIONLIBRARYINITFAILED, "libsodium could not be initialised");
    });
}

// The parameter's value, the authenticator's before the library's; null when neither has it.
const std::string* lookUp(const OstrelData::InitMap& initLibrary, const OstrelData::InitMap& initAuthenticator,
                          const char* pszName)
{
    OstrelData::InitMap::const_iterator it = initAuthenticator.find(pszName);
    if (it != initAuthenticator.end()) return &it->second;
    it = initLibrary.find(pszName);
    return it != initLibrary.end() ? &it->second : nullptr;
}

unsigned long long wholeNumber(const std::string& strValue, const char* pszName, unsigned long long nMin,
                               unsigned long long nMax)
{
    const char* psz = strValue.c_str();
    char* pszEnd = nullptr;
    errno = 0;
    unsigned long long n = std::strtoull(psz, &pszEnd, 10);
    if (strValue.empty() || *pszEnd != '\0' || errno == ERANGE || strValue[0] == '-' || n < nMin || n > nMax)
        OSTREL_RAISE(OstrelData::nNAX_AUTHENTICATORINITFAILED,
                     std::string(pszName) + " must be a whole number from " + std::to_string(nMin) + " to " +
                         std::to_string(nMax) + ", not '" + strValue + "'");
    return n;
}

} // namespace

PasswordCost PasswordCost::standard()
{
    return PasswordCost{2, 19u * 1024u * 1024u};
}

PasswordCost PasswordCost::lowest()
{
    return PasswordCost{crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN};
}

PasswordCost costFrom(const OstrelData::InitMap& initLibrary, const OstrelData::InitMap& initAuthenticator)
{
    PasswordCost cost = PasswordCost::standard();
    if (const std::string* pstr = lookUp(initLibrary, initAuthenticator, pszParamOpsLimit))
        cost.nOpsLimit = wholeNumber(*pstr, pszParamOpsLimit, crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_OPSLIMIT_MAX);
    if (const std::string* pstr = lookUp(initLibrary, initAuthenticator, pszParamMemLimitKiB)) {
        unsigned long long nKiB =
            wholeNumber(*pstr, pszParamMemLimitKiB, (crypto_pwhash_MEMLIMIT_MIN + 1023) / 1024, nMaxMemKiB);
        cost.nMemLimit = static_cast<size_t>(nKiB * 1024);
    }
    return cost;
}

std::string hashPassword(const std::string& strPassword, const PasswordCost& cost)
{
    initialiseSodium();
    std::vector<char> achHash(crypto_pwhash_STRBYTES);
    if (crypto_pwhash_str(achHash.data(), strPassword.data(), strPassword.size(), cost.nOpsLimit, cost.nMemLimit) !=
        0)
        OSTREL_RAISE(OstrelData::nNAX_UPDATEFAILED, "Not enough memory to hash the password.");
    return std::string(achHash.data());
}

bool verifyPassword(const std::string& strHash, const std::string& strPassword)
{
    initialiseSodium();
    // libsodium reads the hash as a C string: a stored text with a NUL inside would be cut short
    // there, so it is refused outright.
    if (strHash.size() >= crypto_pwhash_STRBYTES || strHash.find('\0') != std::string::npos) return false;
    return crypto_pwhash_str_verify(strHash.c_str(), strPassword.data(), strPassword.size()) == 0;
}

bool needsRehash(const std::string& strHash, const PasswordCost& cost)
{
    initialiseSodium();
    if (strHash.size() >= crypto_pwhash_STRBYTES || strHash.find('\0') != std::string::npos) return true;
    return crypto_pwhash_str_needs_rehash(strHash.c_str(), cost.nOpsLimit, cost.nMemLimit) != 0;
}

} // namespace AuthSql
