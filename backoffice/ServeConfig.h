#pragma once
// What `serve` runs with: its options from the command line over those of its
// configuration file, and what a first start makes when it is not there yet (the database,
// the certificate and key).

#include "BackOffice.h"
#include "Certificate.h"
#include "CommandLine.h"
#include "Log.h"
#include "TcpServer.h"

#include <functional>
#include <map>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace backoffice {

// A configuration file that cannot be read or holds a bad line: "FILE:LINE: reason".
class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The options of `serve`; all but `config` may stand in its configuration file too.
std::span<const OptionRule> serveOptions();

// Each option's value when neither the command line nor the file gives it, as the file
// would write it; options without one (db, listen, the pair) are left out.
std::map<std::string, std::string> serveOptionDefaults();

// Reads `key = value` lines (a byte-order mark before the first is skipped); a line that starts
// with # is a comment, blank lines are skipped. The keys are the option names; an unknown key, one
// given twice, a bad value or a line without "=" is a ConfigError naming the file, the line and the
// reason.
Options readConfigFile(const std::string& path, std::span<const OptionRule> rules);

struct ServeSettings {
    std::string db;
    TcpServer::Options server;
    OfficeOptions office;
    // With no database: an empty one (the branches, dictionaries and configuration, no
    // clients and no operators) instead of the training data.
    bool emptyDatabase = false;
    // With TLS configured and neither the certificate nor the key there: make a pair.
    bool tlsGenerate = true;
    std::vector<std::string> certificateHosts;
    int certificateDays = defaultCertificateDays;
    LogPriority logLevel = LogPriority::Info;
    // How often the journal's head goes to the log while it moves.
    std::chrono::seconds checkpointInterval{600};
};

// The settings of checked options; a UsageError when db or listen is missing, or only one
// of cert and key is given.
ServeSettings serveSettings(const Options& options);

// Makes what a first start lacks; each thing made is said through `say`. A database is
// made under another name and renamed when whole, so a start that fails midway leaves
// none behind. Throws std::runtime_error.
void prepareFirstStart(const ServeSettings& settings,
                       const std::function<void(const std::string&)>& say);

} // namespace backoffice
