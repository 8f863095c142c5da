/* The C interface as a C program sees it, against the scripted service.
   Each case runs in its own process: capi_test CASE. */

#define _POSIX_C_SOURCE 200809L

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "FakeDaemon.h"
#include "CCheck.h"
#include "OstrelCData/OstrelFactory.h"


static void connectToService(void)
{
    const char* pszAddress = fake_daemon_start(NULL);
    if (!pszAddress || ostrel_init(pszAddress) != 0) {
        fprintf(stderr, "cannot start or reach the scripted service\n");
        exit(2);
    }
}

static USER loginAlice(void)
{
    USER user = ostrel_authenticate("EAST/alice", "secret", "default");
    CHECK(user != NULL);
    return user;
}

static void expectAlice(USER user)
{
    char sz[64];
    CHECK_INT(5, ostrel_userId(sz, sizeof sz, user));
    CHECK_STR("alice", sz);
    CHECK_INT(4, ostrel_domain(sz, sizeof sz, user));
    CHECK_STR("EAST", sz);
    CHECK_INT(4, ostrel_customer(sz, sizeof sz, user));
    CHECK_STR("ACME", sz);
    CHECK_INT(13, ostrel_userName(sz, sizeof sz, user));
    CHECK_STR("Alice Example", sz);
    CHECK_INT(17, ostrel_userContact(sz, sizeof sz, user));
    CHECK_STR("alice@example.org", sz);
    CHECK(ostrel_session(sz, sizeof sz, user) > 0);
}

/* --- Authentication ------------------------------------------------------ */

static void authenticatesThroughTheTextForm(void)
{
    connectToService();
    expectAlice(loginAlice());
    /* The other separators name the same user. */
    CHECK(ostrel_authenticate("alice@EAST", "secret", "default") != NULL);
    CHECK(ostrel_authenticate("EAST\\alice", "secret", "night") != NULL);
}

static void authenticatesWithTheDomainApart(void)
{
    connectToService();
    USER user = ostrel_authenticateD("EAST", "alice", "secret", "default");
    CHECK(user != NULL);
    expectAlice(user);
}

static void sameUserTwiceGivesTheSameHandleWithTheNewLogin(void)
{
    char szFirst[64], szSecond[64];
    USER first, second;
    connectToService();
    first = loginAlice();
    CHECK(ostrel_session(szFirst, sizeof szFirst, first) > 0);
    second = ostrel_authenticateD("EAST", "alice", "secret", "default");
    CHECK(first == second);
    CHECK(ostrel_session(szSecond, sizeof szSecond, first) > 0);
    CHECK(strcmp(szFirst, szSecond) != 0);
    /* Another user has his own entry. */
    CHECK(ostrel_authenticateD("EAST", "bob", "hunter2", "default") != first);
}

static void refusedLoginsGiveNoHandle(void)
{
    connectToService();
    CHECK(ostrel_authenticate("EAST/alice", "wrong", "default") == NULL);
    CHECK(ostrel_authenticateD("EAST", "alice", "", "default") == NULL);
    CHECK(ostrel_authenticate("NOWHERE/alice", "secret", "default") == NULL);
    CHECK(ostrel_authenticate("no separator", "secret", "default") == NULL);
    CHECK(ostrel_authenticateD("EAST", "nobody", "secret", "default") == NULL);
}

static void longPasswordIsRefusedBeforeAnythingIsSent(void)
{
    char* pszLong = malloc(4097);
    int nSent;
    connectToService();
    memset(pszLong, 'p', 4096);
    pszLong[4096] = '\0';
    nSent = fake_daemon_count("authenticate");
    CHECK(ostrel_authenticateD("EAST", "alice", pszLong, "default") == NULL);
    CHECK(ostrel_authenticate("EAST/alice", pszLong, "default") == NULL);
    CHECK_INT(nSent, fake_daemon_count("authenticate"));
    free(pszLong);
}

static void nullTextArgumentsAreRefused(void)
{
    connectToService();
    CHECK(ostrel_init(NULL) != 0);
    CHECK(ostrel_authenticate(NULL, "secret", "default") == NULL);
    CHECK(ostrel_authenticate("EAST/alice", NULL, "default") == NULL);
    CHECK(ostrel_authenticate("EAST/alice", "secret", NULL) == NULL);
    CHECK(ostrel_authenticateD(NULL, "alice", "secret", "default") == NULL);
    CHECK(ostrel_authenticateD("EAST", NULL, "secret", "default") == NULL);
    CHECK(ostrel_retrieveSession(NULL) == NULL);
    CHECK(ostrel_killSession(NULL) != 0);
    /* Still usable afterwards. */
    CHECK(loginAlice() != NULL);
}

static void noServiceIsReportedNotFatal(void)
{
    CHECK(ostrel_authenticateD("EAST", "alice", "secret", "default") == NULL);
    CHECK_INT(1022, ostrel_init("unix:/nonexistent-ostrel/ostreld.sock"));
    CHECK(ostrel_authenticate("EAST/alice", "secret", "default") == NULL);
    CHECK(ostrel_killSession("S1") != 0);
}

static void tlsTrustIsCheckedBeforeUse(void)
{
    CHECK_INT(6111, ostrel_tls(NULL, "not-a-pin", NULL, NULL));
    CHECK_INT(6111, ostrel_tls("", "", "", "/only/a/key.pem"));
    CHECK_INT(0, ostrel_tls(NULL, "sha256//47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=", NULL, NULL));
    CHECK_INT(0, ostrel_tls(NULL, NULL, NULL, NULL));
    CHECK_INT(1022, ostrel_init("tls:"));
}

/* One thread's share of concurrentLoginsKeepTheirUsersApart; a thread counts
   its own failures, since the checks' counter is not shared safely. */
struct LoginWorker {
    int nThread;
    int nWrongUser;
    int nWrongAnswer;
};

static void* loginRepeatedly(void* pvWorker)
{
    static const char* const apszUsers[2][2] = {{"alice", "secret"}, {"bob", "hunter2"}};
    struct LoginWorker* pworker = (struct LoginWorker*)pvWorker;
    char sz[32];
    int i;
    for (i = 0; i < 40; ++i) {
        const char* const* ppszUser = apszUsers[(pworker->nThread + i) % 2];
        const int bRight = (i / 2) % 2 == 0;
        USER user = ostrel_authenticateD("EAST", ppszUser[0], bRight ? ppszUser[1] : "wrong", "default");
        if (!bRight) {
            pworker->nWrongAnswer += user != NULL;
            continue;
        }
        if (!user || ostrel_userId(sz, sizeof sz, user) < 0 || strcmp(sz, ppszUser[0]) != 0)
            ++pworker->nWrongUser;
    }
    return NULL;
}

/* Logins of two users, right and wrong, from several threads at once: every
   handle names the user asked for, and no wrong password gets one. */
static void concurrentLoginsKeepTheirUsersApart(void)
{
    enum { nThreads = 4 };
    pthread_t threadS[nThreads];
    struct LoginWorker workerS[nThreads];
    int i;
    connectToService();
    for (i = 0; i < nThreads; ++i) {
        workerS[i].nThread = i;
        workerS[i].nWrongUser = workerS[i].nWrongAnswer = 0;
        CHECK_INT(0, pthread_create(&threadS[i], NULL, loginRepeatedly, &workerS[i]));
    }
    for (i = 0; i < nThreads; ++i) {
        CHECK_INT(0, pthread_join(threadS[i], NULL));
        CHECK_INT(0, workerS[i].nWrongUser);
        CHECK_INT(0, workerS[i].nWrongAnswer);
    }
}

/* --- Text accessors ------------------------------------------------------ */

static void accessorsFillLargeBuffersWithNuls(void)
{
    char sz[32];
    int i;
    USER user;
    connectToService();
    user = loginAlice();
    memset(sz, 'X', sizeof sz);
    CHECK_INT(5, ostrel_userId(sz, 20, user));
    CHECK_STR("alice", sz);
    for (i = 5; i < 20; ++i)
        CHECK_INT(0, sz[i]);
    CHECK_INT('X', sz[20]); /* nothing past nMaxLen */
    CHECK_INT(5, ostrel_userId(sz, 6, user));
    CHECK_STR("alice", sz);
}

static void accessorsTruncateAndTerminateSmallBuffers(void)
{
    char sz[16];
    USER user;
    connectToService();
    user = loginAlice();
    memset(sz, 'X', sizeof sz);
    CHECK_INT(4, ostrel_userId(sz, 5, user)); /* exactly the text's length */
    CHECK_STR("alic", sz);
    CHECK_INT('X', sz[5]);
    CHECK_INT(2, ostrel_userName(sz, 3, user));
    CHECK_STR("Al", sz);
    CHECK_INT(0, ostrel_domain(sz, 1, user));
    CHECK_STR("", sz);
}

static void accessorsWithoutRoomWriteNothing(void)
{
    char sz[8];
    USER user;
    connectToService();
    user = loginAlice();
    memset(sz, 'X', sizeof sz);
    CHECK_INT(-1, ostrel_userId(sz, 0, user));
    CHECK_INT(-1, ostrel_userId(sz, -7, user));
    CHECK_INT(-1, ostrel_session(NULL, 8, user));
    CHECK_INT('X', sz[0]);
}

/* --- Tests on teams, roles and permissions ------------------------------- */

static void heldAndNotHeld(void)
{
    USER alice, bob;
    connectToService();
    alice = loginAlice();
    bob = ostrel_authenticateD("EAST", "bob", "hunter2", "default");
    CHECK(bob != NULL);

    CHECK_INT(1, ostrel_isMemberOf(7, alice));
    CHECK_INT(0, ostrel_isMemberOf(8, alice));
    CHECK_INT(0, ostrel_isMemberOf(7, bob));

    CHECK_INT(1, ostrel_hasRole(3, 2, alice));
    CHECK_INT(0, ostrel_hasRole(3, 4, alice));  /* denied */
    CHECK_INT(0, ostrel_hasRole(3, 99, alice)); /* unknown role */
    CHECK_INT(0, ostrel_hasRole(9, 2, alice));  /* product he holds nothing of */
    CHECK_INT(0, ostrel_hasRole(3, 2, bob));

    CHECK_INT(1, ostrel_hasPermission(3, 5, alice));
    CHECK_INT(0, ostrel_hasPermission(3, 6, alice)); /* revoked */
    CHECK_INT(0, ostrel_hasPermission(9, 5, alice));
    CHECK_INT(0, ostrel_hasPermission(3, 5, bob));
}

/* --- Sessions ------------------------------------------------------------ */

static void persistRetrieveAndKill(void)
{
    char szSession[64];
    USER retrieved;
    connectToService();
    retrieved = persistAndRetrieve(loginAlice(), szSession, sizeof szSession);
    CHECK_INT(1, ostrel_hasRole(3, 2, retrieved));

    killAndCheckGone(szSession);
    CHECK_INT(201, ostrel_killSession(szSession));
    CHECK(ostrel_retrieveSession("no-such-session") == NULL);
}

/* --- Closing and bad handles --------------------------------------------- */

static void closeInvalidatesEveryHandleOfTheUser(void)
{
    char sz[32];
    USER alice, again, bob;
    connectToService();
    alice = loginAlice();
    bob = ostrel_authenticateD("EAST", "bob", "hunter2", "default");
    again = ostrel_authenticateD("EAST", "alice", "secret", "default");
    CHECK(again == alice);

    ostrel_close(again);
    CHECK_INT(-1, ostrel_userId(sz, sizeof sz, alice));
    CHECK_INT(0, ostrel_isMemberOf(7, alice));
    CHECK_INT(-1, ostrel_persistSession(alice));
    ostrel_close(alice); /* a second close is harmless */

    CHECK_INT(3, ostrel_userId(sz, sizeof sz, bob));
    CHECK_STR("bob", sz);
    /* A new login makes a new, valid entry. */
    alice = loginAlice();
    CHECK_INT(1, ostrel_isMemberOf(7, alice));
}

static void nullAndForeignHandlesAreRefused(void)
{
    int nNotAHandle = 0;
    USER handles[2];
    int i;
    connectToService();
    loginAlice();
    handles[0] = NULL;
    handles[1] = &nNotAHandle;
    for (i = 0; i < 2; ++i)
        checkRefusedHandle(handles[i], 7, 3, 2, 5);
    CHECK_INT(0, nNotAHandle);
}

static const struct Case s_caseS[] = {
    {"AuthenticatesThroughTheTextForm", authenticatesThroughTheTextForm},
    {"AuthenticatesWithTheDomainApart", authenticatesWithTheDomainApart},
    {"SameUserTwiceGivesTheSameHandleWithTheNewLogin", sameUserTwiceGivesTheSameHandleWithTheNewLogin},
    {"RefusedLoginsGiveNoHandle", refusedLoginsGiveNoHandle},
    {"LongPasswordIsRefusedBeforeAnythingIsSent", longPasswordIsRefusedBeforeAnythingIsSent},
    {"NullTextArgumentsAreRefused", nullTextArgumentsAreRefused},
    {"NoServiceIsReportedNotFatal", noServiceIsReportedNotFatal},
    {"TlsTrustIsCheckedBeforeUse", tlsTrustIsCheckedBeforeUse},
    {"ConcurrentLoginsKeepTheirUsersApart", concurrentLoginsKeepTheirUsersApart},
    {"AccessorsFillLargeBuffersWithNuls", accessorsFillLargeBuffersWithNuls},
    {"AccessorsTruncateAndTerminateSmallBuffers", accessorsTruncateAndTerminateSmallBuffers},
    {"AccessorsWithoutRoomWriteNothing", accessorsWithoutRoomWriteNothing},
    {"HeldAndNotHeld", heldAndNotHeld},
    {"PersistRetrieveAndKill", persistRetrieveAndKill},
    {"CloseInvalidatesEveryHandleOfTheUser", closeInvalidatesEveryHandleOfTheUser},
    {"NullAndForeignHandlesAreRefused", nullAndForeignHandlesAreRefused},
};

int main(int argc, char** argv)
{
    int nExit;
    const struct Case* pcase;
    if (argc != 2) {
        fprintf(stderr, "usage: %s CASE | --list\n", argv[0]);
        return 2;
    }
    pcase = pickCase(s_caseS, sizeof s_caseS / sizeof s_caseS[0], argv[1], &nExit);
    if (!pcase)
        return nExit;
    pcase->run();
    fake_daemon_stop();
    return caseStatus();
}
