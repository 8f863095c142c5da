#include "Password.h"

#include "../EchoOff.h"
#include "OstrelData/PasswordAuthenticationToken.h"

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace ostreltool {

Secret::~Secret()
{
    OstrelData::wipePassword(_str);
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
        ostreltools::EchoOff echoOff(fd);
        bOk = readPasswordLine(fd, secret, strError);
    }
    if (::write(fd, "\n", 1) < 0) {
        // Only cosmetic: the user's Enter was not echoed.
    }
    ::close(fd);
    return bOk;
}

} // namespace ostreltool
