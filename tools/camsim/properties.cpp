// The simulated camera's property states.
#include "properties.h"
#include "xml_text.h"

#include <string_view>

namespace camsim::detail
{

namespace
{

// The inner text of the first element of that local name, or "".
std::string innerText(const std::string &xml, std::string_view local)
{
    std::optional<Span> span = findElement(xml, local, 0);
    if (!span) {
        return {};
    }
    size_t close = xml.rfind("</", span->end);
    if (close == std::string::npos || close < span->startTagEnd) {
        return {};
    }
    return xml.substr(span->startTagEnd, close - span->startTagEnd);
}

// The value of the PropertyOperation attribute and where it stands, or npos.
size_t operationAt(const std::string &message, std::string &operation, size_t &length)
{
    const std::string key = "PropertyOperation=";
    size_t at = message.find(key);
    if (at == std::string::npos || at + key.size() >= message.size()) {
        return std::string::npos;
    }
    char quote = message[at + key.size()];
    size_t valueStart = at + key.size() + 1;
    size_t valueEnd = message.find(quote, valueStart);
    if (valueEnd == std::string::npos) {
        return std::string::npos;
    }
    operation = message.substr(valueStart, valueEnd - valueStart);
    length = valueEnd - valueStart;
    return valueStart;
}

} // namespace

void PropertyStates::note(const std::string &notificationMessage)
{
    std::string operation;
    size_t length = 0;
    if (operationAt(notificationMessage, operation, length) == std::string::npos) {
        return;
    }
    std::string key = trim(innerText(notificationMessage, "Topic")) + "|" +
                      innerText(notificationMessage, "Source");
    if (operation == "Deleted") {
        states_.erase(key);
    } else if (operation == "Changed" || operation == "Initialized") {
        states_[key] = notificationMessage;
    }
}

std::vector<std::string> PropertyStates::asInitialized() const
{
    std::vector<std::string> out;
    for (const auto &[key, message] : states_) {
        std::string initialized = message;
        std::string operation;
        size_t length = 0;
        size_t at = operationAt(initialized, operation, length);
        initialized.replace(at, length, "Initialized");
        out.push_back(initialized);
    }
    return out;
}

} // namespace camsim::detail
