// Event payloads read from files of the corpus: whole Notify envelopes, NotificationMessage
// elements or bare Message elements.
#include "camsim.h"
#include "xml_text.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace camsim
{

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("camsim: cannot read " + path);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> loadNotificationMessages(const std::string &path,
                                                  const std::string &topicIfBare)
{
    std::string text = readFile(path);
    auto messages = extractNotificationMessages(text);
    if (!messages.empty()) {
        return messages;
    }
    auto inner = detail::findElement(text, "Message", 0);
    if (!inner) {
        throw std::runtime_error("camsim: no NotificationMessage or Message element in " + path);
    }
    return {
        makeNotificationMessage(topicIfBare, text.substr(inner->begin, inner->end - inner->begin))};
}

} // namespace camsim
