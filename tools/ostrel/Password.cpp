#include "Password.h"

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace ostreltool {

namespace {

// The terminal whose echo is off, for the signal handler to restore; -1 when none.
volatile sig_atomic_t g_fdTerminal = -1;
struct termios g_termiosSaved;

const int anSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

void restoreAndRaise(int nSignal)
{
    if (g_fdTerminal >= 0)
        ::tcsetattr(g_fdTerminal, TCSAFLUSH, &g_termiosSaved);
    ::signal(nSignal, SIG_DFL);
    ::raise(nSignal);
}

// While alive, the terminal does not echo; the old settings come back at the
// end of the scope or on a signal that ends the program.
class EchoOff {
public:
    explicit EchoOff(int fd) : _fd(fd)
    {
        if (::tcgetattr(fd, &g_termiosSaved) != 0)
            return;
        struct sigaction action;
        ::memset(&action, 0, sizeof action);
        action.sa_handler = restoreAndRaise;
        ::sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < sizeof anSignals / sizeof anSignals[0]; ++i)
            ::sigaction(anSignals[i], &action, &_oldActionS[i]);
        struct termios quiet = g_termiosSaved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        g_fdTerminal = fd;
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    ~EchoOff()
    {
        if (g_fdTerminal < 0)
            return;
        ::tcsetattr(_fd, TCSAFLUSH, &g_termiosSaved);
        g_fdTerminal = -1;
        for (size_t i = 0; i < sizeof anSignals / sizeof anSignals[0]; ++i)
            ::sigaction(anSignals[i], &_oldActionS[i], nullptr);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    int _fd;
    struct sigaction _oldActionS[sizeof anSignals / sizeof anSignals[0]];
};

} // namespace

Secret::~Secret()
{
    ::explicit_bzero(&_str[0], _str.size());
}

bool readPasswordLine(int fd, Secret& secret, std::string& strError)
{
    std::string& str = secret.text();
    str.clear();
    str.reserve(nMaxPasswordBytes + 1);  // no reallocation leaves copies behind
    for (;;) {
        char c;
        ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            strError = std::string("cannot read the password: ") + ::strerror(errno);
            return false;
        }
        if (n == 0 || c == '\n')
            break;
        if (str.size() == nMaxPasswordBytes) {
            strError = "password too long (4096 bytes or more)";
            return false;
        }
        str.push_back(c);
    }
    if (!str.empty() && str.back() == '\r')
        str.pop_back();
    return true;
}

bool readPasswordFromTerminal(const std::string& strPrompt, Secret& secret, std::string& strError)
{
    int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        strError = "no terminal to read the password from (use --password-stdin)";
        return false;
    }
    bool bOk;
    {
        if (::write(fd, strPrompt.data(), strPrompt.size()) < 0) {
            // The prompt is a courtesy; the password can still be read.
        }
        EchoOff echoOff(fd);
        bOk = readPasswordLine(fd, secret, strError);
    }
    if (::write(fd, "\n", 1) < 0) {
        // Only cosmetic: the user's Enter was not echoed.
    }
    ::close(fd);
    return bOk;
}

} // namespace ostreltool
