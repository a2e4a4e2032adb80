#include "failure.h"

#include <cstdlib>
#include <vector>

#include "pull_point_gone_rule.h"

namespace onvif_events
{

namespace
{

std::string trimmed(const std::string &text)
{
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) {
        return "";
    }
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

// The runtime writes a qualified name as "URI":local; the ONVIF error namespace as ter:.
std::string shortName(const std::string &name)
{
    size_t end = name.rfind("\":");
    if (name.empty() || name[0] != '"' || end == std::string::npos) {
        return name;
    }
    std::string uri = name.substr(1, end - 1);
    std::string local = name.substr(end + 2);
    return uri == "http://www.onvif.org/ver10/error" ? "ter:" + local : local;
}

std::string unquoted(const std::string &text)
{
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

// The runtime's report: "SOAP 1.2 fault CODE [SUBCODE] REASON Detail: DETAIL" (or "Error N fault
// ..."), on one line, followed by " | HTTP N" when an answer arrived.
void readFaultReport(const std::string &report, FailureReason &reason)
{
    size_t http = report.rfind(" | HTTP ");
    std::string fault = report.substr(0, http);
    if (http != std::string::npos) {
        reason.httpStatus = std::atoi(report.c_str() + http + 8);
    }
    size_t open = fault.find(" [");
    size_t close = open == std::string::npos ? open : fault.find(']', open);
    if (close != std::string::npos) {
        std::string subcode = fault.substr(open + 2, close - open - 2);
        reason.subcode = subcode == "no subcode" ? "" : shortName(subcode);
        size_t detail = fault.find(" Detail:", close);
        reason.reason = unquoted(trimmed(fault.substr(close + 1, detail - close - 1)));
        if (reason.reason == "[no reason]") {
            reason.reason.clear();
        }
    }
    reason.timedOut = fault.find("timed out") != std::string::npos;
    reason.refused = fault.find("Connection refused") != std::string::npos;
}

} // namespace

std::string FailureReason::text() const
{
    std::string out;
    auto add = [&out](const std::string &part, const char *separator) {
        if (!part.empty()) {
            out += out.empty() ? part : separator + part;
        }
    };
    add(httpStatus > 0 ? "HTTP " + std::to_string(httpStatus) : "", ", ");
    add(subcode, ", ");
    add(reason, subcode.empty() ? ", " : ": ");
    return out;
}

bool FailureReason::subscriptionGone() const
{
    return vek::saysPullPointGone(httpStatus, {subcode, reason});
}

bool FailureReason::notAuthorized() const
{
    return subcode.find("NotAuthorized") != std::string::npos || httpStatus == 401;
}

FailureReason failureReason(const LogCapture &logs, size_t first)
{
    FailureReason reason;
    std::vector<LogLine> lines = logs.since(first);
    // "TLS certificate of HOST refused (WHY), SHA-256 ..."
    for (const LogLine &line : lines) {
        size_t open = line.text.find(" refused (");
        size_t close = line.text.find(')', open);
        if (line.text.rfind("TLS certificate of ", 0) == 0 && close != std::string::npos) {
            reason.certificate = line.text.substr(open + 10, close - open - 10);
        }
    }
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        size_t report = line->text.find(" | ");
        if (report != std::string::npos) {
            readFaultReport(line->text.substr(report + 3), reason);
            break;
        }
    }
    return reason;
}

} // namespace onvif_events
