/* An application on Ostrel's C interface: it connects to the service, logs a user in with his
   password, asks whether he holds a role and a permission, has the service keep his session,
   takes the session up again from its id alone (as a later request would), and ends it.

     c-example SERVICE DOMAIN/USER <password-file

   SERVICE is "tls:host:port" across a network ("host:port" and "unix:/path" on the machine
   itself); call ostrel_tls first to trust a CA file or a pin rather than the system's CA store.
   The password is the first line of standard input. Every ostrel_ function writes the reason of
   its failures to standard error itself. Exit status: 0 done, 1 failure, 2 bad command line. */

#include <OstrelCData/OstrelFactory.h>

#include <stdio.h>
#include <string.h>

/* What this application asks about, by the numbers ostrel-admin gave them: its product, one of
   the product's roles and one of its permissions. */
enum { PRODUCT = 10, ROLE_OPERATOR = 1, PERMISSION_STOP_THE_LINE = 2 };

static const char* held(int nHeld)
{
    return nHeld ? "held" : "not held";
}

static void report(const char* pszWhen, USER user)
{
    char szDomain[256], szUserId[256], szName[256];
    if (ostrel_domain(szDomain, sizeof szDomain, user) < 0 || ostrel_userId(szUserId, sizeof szUserId, user) < 0 ||
        ostrel_userName(szName, sizeof szName, user) < 0)
        return;
    printf("%s: %s/%s (%s): role %d %s, permission %d %s\n", pszWhen, szDomain, szUserId, szName, ROLE_OPERATOR,
           held(ostrel_hasRole(PRODUCT, ROLE_OPERATOR, user)), PERMISSION_STOP_THE_LINE,
           held(ostrel_hasPermission(PRODUCT, PERMISSION_STOP_THE_LINE, user)));
}

/* A real application takes the password from its login form; it never goes on a command line.
   ostrel-admin takes passwords of up to 255 bytes. */
static int readPassword(char* pszPassword, size_t nSize)
{
    size_t nLen;
    if (!fgets(pszPassword, (int)nSize, stdin))
        return -1;
    nLen = strcspn(pszPassword, "\n");
    if (pszPassword[nLen] != '\n' && !feof(stdin))
        return -1; /* longer than the buffer: a cut password would only fail to log in */
    pszPassword[nLen] = '\0';
    return 0;
}

int main(int argc, char** argv)
{
    char szPassword[257];
    char szSession[256];
    USER user;
    int nCode;

    if (argc != 3) {
        fprintf(stderr, "usage: c-example SERVICE DOMAIN/USER <password-file\n");
        return 2;
    }
    if (readPassword(szPassword, sizeof szPassword) != 0) {
        fprintf(stderr, "c-example: the password must be the first line of standard input, at most 255 bytes\n");
        return 1;
    }
    nCode = ostrel_init(argv[1]);
    if (nCode != 0) {
        fprintf(stderr, "c-example: cannot reach the service at %s (error %d)\n", argv[1], nCode);
        return 1;
    }

    /* "" is the default profile. */
    user = ostrel_authenticate(argv[2], szPassword, "");
    memset(szPassword, 0, sizeof szPassword);
    if (!user) {
        fprintf(stderr, "c-example: %s could not log in\n", argv[2]);
        return 1;
    }
    report("logged in", user);

    /* The session id is as good as the password: hand it on, never log or show it. */
    if (ostrel_persistSession(user) != 0 || ostrel_session(szSession, sizeof szSession, user) < 0) {
        fprintf(stderr, "c-example: the service would not keep the session\n");
        ostrel_close(user);
        return 1;
    }
    ostrel_close(user);

    /* A later request, perhaps in another process on a connection of its own, has only the id. */
    nCode = ostrel_init(argv[1]);
    user = nCode == 0 ? ostrel_retrieveSession(szSession) : NULL;
    if (!user) {
        fprintf(stderr, "c-example: the kept session could not be taken up again\n");
        return 1;
    }
    report("resumed", user);

    nCode = ostrel_killSession(szSession);
    ostrel_close(user);
    if (nCode != 0) {
        fprintf(stderr, "c-example: the session could not be ended (error %d)\n", nCode);
        return 1;
    }
    printf("signed off\n");
    return 0;
}
