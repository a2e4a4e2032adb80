// Trust in the certificates of https:// event services: the process-wide
// mode, CA file and pinned fingerprints, and the connection hook that
// applies them to every context of the library.
#ifndef VEK_TLS_TRUST_H
#define VEK_TLS_TRUST_H

#include <optional>
#include <string>
#include <string_view>

#include "stdsoap2.h"

namespace vek::tls
{

// Most pinned hosts, and most hosts remembered as warned about.
constexpr size_t kMaxPins = 1024;
constexpr size_t kMaxWarnedHosts = 1024;

// Makes every connection of soap to an https:// endpoint go through the
// trust settings; plain http:// connections are left as they are.
void attach(struct soap *soap);

// Prepares soap for a TLS handshake that checks nothing (TLS 1.2 or newer);
// SOAP_OK or the runtime's error.
int prepareUnchecked(struct soap *soap);

// The lower-case hex SHA-256 fingerprint of the peer's leaf certificate on
// soap's TLS connection, or nothing when there is none.
std::optional<std::string> peerFingerprint(struct soap *soap);

// The 64 lower-case hex digits of text (case and colons ignored), or nothing
// when text is not a SHA-256 fingerprint.
std::optional<std::string> normalizeFingerprint(std::string_view text);

// Back to the state a process starts with: mode VERIFY, no CA file, no
// pins, no host warned about.
void reset();

} // namespace vek::tls

#endif // VEK_TLS_TRUST_H
