#include "ServeConfig.h"

#include "Certificate.h"
#include "JournalKey.h"
#include "Seed.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

namespace backoffice {

namespace {

using Kind = OptionRule::Kind;

constexpr OptionRule serveRules[] = {
    {"config"},
    {"db"},
    {"listen", Kind::Address},
    {"cert"},
    {"key"},
    {"cert-hosts"},
    {"cert-days", Kind::Number, 1, 36500},
    {"tls-generate", Kind::YesNo},
    {"empty-database", Kind::YesNo},
    {"workers", Kind::Number, 1, 1024},
    {"max-connections", Kind::Number, 1, 1'000'000},
    {"frame-timeout-ms", Kind::Number, 1, 3'600'000},
    {"idle-timeout-s", Kind::Number, 1, 31'536'000},
    {"review-age-s", Kind::Number, 1, 31'536'000},
    {"login-timeout-ms", Kind::Number, 1, 3'600'000},
    {"max-strangers", Kind::Number, 1, 1'000'000},
    {"max-strangers-per-source", Kind::Number, 1, 1'000'000},
    {"guesses-per-hour", Kind::Number, 1, 1'000'000},
    {"max-hashes", Kind::Number, 1, 1024},
    {"max-logins-per-operator", Kind::Number, 1, 1'000'000},
    {"checkpoint-interval-s", Kind::Number, 1, 31'536'000},
    {"log-level"},
};

std::string trim(const std::string& text) {
    const auto blank = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\r'; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string item = trim(text.substr(start, comma - start));
        if (!item.empty())
            items.push_back(item);
        start = comma + 1;
    }
    return items;
}

// The names the counters may reach this machine by, for a certificate made at first start.
std::vector<std::string> defaultHosts(const std::string& listenHost) {
    std::vector<std::string> hosts;
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0')
        hosts.emplace_back(name);
    if (listenHost != "0.0.0.0" && listenHost != "::" && listenHost != "127.0.0.1" &&
        listenHost != "::1")
        hosts.push_back(listenHost);
    return hosts;
}

} // namespace

std::span<const OptionRule> serveOptions() {
    return serveRules;
}

std::map<std::string, std::string> serveOptionDefaults() {
    const ServeSettings s;
    const TcpServer::Options& o = s.server;
    const OfficeOptions& office = s.office;
    const auto n = [](auto value) { return std::to_string(value); };
    using std::chrono::duration_cast;
    using std::chrono::seconds;
    return {
        {"cert-days", n(s.certificateDays)},
        {"tls-generate", s.tlsGenerate ? "yes" : "no"},
        {"empty-database", s.emptyDatabase ? "yes" : "no"},
        {"workers", n(o.workers)},
        {"max-connections", n(o.maxConnections)},
        {"frame-timeout-ms", n(o.frameTimeout.count())},
        {"idle-timeout-s", n(duration_cast<seconds>(o.idleTimeout).count())},
        {"review-age-s", n(office.reviewMaxAge.count())},
        {"login-timeout-ms", n(o.loginTimeout.count())},
        {"max-strangers", n(o.maxStrangers)},
        {"max-strangers-per-source", n(o.maxStrangersPerSource)},
        {"guesses-per-hour", n(office.throttle.guessesPerOperator)},
        {"max-hashes", n(office.maxHashes)},
        {"max-logins-per-operator", n(o.maxLoginsPerOperator)},
        {"checkpoint-interval-s", n(s.checkpointInterval.count())},
        {"log-level", "info"},
    };
}

Options readConfigFile(const std::string& path, std::span<const OptionRule> rules) {
    std::ifstream in(path);
    if (!in)
        throw ConfigError(path + ": cannot read: " + std::strerror(errno));
    Options options;
    std::map<std::string, int> lineOf;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        // An editor may begin the file with a byte-order mark.
        if (number == 1 && line.starts_with("\xEF\xBB\xBF"))
            line.erase(0, 3);
        const std::string where = path + ":" + std::to_string(number) + ": ";
        const std::string content = trim(line);
        if (content.empty() || content.front() == '#')
            continue;
        const std::size_t equals = content.find('=');
        if (equals == std::string::npos)
            throw ConfigError(where + "expected key = value, found '" + content + "'");
        const std::string key = trim(content.substr(0, equals));
        const std::string value = trim(content.substr(equals + 1));
        const auto rule = std::find_if(rules.begin(), rules.end(), [&](const OptionRule& s) {
            return key == s.name && key != "config";
        });
        if (rule == rules.end())
            throw ConfigError(where + "unknown key '" + key + "'");
        if (const auto seen = lineOf.find(key); seen != lineOf.end())
            throw ConfigError(where + "key '" + key + "' given already on line " +
                              std::to_string(seen->second));
        lineOf[key] = number;
        if (value.empty() && rule->kind == Kind::Text)
            continue;
        if (value.empty())
            throw ConfigError(where + key + ": no value");
        if (const auto bad = checkValue(*rule, value))
            throw ConfigError(where + key + ": " + *bad);
        options.set(key, value);
    }
    if (in.bad())
        throw ConfigError(path + ": cannot read: " + std::strerror(errno));
    return options;
}

ServeSettings serveSettings(const Options& options) {
    ServeSettings s;
    s.db = options.text("db");
    if (s.db.empty())
        throw UsageError("serve needs --db FILE (or db = FILE in its configuration)");
    const auto listen = parseHostPort(options.text("listen"));
    if (!listen)
        throw UsageError("serve needs --listen HOST:PORT (or listen = HOST:PORT in its "
                         "configuration)");
    TcpServer::Options& o = s.server;
    o.host = listen->host;
    o.port = listen->port;
    o.certificateFile = options.text("cert");
    o.keyFile = options.text("key");
    if (o.certificateFile.empty() != o.keyFile.empty())
        throw UsageError("TLS needs both cert and key");
    using std::chrono::milliseconds;
    using std::chrono::seconds;
    o.frameTimeout = milliseconds(options.number("frame-timeout-ms", o.frameTimeout.count()));
    o.idleTimeout = std::chrono::duration_cast<milliseconds>(seconds(options.number(
        "idle-timeout-s", std::chrono::duration_cast<seconds>(o.idleTimeout).count())));
    o.maxConnections = static_cast<std::size_t>(
        options.number("max-connections", static_cast<std::int64_t>(o.maxConnections)));
    o.workers =
        static_cast<std::size_t>(options.number("workers", static_cast<std::int64_t>(o.workers)));
    o.loginTimeout = milliseconds(options.number("login-timeout-ms", o.loginTimeout.count()));
    o.maxStrangers = static_cast<std::size_t>(
        options.number("max-strangers", static_cast<std::int64_t>(o.maxStrangers)));
    o.maxStrangersPerSource = static_cast<std::size_t>(options.number(
        "max-strangers-per-source", static_cast<std::int64_t>(o.maxStrangersPerSource)));
    o.maxLoginsPerOperator = static_cast<std::size_t>(options.number(
        "max-logins-per-operator", static_cast<std::int64_t>(o.maxLoginsPerOperator)));
    OfficeOptions& office = s.office;
    office.reviewMaxAge = seconds(options.number("review-age-s", office.reviewMaxAge.count()));
    office.throttle.guessesPerOperator =
        static_cast<int>(options.number("guesses-per-hour", office.throttle.guessesPerOperator));
    office.maxHashes = static_cast<std::size_t>(
        options.number("max-hashes", static_cast<std::int64_t>(office.maxHashes)));
    s.checkpointInterval =
        seconds(options.number("checkpoint-interval-s", s.checkpointInterval.count()));
    s.emptyDatabase = options.yes("empty-database", false);
    s.tlsGenerate = options.yes("tls-generate", true);
    s.certificateHosts =
        options.has("cert-hosts") ? splitList(options.text("cert-hosts")) : defaultHosts(o.host);
    s.certificateDays = static_cast<int>(options.number("cert-days", s.certificateDays));
    if (options.has("log-level")) {
        const auto level = parseLogLevel(options.text("log-level"));
        if (!level)
            throw UsageError("log-level: '" + options.text("log-level") +
                             "' is none of error, warning, notice, info");
        s.logLevel = *level;
    }
    return s;
}

void prepareFirstStart(const ServeSettings& settings,
                       const std::function<void(const std::string&)>& say) {
    namespace fs = std::filesystem;
    if (!fs::exists(settings.db)) {
        const std::string making = settings.db + ".new";
        fs::remove(making);
        {
            Database db(making, true);
            if (settings.emptyDatabase)
                seedEmpty(db);
            else
                seedTraining(db);
        }
        // The journal's key goes with the database it seals.
        fs::rename(journalKeyPath(making), journalKeyPath(settings.db));
        fs::rename(making, settings.db);
        say("made the database " + settings.db +
            (settings.emptyDatabase ? " (empty: no clients, no operators)"
                                    : " with the training data"));
    }
    const std::string& cert = settings.server.certificateFile;
    const std::string& key = settings.server.keyFile;
    if (cert.empty() || !settings.tlsGenerate)
        return;
    const bool hasCert = fs::exists(cert);
    const bool hasKey = fs::exists(key);
    if (hasCert && hasKey)
        return;
    if (hasCert != hasKey)
        throw std::runtime_error("found " + (hasCert ? cert : key) + " but not " +
                                 (hasCert ? key : cert) +
                                 "; give both or neither (then a pair is made)");
    makeSelfSignedCertificate(cert, key, settings.certificateHosts, settings.certificateDays);
    std::string names;
    for (const std::string& host : settings.certificateHosts)
        names += ", " + host;
    say("made a self-signed certificate " + cert + " and its key " + key +
        " for localhost, 127.0.0.1" + names + "; give the counters a copy of " + cert +
        " as their CA file");
}

} // namespace backoffice
