#include "failure.h"

#include "pull_point_gone_rule.h"
#include "report_format.h"

namespace onvif_events
{

std::string Outcome::text() const
{
    std::string out;
    auto add = [&out](const std::string &part, const char *separator) {
        if (!part.empty()) {
            out += out.empty() ? part : separator + part;
        }
    };
    add(why.ulHttpStatus > 0 ? "HTTP " + std::to_string(why.ulHttpStatus) : "", ", ");
    add(why.szFaultSubcode, ", ");
    // For a bare HTTP status the reason only says the status again.
    if (why.ulKind != VEK_ONVIF_FAIL_HTTP || why.ulHttpStatus == 0) {
        add(why.szReason, why.szFaultSubcode[0] != '\0' ? ": " : ", ");
    }
    return out.empty() ? "result " + resultText(result) : out;
}

bool Outcome::subscriptionGone() const
{
    if (why.ulKind != VEK_ONVIF_FAIL_FAULT && why.ulKind != VEK_ONVIF_FAIL_HTTP) {
        return false;
    }
    return vek::saysPullPointGone(static_cast<int>(why.ulHttpStatus),
                                  {why.szFaultSubcode, why.szReason});
}

bool Outcome::noAnswer() const
{
    return why.ulKind == VEK_ONVIF_FAIL_RESOLVE || why.ulKind == VEK_ONVIF_FAIL_CONNECT ||
           why.ulKind == VEK_ONVIF_FAIL_TIMEOUT;
}

Outcome outcomeOf(uint32_t result)
{
    Outcome outcome;
    outcome.result = result;
    if (result != VEK_ONVIF_OK) {
        VEK_Onvif_GetLastError(&outcome.why);
    }
    return outcome;
}

} // namespace onvif_events
