/* The C interface as a C program sees it, against a real ostreld on a SQLite
   database made by real_daemon.sh. Each case runs in its own process:
       capi_real_test CASE ADDRESS_FILE
   where ADDRESS_FILE is the file the daemon wrote its address to.

   The sample: customer ACME, domain EAST; alice leads team 7, which is granted
   role 1 (permissions 1 and 2) of product 10, and her permission 2 is revoked
   for her alone; bob is in team 8, granted role 2 (permission 3); carol,
   dave, gina and hank are in no team; erin is in team 7 and frank in team 8
   without exceptions. Cases run at once against the one daemon; logins are
   the connection's own, but each case that keeps or ends a session has a
   user of its own. */

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "CCheck.h"
#include "OstrelCData/OstrelFactory.h"

static const char* g_pszAddressFile = NULL;


/* The first line of the address file, e.g. "127.0.0.1:40123". */
static void readAddress(char* pszAddress, size_t nSize)
{
    FILE* pfile = fopen(g_pszAddressFile, "r");
    size_t nLen;
    if (!pfile || !fgets(pszAddress, (int)nSize, pfile)) {
        fprintf(stderr, "cannot read the service address from %s\n", g_pszAddressFile);
        exit(2);
    }
    fclose(pfile);
    nLen = strcspn(pszAddress, "\r\n");
    pszAddress[nLen] = '\0';
}

static void connectToService(void)
{
    char szAddress[256];
    int nResult;
    readAddress(szAddress, sizeof szAddress);
    nResult = ostrel_init(szAddress);
    if (nResult != 0) {
        fprintf(stderr, "cannot reach ostreld at %s (%d)\n", szAddress, nResult);
        exit(2);
    }
}

static USER login(const char* pszUser, const char* pszPassword)
{
    char szUserId[64];
    USER user;
    snprintf(szUserId, sizeof szUserId, "EAST/%s", pszUser);
    user = ostrel_authenticate(szUserId, pszPassword, "default");
    CHECK(user != NULL);
    return user;
}

static USER loginAlice(void)
{
    return login("alice", "alice-s3cret");
}

static void expectUser(USER user, const char* pszId, const char* pszName, const char* pszContact)
{
    char sz[128];
    CHECK_INT(strlen(pszId), ostrel_userId(sz, sizeof sz, user));
    CHECK_STR(pszId, sz);
    CHECK_INT(4, ostrel_domain(sz, sizeof sz, user));
    CHECK_STR("EAST", sz);
    CHECK_INT(4, ostrel_customer(sz, sizeof sz, user));
    CHECK_STR("ACME", sz);
    CHECK_INT(strlen(pszName), ostrel_userName(sz, sizeof sz, user));
    CHECK_STR(pszName, sz);
    CHECK_INT(strlen(pszContact), ostrel_userContact(sz, sizeof sz, user));
    CHECK_STR(pszContact, sz);
    CHECK(ostrel_session(sz, sizeof sz, user) > 0);
}

static void expectAlice(USER user)
{
    expectUser(user, "alice", "Alice Example", "alice@example.org");
}

/* --- Authentication ------------------------------------------------------ */

static void authenticatesThroughTheTextForm(void)
{
    USER user;
    connectToService();
    user = loginAlice();
    expectAlice(user);
    /* The other ways of writing the domain name the same user, so the same entry. */
    CHECK(ostrel_authenticate("alice@EAST", "alice-s3cret", "default") == user);
    CHECK(ostrel_authenticate("EAST\\alice", "alice-s3cret", "night") == user);
    expectAlice(user);
}

static void authenticatesWithTheDomainApart(void)
{
    USER user;
    connectToService();
    user = ostrel_authenticateD("EAST", "alice", "alice-s3cret", "default");
    CHECK(user != NULL);
    expectAlice(user);
}

static void sameUserTwiceGivesTheSameHandleWithTheNewLogin(void)
{
    char szFirst[64], szSecond[64];
    USER first, second, other;
    connectToService();
    first = login("carol", "carol-s3cret");
    CHECK(ostrel_session(szFirst, sizeof szFirst, first) > 0);
    second = ostrel_authenticateD("EAST", "carol", "carol-s3cret", "default");
    CHECK(first == second);
    /* The entry holds the second login now. */
    CHECK(ostrel_session(szSecond, sizeof szSecond, first) > 0);
    CHECK(strcmp(szFirst, szSecond) != 0);
    expectUser(first, "carol", "Carol Example", "carol@example.org");
    /* Another user has his own entry, and carol's stays as it was. */
    other = login("bob", "bob-s3cret");
    CHECK(other != first);
    expectUser(other, "bob", "Bob Example", "bob@example.org");
    expectUser(first, "carol", "Carol Example", "carol@example.org");
}

static void wrongPasswordGivesNoHandle(void)
{
    char szBefore[64], szAfter[64];
    USER user;
    connectToService();
    user = login("dave", "dave-s3cret");
    CHECK(ostrel_session(szBefore, sizeof szBefore, user) > 0);

    CHECK(ostrel_authenticate("EAST/dave", "not-his-password", "default") == NULL);
    CHECK(ostrel_authenticateD("EAST", "dave", "not-his-password", "default") == NULL);
    CHECK(ostrel_authenticateD("EAST", "dave", "", "default") == NULL);
    CHECK(ostrel_authenticate("EAST/nobody", "dave-s3cret", "default") == NULL);
    CHECK(ostrel_authenticate("NOWHERE/dave", "dave-s3cret", "default") == NULL);
    CHECK(ostrel_authenticateD("NOWHERE", "dave", "dave-s3cret", "default") == NULL);

    /* A refused login leaves the user's entry as it was. */
    CHECK(ostrel_session(szAfter, sizeof szAfter, user) > 0);
    CHECK_STR(szBefore, szAfter);
    expectUser(user, "dave", "Dave Example", "dave@example.org");
    /* And the right password still works. */
    CHECK(ostrel_authenticateD("EAST", "dave", "dave-s3cret", "default") == user);
}

static void initWithoutServiceFails(void)
{
    /* Port 1 on loopback: nothing listens there. */
    CHECK(ostrel_init("127.0.0.1:1") != 0);
    CHECK(ostrel_authenticate("EAST/alice", "alice-s3cret", "default") == NULL);
    /* A later initialisation reaches the real service. */
    connectToService();
    CHECK(loginAlice() != NULL);
}

/* --- Text accessors ------------------------------------------------------ */

static void accessorsFillLargeBuffersWithNuls(void)
{
    char sz[300];
    char szSession[256];
    int i, nSession;
    USER user;
    connectToService();
    user = loginAlice();
    memset(sz, 'X', sizeof sz);
    CHECK_INT(13, ostrel_userName(sz, 200, user));
    CHECK_STR("Alice Example", sz);
    for (i = 13; i < 200; ++i)
        CHECK_INT(0, sz[i]);
    CHECK_INT('X', sz[200]); /* nothing past nMaxLen */

    /* Exactly one byte more than the text: all of it. */
    memset(sz, 'X', sizeof sz);
    CHECK_INT(17, ostrel_userContact(sz, 18, user));
    CHECK_STR("alice@example.org", sz);
    CHECK_INT('X', sz[18]);

    /* The session id is whole in a large buffer, and the same each time. */
    nSession = ostrel_session(szSession, sizeof szSession, user);
    CHECK(nSession > 0 && nSession < (int)sizeof szSession - 1);
    CHECK_INT(nSession, strlen(szSession));
    CHECK_INT(nSession, ostrel_session(sz, sizeof sz, user));
    CHECK_STR(szSession, sz);
}

static void accessorsTruncateAndTerminateSmallBuffers(void)
{
    char sz[16];
    char szSession[256], szShort[8];
    USER user;
    connectToService();
    user = loginAlice();

    memset(sz, 'X', sizeof sz);
    CHECK_INT(4, ostrel_userId(sz, 5, user)); /* a buffer exactly as long as the text */
    CHECK_STR("alic", sz);
    CHECK_INT('X', sz[5]);

    memset(sz, 'X', sizeof sz);
    CHECK_INT(7, ostrel_userContact(sz, 8, user));
    CHECK_STR("alice@e", sz);
    CHECK_INT('X', sz[8]);

    CHECK_INT(2, ostrel_customer(sz, 3, user));
    CHECK_STR("AC", sz);
    CHECK_INT(0, ostrel_domain(sz, 1, user));
    CHECK_STR("", sz);

    /* A session id cut short is the start of the whole one. */
    CHECK(ostrel_session(szSession, sizeof szSession, user) > 7);
    CHECK_INT(7, ostrel_session(szShort, sizeof szShort, user));
    CHECK(strncmp(szSession, szShort, 7) == 0);
}

static void accessorsWithoutRoomWriteNothing(void)
{
    char sz[8];
    int i;
    USER user;
    connectToService();
    user = loginAlice();
    memset(sz, 'X', sizeof sz);
    CHECK_INT(-1, ostrel_session(sz, 0, user));
    CHECK_INT(-1, ostrel_customer(sz, -1, user));
    CHECK_INT(-1, ostrel_domain(sz, 0, user));
    CHECK_INT(-1, ostrel_userId(sz, -100, user));
    CHECK_INT(-1, ostrel_userName(sz, 0, user));
    CHECK_INT(-1, ostrel_userContact(sz, -1, user));
    CHECK_INT(-1, ostrel_userId(NULL, 8, user));
    for (i = 0; i < (int)sizeof sz; ++i)
        CHECK_INT('X', sz[i]);
    /* The handle is still good. */
    CHECK_INT(5, ostrel_userId(sz, sizeof sz, user));
}

/* --- Tests on teams, roles and permissions ------------------------------- */

static void teamsHeldAndNotHeld(void)
{
    USER alice, bob;
    connectToService();
    alice = loginAlice();
    bob = login("bob", "bob-s3cret");
    CHECK_INT(1, ostrel_isMemberOf(7, alice));
    CHECK_INT(0, ostrel_isMemberOf(8, alice));
    CHECK_INT(0, ostrel_isMemberOf(9, alice)); /* no such team */
    CHECK_INT(1, ostrel_isMemberOf(8, bob));
    CHECK_INT(0, ostrel_isMemberOf(7, bob));
    CHECK_INT(0, ostrel_isMemberOf(-7, bob));
}

static void rolesHeldAndNotHeld(void)
{
    USER alice, bob, carol;
    connectToService();
    alice = loginAlice();
    bob = login("bob", "bob-s3cret");
    carol = login("carol", "carol-s3cret");
    /* Granted to the team, held by its members. */
    CHECK_INT(1, ostrel_hasRole(10, 1, alice));
    CHECK_INT(0, ostrel_hasRole(10, 2, alice));
    CHECK_INT(1, ostrel_hasRole(10, 2, bob));
    CHECK_INT(0, ostrel_hasRole(10, 1, bob));
    CHECK_INT(0, ostrel_hasRole(10, 1, carol));
    CHECK_INT(0, ostrel_hasRole(10, 99, alice)); /* no such role */
    CHECK_INT(0, ostrel_hasRole(11, 1, alice));  /* no such product */
    CHECK_INT(0, ostrel_hasRole(0, 1, alice));   /* the framework's own: nothing granted */
}

static void permissionsHeldAndNotHeld(void)
{
    USER alice, bob, carol;
    connectToService();
    alice = loginAlice();
    bob = login("bob", "bob-s3cret");
    carol = login("carol", "carol-s3cret");
    /* Through the role granted to her team... */
    CHECK_INT(1, ostrel_hasPermission(10, 1, alice));
    /* ...except the one revoked for her alone. */
    CHECK_INT(0, ostrel_hasPermission(10, 2, alice));
    CHECK_INT(0, ostrel_hasPermission(10, 3, alice));
    CHECK_INT(1, ostrel_hasPermission(10, 3, bob));
    CHECK_INT(0, ostrel_hasPermission(10, 1, bob));
    CHECK_INT(0, ostrel_hasPermission(10, 2, bob)); /* revoked for alice only, never bob's */
    CHECK_INT(0, ostrel_hasPermission(10, 1, carol));
    CHECK_INT(0, ostrel_hasPermission(10, 99, alice));
    CHECK_INT(0, ostrel_hasPermission(11, 1, alice));
}

/* --- Sessions ------------------------------------------------------------ */

static void persistRetrieveAndKill(void)
{
    char szSession[128], szId[16];
    USER user, retrieved;
    connectToService();
    user = login("erin", "erin-s3cret");
    retrieved = persistAndRetrieve(user, szSession, sizeof szSession);
    expectUser(retrieved, "erin", "Erin Example", "erin@example.org");
    CHECK_INT(1, ostrel_isMemberOf(7, retrieved));
    CHECK_INT(1, ostrel_hasRole(10, 1, retrieved));
    CHECK_INT(1, ostrel_hasPermission(10, 2, retrieved));

    killAndCheckGone(szSession);
    /* The entry itself is the library's until it is closed. */
    CHECK_INT(4, ostrel_userId(szId, sizeof szId, user));
}

static void keptSessionIsRetrievedOverANewConnection(void)
{
    char szSession[128], szAgain[128];
    USER user, retrieved;
    connectToService();
    user = login("frank", "frank-s3cret");
    CHECK(ostrel_session(szSession, sizeof szSession, user) > 0);
    CHECK_INT(0, ostrel_persistSession(user));
    ostrel_close(user);

    /* A new connection knows nothing of the login but the session id. */
    connectToService();
    retrieved = ostrel_retrieveSession(szSession);
    CHECK(retrieved != NULL);
    expectUser(retrieved, "frank", "Frank Example", "frank@example.org");
    CHECK(ostrel_session(szAgain, sizeof szAgain, retrieved) > 0);
    CHECK_STR(szSession, szAgain);
    CHECK_INT(1, ostrel_hasRole(10, 2, retrieved));
    CHECK_INT(0, ostrel_hasRole(10, 1, retrieved));

    CHECK_INT(0, ostrel_killSession(szSession));
    connectToService();
    CHECK(ostrel_retrieveSession(szSession) == NULL);
}

static void onlyTheConnectionsLatestLoginIsKept(void)
{
    char szEarlier[128], szLatest[128];
    USER earlier, latest;
    connectToService();
    earlier = login("gina", "gina-s3cret");
    latest = login("carol", "carol-s3cret");
    CHECK(ostrel_session(szEarlier, sizeof szEarlier, earlier) > 0);
    CHECK(ostrel_session(szLatest, sizeof szLatest, latest) > 0);
    /* The service keeps a session for the login it holds on this connection
       only, and does not keep the latest one in its place. */
    CHECK_INT(-1, ostrel_persistSession(earlier));
    connectToService();
    CHECK(ostrel_retrieveSession(szEarlier) == NULL);
    CHECK(ostrel_retrieveSession(szLatest) == NULL);
}

static void anotherUsersSessionCannotBeKilled(void)
{
    char szSession[128];
    USER owner, retrieved;
    connectToService();
    owner = login("hank", "hank-s3cret");
    CHECK(ostrel_session(szSession, sizeof szSession, owner) > 0);
    CHECK_INT(0, ostrel_persistSession(owner));

    /* carol holds no right over other users' sessions. */
    connectToService();
    login("carol", "carol-s3cret");
    CHECK(ostrel_killSession(szSession) != 0);

    connectToService();
    retrieved = ostrel_retrieveSession(szSession);
    CHECK(retrieved == owner);
    expectUser(retrieved, "hank", "Hank Example", "hank@example.org");
    CHECK_INT(0, ostrel_killSession(szSession));
}

static void unknownSessionsAreRefused(void)
{
    connectToService();
    CHECK(ostrel_retrieveSession("no-such-session") == NULL);
    CHECK(ostrel_retrieveSession("") == NULL);
    loginAlice();
    CHECK(ostrel_killSession("no-such-session") != 0);
}

/* --- Closing and bad handles --------------------------------------------- */

static void closeInvalidatesEveryHandleOfTheUser(void)
{
    char sz[32];
    USER alice, again, bob;
    connectToService();
    alice = loginAlice();
    bob = login("bob", "bob-s3cret");
    again = ostrel_authenticateD("EAST", "alice", "alice-s3cret", "default");
    CHECK(again == alice);

    ostrel_close(again);
    memset(sz, 'X', sizeof sz);
    CHECK_INT(-1, ostrel_userId(sz, sizeof sz, alice));
    CHECK_INT('X', sz[0]);
    CHECK_INT(0, ostrel_isMemberOf(7, alice));
    CHECK_INT(0, ostrel_hasRole(10, 1, alice));
    CHECK_INT(-1, ostrel_persistSession(alice));
    ostrel_close(alice); /* a second close is harmless */

    /* Another user's entry is untouched. */
    CHECK_INT(3, ostrel_userId(sz, sizeof sz, bob));
    CHECK_STR("bob", sz);
    CHECK_INT(1, ostrel_isMemberOf(8, bob));
    /* A new login makes a new, valid entry. */
    alice = loginAlice();
    expectAlice(alice);
    CHECK_INT(1, ostrel_isMemberOf(7, alice));
}

static void closedHandleNeverNamesAnotherUser(void)
{
    char sz[32];
    USER alice, bob, carol, dave, again;
    connectToService();
    alice = loginAlice();
    ostrel_close(alice);
    /* Logins after the close must not hand alice's place to someone else. */
    bob = login("bob", "bob-s3cret");
    carol = login("carol", "carol-s3cret");
    dave = login("dave", "dave-s3cret");
    CHECK(bob != alice && carol != alice && dave != alice);
    memset(sz, 'X', sizeof sz);
    CHECK_INT(-1, ostrel_userId(sz, sizeof sz, alice));
    CHECK_INT('X', sz[0]);
    CHECK_INT(0, ostrel_isMemberOf(8, alice));     /* bob's team */
    CHECK_INT(0, ostrel_hasRole(10, 2, alice));    /* bob's role */
    CHECK_INT(-1, ostrel_persistSession(alice)); /* dave's login on this connection */

    ostrel_close(bob);
    ostrel_close(carol);
    /* Alice again takes her own place back; bob's stays closed. */
    again = loginAlice();
    CHECK(again == alice);
    expectAlice(alice);
    CHECK_INT(-1, ostrel_userId(sz, sizeof sz, bob));
    CHECK_INT(-1, ostrel_userId(sz, sizeof sz, carol));
    CHECK_INT(4, ostrel_userId(sz, sizeof sz, dave));
    CHECK_STR("dave", sz);
}

static void nullAndStaleHandlesGiveTheFailureValue(void)
{
    int nNotAHandle = 0;
    USER handles[3];
    int i;
    connectToService();
    handles[0] = NULL;
    handles[1] = &nNotAHandle;
    handles[2] = login("carol", "carol-s3cret");
    ostrel_close(handles[2]); /* stale from here on */
    for (i = 0; i < 3; ++i)
        checkRefusedHandle(handles[i], 7, 10, 1, 1);
    CHECK_INT(0, nNotAHandle);
}

static const struct Case s_caseS[] = {
    {"AuthenticatesThroughTheTextForm", authenticatesThroughTheTextForm},
    {"AuthenticatesWithTheDomainApart", authenticatesWithTheDomainApart},
    {"SameUserTwiceGivesTheSameHandleWithTheNewLogin", sameUserTwiceGivesTheSameHandleWithTheNewLogin},
    {"WrongPasswordGivesNoHandle", wrongPasswordGivesNoHandle},
    {"InitWithoutServiceFails", initWithoutServiceFails},
    {"AccessorsFillLargeBuffersWithNuls", accessorsFillLargeBuffersWithNuls},
    {"AccessorsTruncateAndTerminateSmallBuffers", accessorsTruncateAndTerminateSmallBuffers},
    {"AccessorsWithoutRoomWriteNothing", accessorsWithoutRoomWriteNothing},
    {"TeamsHeldAndNotHeld", teamsHeldAndNotHeld},
    {"RolesHeldAndNotHeld", rolesHeldAndNotHeld},
    {"PermissionsHeldAndNotHeld", permissionsHeldAndNotHeld},
    {"PersistRetrieveAndKill", persistRetrieveAndKill},
    {"KeptSessionIsRetrievedOverANewConnection", keptSessionIsRetrievedOverANewConnection},
    {"OnlyTheConnectionsLatestLoginIsKept", onlyTheConnectionsLatestLoginIsKept},
    {"AnotherUsersSessionCannotBeKilled", anotherUsersSessionCannotBeKilled},
    {"UnknownSessionsAreRefused", unknownSessionsAreRefused},
    {"CloseInvalidatesEveryHandleOfTheUser", closeInvalidatesEveryHandleOfTheUser},
    {"ClosedHandleNeverNamesAnotherUser", closedHandleNeverNamesAnotherUser},
    {"NullAndStaleHandlesGiveTheFailureValue", nullAndStaleHandlesGiveTheFailureValue},
};

int main(int argc, char** argv)
{
    int nExit;
    const struct Case* pcase = argc >= 2 ? pickCase(s_caseS, sizeof s_caseS / sizeof s_caseS[0], argv[1], &nExit) : NULL;
    if (argc == 2 && !pcase)
        return nExit;
    if (argc != 3 || !pcase) {
        fprintf(stderr, "usage: %s CASE ADDRESS_FILE | --list\n", argv[0]);
        return 2;
    }
    g_pszAddressFile = argv[2];
    pcase->run();
    return caseStatus();
}
