#ifndef OSTRELCDATA_OSTRELFACTORY_H
#define OSTRELCDATA_OSTRELFACTORY_H

/*
 * The client side of Ostrel for programs that cannot use the class interface.
 *
 * Call ostrel_init once first; then ostrel_authenticate, ostrel_authenticateD
 * or ostrel_retrieveSession hand out a USER handle, which the other functions
 * take; ostrel_close releases it. A handle names the library's one entry for a
 * (domain, user id): authenticating the same user again returns the same handle
 * with the new login in place, and closing any handle of that user invalidates
 * them all. A null or released handle is refused with the failure value; a
 * released handle never comes to name another user (it names the same user's
 * entry again once he is authenticated again).
 *
 * On failure every function writes the error to standard error and returns
 * its failure value; nothing here throws. Text arguments may not be null.
 *
 * Every function may be called from several threads at once: the library
 * serialises the calls (one at a time, each whole, a login's wait for the
 * service included), so a handle always names the user it was handed out for.
 * A handle one thread closes is refused in the others from then on, like any
 * released handle.
 */

#define OSTRELCDATA_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* An authenticated user held by the library; opaque to callers. */
typedef void* USER;

/* Connects to the service, e.g. "host:port", "tls:host:port" or "unix:/path".
   0, or the error code (1022 when it cannot be reached or, under TLS, is not
   trusted; the reason goes to standard error). */
OSTRELCDATA_API int ostrel_init(const char* pszInit);

/* TLS trust for "tls:host:port" services, used by the connections made after
   it: a CA file (PEM), a pin (the SHA-256 of the service's public key: 64 hex
   digits, or "sha256//" and Base64), a client certificate and its key (PEM).
   Null or "" leaves one out; with neither CA file nor pin the system's CA store
   is used. 0, or the error code. */
OSTRELCDATA_API int ostrel_tls(const char* pszCAFile, const char* pszPin, const char* pszCertFile,
                               const char* pszKeyFile);

/* pszUserId names the domain too: "DOMAIN/user", "DOMAIN\user" or "user@DOMAIN".
   pszPassword must be shorter than 4096 bytes, and travels as one number below the
   service key's modulus: under a 2048-bit key 255 bytes always fit, and a longer
   password may not, which fails as the login does. The handle, or null. */
OSTRELCDATA_API USER ostrel_authenticate(const char* pszUserId, const char* pszPassword, const char* pszProfile);
/* The same with the domain given apart. */
OSTRELCDATA_API USER ostrel_authenticateD(const char* pszDomain, const char* pszUserId, const char* pszPassword,
                                          const char* pszProfile);

/* Keeps the user's session at the service so that it can be retrieved by its id. 0, or -1. */
OSTRELCDATA_API int ostrel_persistSession(USER user);
/* The user of a kept session, or null. */
OSTRELCDATA_API USER ostrel_retrieveSession(const char* pszSession);
/* Ends a kept session. 0, or the error code. */
OSTRELCDATA_API int ostrel_killSession(const char* pszSession);

/* Text accessors: copy at most nMaxLen - 1 bytes of the text into the buffer,
   terminate it, fill the rest of the nMaxLen bytes with NULs, and return the
   length of the text now in the buffer. -1 (buffer untouched) on failure,
   including a null buffer or nMaxLen < 1. */
OSTRELCDATA_API int ostrel_session(char* pszSession, int nMaxLen, USER user);
OSTRELCDATA_API int ostrel_customer(char* pszCustomer, int nMaxLen, USER user);
OSTRELCDATA_API int ostrel_domain(char* pszDomain, int nMaxLen, USER user);
OSTRELCDATA_API int ostrel_userId(char* pszId, int nMaxLen, USER user);
OSTRELCDATA_API int ostrel_userName(char* pszName, int nMaxLen, USER user);
OSTRELCDATA_API int ostrel_userContact(char* pszContact, int nMaxLen, USER user);

/* 1 when the user is a member of the team (of his domain's customer), holds
   the role, or holds the permission of the product granted; 0 otherwise or on
   failure. */
OSTRELCDATA_API int ostrel_isMemberOf(int nTeam, USER user);
OSTRELCDATA_API int ostrel_hasRole(int nProduct, int nRole, USER user);
OSTRELCDATA_API int ostrel_hasPermission(int nProduct, int nPermission, USER user);

/* Releases the user's entry; every handle of the same user becomes invalid. */
OSTRELCDATA_API void ostrel_close(USER user);

#ifdef __cplusplus
}
#endif

#endif
