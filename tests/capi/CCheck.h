/* What the C test programs share: checks that count failures instead of
   stopping, the refusals every bad handle must get, and the case table with
   which each program runs one case per process. */

#ifndef OSTREL_TESTS_CCHECK_H
#define OSTREL_TESTS_CCHECK_H

#include <stdio.h>
#include <string.h>

#include "OstrelCData/OstrelFactory.h"

static int g_nFailures = 0;

#define CHECK(cond)                                                                   \
    do {                                                                              \
        if (!(cond)) {                                                                \
            fprintf(stderr, "%s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #cond); \
            ++g_nFailures;                                                            \
        }                                                                             \
    } while (0)

#define CHECK_INT(expected, actual)                                                                \
    do {                                                                                           \
        long nE_ = (long)(expected), nA_ = (long)(actual);                                         \
        if (nE_ != nA_) {                                                                          \
            fprintf(stderr, "%s:%d: %s: expected %ld, got %ld\n", __FILE__, __LINE__, #actual, nE_, \
                    nA_);                                                                          \
            ++g_nFailures;                                                                         \
        }                                                                                          \
    } while (0)

#define CHECK_STR(expected, actual)                                                                  \
    do {                                                                                             \
        if (strcmp((expected), (actual)) != 0) {                                                     \
            fprintf(stderr, "%s:%d: %s: expected \"%s\", got \"%s\"\n", __FILE__, __LINE__, #actual, \
                    (expected), (actual));                                                           \
            ++g_nFailures;                                                                           \
        }                                                                                            \
    } while (0)

/* A handle that names no stored user gets the failure value from every
   accessor and test, writes nothing into the caller's buffer, and closing it
   does nothing. nTeam, nProduct, nRole and nPermission are ones the valid
   users of the program do hold. */
static inline void checkRefusedHandle(USER user, int nTeam, int nProduct, int nRole, int nPermission)
{
    char sz[16];
    memset(sz, 'X', sizeof sz);
    CHECK_INT(-1, ostrel_session(sz, sizeof sz, user));
    CHECK_INT(-1, ostrel_customer(sz, sizeof sz, user));
    CHECK_INT(-1, ostrel_domain(sz, sizeof sz, user));
    CHECK_INT(-1, ostrel_userId(sz, sizeof sz, user));
    CHECK_INT(-1, ostrel_userName(sz, sizeof sz, user));
    CHECK_INT(-1, ostrel_userContact(sz, sizeof sz, user));
    CHECK_INT('X', sz[0]);
    CHECK_INT(0, ostrel_isMemberOf(nTeam, user));
    CHECK_INT(0, ostrel_hasRole(nProduct, nRole, user));
    CHECK_INT(0, ostrel_hasPermission(nProduct, nPermission, user));
    CHECK_INT(-1, ostrel_persistSession(user));
    ostrel_close(user);
}

/* Persists the user's session and retrieves it again: the same entry, with
   the same session id, which is left in pszSession. */
static inline USER persistAndRetrieve(USER user, char* pszSession, size_t nSize)
{
    char szAgain[128];
    USER retrieved;
    CHECK(ostrel_session(pszSession, (int)nSize, user) > 0);
    CHECK_INT(0, ostrel_persistSession(user));
    retrieved = ostrel_retrieveSession(pszSession);
    CHECK(retrieved == user); /* the same (domain, user id): the same entry */
    CHECK(ostrel_session(szAgain, sizeof szAgain, retrieved) > 0);
    CHECK_STR(pszSession, szAgain);
    return retrieved;
}

/* Kills a kept session: it cannot be retrieved or killed again. */
static inline void killAndCheckGone(const char* pszSession)
{
    CHECK_INT(0, ostrel_killSession(pszSession));
    CHECK(ostrel_retrieveSession(pszSession) == NULL);
    CHECK(ostrel_killSession(pszSession) != 0);
}

struct Case {
    const char* pszName;
    void (*run)(void);
};

/* "--list" prints the case names (the build makes a ctest case of each) and
   returns 0; a known name returns its case; anything else is reported and
   gives NULL. */
static inline const struct Case* pickCase(const struct Case* caseS, size_t nCases, const char* pszArgument,
                                          int* pnExit)
{
    size_t i;
    *pnExit = 2;
    if (strcmp(pszArgument, "--list") == 0) {
        for (i = 0; i < nCases; ++i)
            printf("%s\n", caseS[i].pszName);
        *pnExit = 0;
        return NULL;
    }
    for (i = 0; i < nCases; ++i)
        if (strcmp(pszArgument, caseS[i].pszName) == 0)
            return &caseS[i];
    fprintf(stderr, "no case %s\n", pszArgument);
    return NULL;
}

/* The exit status of a case that has run. */
static inline int caseStatus(void)
{
    if (g_nFailures)
        fprintf(stderr, "%d check(s) failed\n", g_nFailures);
    return g_nFailures ? 1 : 0;
}

#endif
