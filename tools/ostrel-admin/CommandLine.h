#ifndef OSTRELADMIN_COMMANDLINE_H
#define OSTRELADMIN_COMMANDLINE_H

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace OstrelAdmin {

// A command line the tool cannot follow; main prints it with a hint to --help and exits 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Options of one command: those that take a value and those that stand alone.
struct OptionSpec {
    std::set<std::string> valuedS;
    std::set<std::string> flagS;
};

// Words and options: "--name value" or "--name=value" for an option that takes a value, "--name"
// for a flag, "--" ends the options. Options may come anywhere among the words.
class CommandLine {
public:
    CommandLine() = default;
    // Throws UsageError for an option the spec does not know, a value missing or given to a flag,
    // or an option given twice.
    CommandLine(const std::vector<std::string>& argS, const OptionSpec& spec);

    const std::vector<std::string>& words() const { return _wordS; }
    bool has(const std::string& strName) const { return _valueS.count(strName) != 0; }
    // The option's value, or strDefault when it was not given.
    std::string value(const std::string& strName, const std::string& strDefault = std::string()) const;

private:
    std::vector<std::string> _wordS;
    std::map<std::string, std::string> _valueS;
};

} // namespace OstrelAdmin

#endif
