#include "CommandLine.h"

#include <algorithm>
#include <charconv>

namespace backoffice {

std::optional<std::int64_t> parseNumber(const std::string& text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

std::optional<HostPort> parseHostPort(const std::string& text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return std::nullopt;
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const auto port = parseNumber(text.substr(colon + 1));
    if (!port || *port < 0 || *port > 65535)
        return std::nullopt;
    return HostPort{host, static_cast<std::uint16_t>(*port)};
}

std::optional<std::string> checkValue(const OptionRule& rule, const std::string& value) {
    switch (rule.kind) {
    case OptionRule::Kind::Text:
    case OptionRule::Kind::Flag:
        return std::nullopt;
    case OptionRule::Kind::YesNo:
        if (value == "yes" || value == "no")
            return std::nullopt;
        return "'" + value + "' is neither yes nor no";
    case OptionRule::Kind::Address:
        if (parseHostPort(value))
            return std::nullopt;
        return "'" + value + "' is not HOST:PORT with a port from 0 to 65535";
    case OptionRule::Kind::Number:
        break;
    }
    const auto number = parseNumber(value);
    if (!number)
        return "'" + value + "' is not a whole number";
    if (*number < rule.min || *number > rule.max)
        return "'" + value + "' is out of range (" + std::to_string(rule.min) + " to " +
               std::to_string(rule.max) + ")";
    return std::nullopt;
}

std::string optionSynopsis(const OptionRule& rule) {
    const std::string name = std::string("--") + rule.name;
    switch (rule.kind) {
    case OptionRule::Kind::Text:
        return name + " VALUE";
    case OptionRule::Kind::Number:
        return name + " N";
    case OptionRule::Kind::Flag:
        return name;
    case OptionRule::Kind::YesNo:
        return name + " yes|no";
    case OptionRule::Kind::Address:
        return name + " HOST:PORT";
    }
    return name;
}

std::string optionValues(const OptionRule& rule) {
    switch (rule.kind) {
    case OptionRule::Kind::Text:
        return "text";
    case OptionRule::Kind::Number:
        return "a whole number from " + std::to_string(rule.min) + " to " +
               std::to_string(rule.max);
    case OptionRule::Kind::Flag:
        return "no value";
    case OptionRule::Kind::YesNo:
        return "yes or no";
    case OptionRule::Kind::Address:
        return "an address and a port from 0 to 65535";
    }
    return {};
}

std::string Options::text(const std::string& name) const {
    const auto found = values_.find(name);
    return found == values_.end() ? std::string() : found->second;
}

std::int64_t Options::number(const std::string& name, std::int64_t fallback) const {
    const auto found = values_.find(name);
    return found == values_.end() ? fallback : parseNumber(found->second).value_or(fallback);
}

bool Options::yes(const std::string& name, bool fallback) const {
    const auto found = values_.find(name);
    return found == values_.end() ? fallback : found->second != "no";
}

void Options::fillFrom(const Options& under) {
    for (const auto& [name, value] : under.values_)
        values_.try_emplace(name, value);
}

Options parseOptions(const std::vector<std::string>& args, std::span<const OptionRule> rules) {
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || arg[0] != '-') {
            options.words.push_back(arg);
            continue;
        }
        const std::string name = arg.starts_with("--") ? arg.substr(2) : arg.substr(1);
        const auto rule = std::find_if(rules.begin(), rules.end(),
                                       [&](const OptionRule& s) { return name == s.name; });
        if (rule == rules.end() || !arg.starts_with("--"))
            throw UsageError("unknown option " + arg);
        if (options.has(name))
            throw UsageError("option " + arg + " given twice");
        if (rule->kind == OptionRule::Kind::Flag) {
            options.set(name, "yes");
            continue;
        }
        if (i + 1 >= args.size())
            throw UsageError("option " + arg + " needs a value");
        const std::string& value = args[++i];
        if (const auto bad = checkValue(*rule, value))
            throw UsageError(arg + ": " + *bad);
        options.set(name, value);
    }
    return options;
}

} // namespace backoffice
