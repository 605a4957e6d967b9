#pragma once
// The options of marlo-backoffice's commands, from the command line or from a
// configuration file: each option is declared once with the kind of value it takes, so
// an unknown or misspelt option, a missing value and a bad number are refused by name
// wherever they come from.

#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace backoffice {

// Bad command-line input: the message names the option and says what is wrong.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct OptionRule {
    enum class Kind {
        Text,    // any value
        Number,  // a whole number within min..max
        Flag,    // no value on the command line
        YesNo,   // yes or no
        Address, // HOST:PORT, the port 0 to 65535
    };
    const char* name;
    Kind kind = Kind::Text;
    std::int64_t min = 0;
    std::int64_t max = std::numeric_limits<std::int32_t>::max();
};

// Why the value does not suit the option; nothing when it does.
std::optional<std::string> checkValue(const OptionRule& rule, const std::string& value);

// A whole number, all of the text, or nothing.
std::optional<std::int64_t> parseNumber(const std::string& text);

struct HostPort {
    std::string host;
    std::uint16_t port = 0;
};
// "127.0.0.1:7001", "[::1]:7001": the port is checked, never cut to 16 bits.
std::optional<HostPort> parseHostPort(const std::string& text);

class Options {
public:
    bool has(const std::string& name) const { return values_.contains(name); }
    // Empty when absent.
    std::string text(const std::string& name) const;
    // Values were checked when they were read.
    std::int64_t number(const std::string& name, std::int64_t fallback) const;
    // A flag given, or a yes-or-no option's value.
    bool yes(const std::string& name, bool fallback) const;
    void set(const std::string& name, std::string value) { values_[name] = std::move(value); }
    // Takes every option of `under` this does not have: options given here override them.
    void fillFrom(const Options& under);
    const std::map<std::string, std::string>& values() const { return values_; }

    // The words that are not options, in order (an operator's number, say).
    std::vector<std::string> words;

private:
    std::map<std::string, std::string> values_;
};

// How an option is written in a usage text: "--workers N", "--listen HOST:PORT",
// "--reviewer", "--tls-generate yes|no", "--db VALUE".
std::string optionSynopsis(const OptionRule& rule);
// What the option takes, for a help text: "a whole number from 1 to 1024", ...
std::string optionValues(const OptionRule& rule);

// "--name value" and "--name" for a flag, in any order among the words. An option not in
// `rules`, one given twice, a missing value or a bad one is a UsageError.
Options parseOptions(const std::vector<std::string>& args, std::span<const OptionRule> rules);

} // namespace backoffice
