#pragma once
// A self-signed certificate and its private key for a training room's back office.

#include <ctime>
#include <string>
#include <vector>

namespace backoffice {

// How long a certificate made by `cert` or by a first start lasts, unless told otherwise.
constexpr int defaultCertificateDays = 3650;

// Writes a new P-256 key (readable by the owner only) and a certificate for it, valid for
// `days` days, naming the hosts (names or IP addresses) the counters reach the server by;
// "localhost" and 127.0.0.1 are always named. Neither file may exist yet. Throws
// std::runtime_error.
void makeSelfSignedCertificate(const std::string& certificateFile, const std::string& keyFile,
                               const std::vector<std::string>& hosts,
                               int days = defaultCertificateDays);

// Like makeSelfSignedCertificate, but a pair already there is kept beside the new one as
// FILE.old (an older .old goes). The new pair is whole before the old one is moved, so a
// failure leaves the old pair in place. True when an old pair was kept.
bool replaceSelfSignedCertificate(const std::string& certificateFile, const std::string& keyFile,
                                  const std::vector<std::string>& hosts,
                                  int days = defaultCertificateDays);

struct CertificateFacts {
    std::string fingerprint; // as protocol::net::fingerprintOfDer gives it
    std::time_t notAfter = 0;
};
// The first certificate of a PEM file. Throws std::runtime_error.
CertificateFacts readCertificateFacts(const std::string& pemFile);

} // namespace backoffice
