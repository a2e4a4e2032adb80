// Certificates for the simulator's HTTPS service: a key and an X.509
// certificate made on the spot, self-signed or signed by a test CA made the
// same way.
#pragma once

#include <string>
#include <vector>

namespace camsim
{

// A certificate and its private key, both PEM, and the certificate's SHA-256
// fingerprint (64 lower-case hex digits).
struct Identity {
    std::string certPem;
    std::string keyPem;
    std::string fingerprint;
};

struct CertOptions {
    std::string commonName = "camsim";
    // Subject alternative names: IP addresses as IP entries, others as DNS names.
    std::vector<std::string> names = {"127.0.0.1", "localhost"};
    bool expired = false;   // valid from two days ago until yesterday
    bool authority = false; // a CA that may sign others
};

// A new P-256 key and a certificate for it, signed by issuer (self-signed
// when null). Throws std::runtime_error when OpenSSL fails.
Identity makeIdentity(const CertOptions &options, const Identity *issuer = nullptr);

} // namespace camsim
