#ifndef OSTREL_TOOLS_OSTREL_ARGUMENTS_H
#define OSTREL_TOOLS_OSTREL_ARGUMENTS_H

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace ostreltool {

// A command line the user got wrong: shown with the command's usage, exit 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One option a command accepts.
struct OptionSpec {
    const char* pszName;  // without the leading "--"
    bool bTakesValue;
};

// The words of a command line split into options and the other words.
// Options are "--name", "--name VALUE" or "--name=VALUE" and may stand
// anywhere; "--" ends the options.
class Arguments {
public:
    // Throws UsageError for an option not in specS, a missing value, a value
    // given to a flag, or an option given twice.
    Arguments(const std::vector<std::string>& wordS, const std::vector<OptionSpec>& specS);

    bool has(const std::string& strName) const { return _optionS.count(strName) != 0; }
    // The option's value; strDefault when it was not given.
    std::string value(const std::string& strName, const std::string& strDefault = std::string()) const;
    const std::vector<std::string>& positionals() const { return _positionalS; }

private:
    std::map<std::string, std::string> _optionS;
    std::vector<std::string> _positionalS;
};

// A whole decimal number within int; throws UsageError naming strWhat.
int parseNumber(const std::string& strText, const std::string& strWhat);
// "A:B" as two numbers; throws UsageError naming strWhat.
std::pair<int, int> parsePair(const std::string& strText, const std::string& strWhat);

} // namespace ostreltool

#endif
