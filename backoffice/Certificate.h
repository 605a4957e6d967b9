#pragma once
// A self-signed certificate and its private key for a training room's back office.

#include <string>
#include <vector>

namespace backoffice {

// Writes a new P-256 key (readable by the owner only) and a certificate for it, valid for
// `days` days, naming the hosts (names or IP addresses) the counters reach the server by;
// "localhost" and 127.0.0.1 are always named. Throws std::runtime_error.
void makeSelfSignedCertificate(const std::string& certificateFile, const std::string& keyFile,
                               const std::vector<std::string>& hosts, int days = 365);

} // namespace backoffice
