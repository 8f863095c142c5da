#ifndef OSTREL_TOOLS_OSTREL_PASSWORD_H
#define OSTREL_TOOLS_OSTREL_PASSWORD_H

#include <string>

namespace ostreltool {

// Longest password accepted: the service takes tokens of fewer than 4096 bytes.
constexpr size_t nMaxPasswordBytes = 4095;

// A password held in memory only as long as needed: wiped when destroyed.
class Secret {
public:
    Secret() = default;
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    ~Secret();
    std::string& text() { return _str; }
    const char* c_str() const { return _str.c_str(); }

private:
    std::string _str;
};

// Reads the first line of fd (without its line end) into secret. False with
// strError when the line is longer than nMaxPasswordBytes or cannot be read.
bool readPasswordLine(int fd, Secret& secret, std::string& strError);

// Prompts on the controlling terminal and reads the password there without
// echo; the terminal is restored however the reading ends, a signal included.
// False with strError when there is no terminal.
bool readPasswordFromTerminal(const std::string& strPrompt, Secret& secret, std::string& strError);

} // namespace ostreltool

#endif
