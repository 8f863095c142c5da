#ifndef OSTREL_TESTS_CAPI_FAKEDAEMON_H
#define OSTREL_TESTS_CAPI_FAKEDAEMON_H

/*
 * A scripted service speaking the daemon's protocol, for the C API and command
 * tests. It knows one customer "ACME" with the domains "EAST" and "WEST", and
 * two users of "EAST":
 *   alice, password "secret": name "Alice Example", contact "alice@example.org",
 *     member of team 7; product 3 with role 2 granted, role 4 denied,
 *     permission 5 granted and permission 6 revoked.
 *   bob, password "hunter2": no teams, no products.
 * It answers "initialize" (with a fresh RSA key), "domains", "profiles",
 * "authenticate" (decrypting the token), "persistsession", "retrievesession"
 * and "killsession"; anything else gets an exception.
 */

#ifdef __cplusplus
extern "C" {
#endif

/* Starts the service on a fresh unix socket (or on pszSocket when not null) and
   returns its address for ostrel_init, valid until fake_daemon_stop. */
const char* fake_daemon_start(const char* pszSocket);
void fake_daemon_stop(void);
/* How many requests of that name have arrived since the start. */
int fake_daemon_count(const char* pszRequest);

#ifdef __cplusplus
}
#endif

#endif
