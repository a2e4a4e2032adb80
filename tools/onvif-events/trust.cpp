// The tool's certificate trust: --ca-file, --insecure and --pin through the library's
// process-wide settings, and the fingerprint subcommand (trust on first use).
#include <cstdio>
#include <optional>
#include <string>

#include "commands.h"
#include "endpoint.h"
#include "vek_onvif_event.h"

namespace onvif_events
{

int applyTrust(const char *command, const std::string &url, const TrustOptions &trust)
{
    const char *caFile = trust.caFile.empty() ? nullptr : trust.caFile.c_str();
    uint32_t mode = trust.insecure ? VEK_ONVIF_TLS_ANY : VEK_ONVIF_TLS_VERIFY;
    if (VEK_Onvif_Tls_SetTrust(mode, caFile) != VEK_ONVIF_OK) {
        std::fprintf(stderr, "onvif-events %s: --ca-file: cannot read certificates from %s\n",
                     command, trust.caFile.c_str());
        return kExitUsage;
    }
    if (trust.pin.empty()) {
        return kExitOk;
    }
    std::string why;
    std::optional<Endpoint> endpoint = parseEventUrl(url, &why);
    if (!endpoint) {
        std::fprintf(stderr, "onvif-events %s: %s: %s\n", command, url.c_str(), why.c_str());
        return kExitUsage;
    }
    if (VEK_Onvif_Tls_PinHost(endpoint->host.c_str(), trust.pin.c_str()) != VEK_ONVIF_OK) {
        std::fprintf(stderr, "onvif-events %s: --pin: expected 64 hex digits (colons allowed)\n",
                     command);
        return kExitUsage;
    }
    return kExitOk;
}

int runFingerprint(const FingerprintOptions &options)
{
    std::string why;
    std::optional<Endpoint> endpoint = parseEventUrl(options.url, &why);
    if (!endpoint || !endpoint->secure) {
        std::fprintf(stderr, "onvif-events fingerprint: %s: %s\n", options.url.c_str(),
                     endpoint ? "expected https://HOST[:PORT]/PATH" : why.c_str());
        return kExitUsage;
    }
    char fingerprint[65] = {};
    if (VEK_Onvif_Tls_FetchFingerprint(options.url.c_str(), fingerprint) != VEK_ONVIF_OK) {
        std::fprintf(stderr, "onvif-events fingerprint: no TLS handshake with %s:%s\n",
                     endpoint->host.c_str(), endpoint->port.c_str());
        return kExitUnreachable;
    }
    std::printf("%s\n", fingerprint);
    return kExitOk;
}

} // namespace onvif_events
