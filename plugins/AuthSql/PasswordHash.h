#ifndef AUTHSQL_PASSWORDHASH_H
#define AUTHSQL_PASSWORDHASH_H

#include <cstddef>
#include <string>

#include "OstrelData/InitMap.h"

namespace AuthSql {

// The cost of one Argon2id hash: passes over memory and memory in bytes (one lane, as libsodium
// does it). Stored hashes carry their own cost, so a change applies to passwords set afterwards.
struct PasswordCost {
    unsigned long long nOpsLimit;
    size_t nMemLimit;

    // OWASP's minimum for Argon2id: 19 MiB, two passes.
    static PasswordCost standard();
    // The cheapest cost libsodium accepts; for tests and benchmarks of everything but the hash.
    static PasswordCost lowest();
};

// Parameter names read by costFrom, in library and authenticator parameters alike.
constexpr const char* pszParamOpsLimit = "argon2_opslimit";
constexpr const char* pszParamMemLimitKiB = "argon2_memlimit_kib";

// The cost named by the parameters: the authenticator's value of a parameter wins over the
// library's, and a parameter neither gives keeps the standard value. Throws 5012 naming the
// parameter for a value that is no whole number or lies outside what libsodium accepts (memory
// above 4 GiB is refused too).
PasswordCost costFrom(const OstrelData::InitMap& initLibrary, const OstrelData::InitMap& initAuthenticator);

// An Argon2id hash of the password in libsodium's text form ("$argon2id$v=19$m=...").
// Throws 600 when the system cannot spare the memory.
std::string hashPassword(const std::string& strPassword, const PasswordCost& cost);

// Whether the password matches the stored hash. Takes as long for a wrong password as for a right
// one; a text that is no Argon2 hash matches nothing.
bool verifyPassword(const std::string& strHash, const std::string& strPassword);

// Whether a hash was made with another cost (or is no hash we know), so that a successful login
// should store a new one.
bool needsRehash(const std::string& strHash, const PasswordCost& cost);

// The longest password accepted when one is set.
constexpr size_t nMaxPasswordLength = 1024;

} // namespace AuthSql

#endif
