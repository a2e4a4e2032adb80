// Reading the simulator's requests with Mini-XML.
#include "request.h"
#include "auth.h"
#include "xml_text.h"

#include <map>

namespace camsim::detail
{

namespace
{

bool isAddressingNamespace(const std::string &uri)
{
    return uri.find("addressing") != std::string::npos;
}

// Every attribute (other than namespace declarations) and every leaf text below node, keyed by
// the local-name path from the operation element; the first occurrence of a key wins.
void collectLeaves(mxml_node_t *node, const std::string &prefix,
                   std::map<std::string, std::string> &out)
{
    for (mxml_node_t *child = firstChildElement(node); child; child = nextElement(child)) {
        std::string key =
            prefix.empty() ? nodeLocalName(child) : prefix + "/" + nodeLocalName(child);
        int count = mxmlElementGetAttrCount(child);
        for (int index = 0; index < count; ++index) {
            const char *name = nullptr;
            const char *value = mxmlElementGetAttrByIndex(child, index, &name);
            if (name && std::string_view(name).rfind("xmlns", 0) != 0) {
                out.emplace(key + "@" + localName(name), value ? value : "");
            }
        }
        if (firstChildElement(child)) {
            collectLeaves(child, key, out);
        } else {
            out.emplace(key, trim(textOf(child)));
        }
    }
}

void readSecurity(mxml_node_t *security, RecordedRequest &request)
{
    request.hasSecurity = true;
    mxml_node_t *token = childByLocal(security, "UsernameToken");
    if (!token) {
        return;
    }
    request.username = trim(textOf(childByLocal(token, "Username")));
    mxml_node_t *password = childByLocal(token, "Password");
    request.password = trim(textOf(password));
    request.passwordType = password ? attrByLocal(password, "Type") : "";
    request.nonce = trim(textOf(childByLocal(token, "Nonce")));
    request.created = trim(textOf(childByLocal(token, "Created")));
}

void readAddressing(mxml_node_t *element, const std::string &name, RecordedRequest &request)
{
    if (name == "Action") {
        request.wsaAction = trim(textOf(element));
    } else if (name == "To") {
        request.wsaTo = trim(textOf(element));
    } else if (name == "MessageID") {
        request.wsaMessageId = trim(textOf(element));
    } else if (name == "ReplyTo") {
        request.wsaReplyTo = trim(textOf(childByLocal(element, "Address")));
    }
}

void readHeader(mxml_node_t *header, RecordedRequest &request)
{
    for (mxml_node_t *element = firstChildElement(header); element;
         element = nextElement(element)) {
        std::string name = nodeLocalName(element);
        std::string uri = namespaceOf(element);
        if (name == "Security") {
            readSecurity(element, request);
        } else if (isAddressingNamespace(uri)) {
            readAddressing(element, name, request);
        } else {
            HeaderElement block{mxmlGetElement(element), name, uri, textOf(element),
                                serialize(element),      {}};
            for (int i = 0; i < mxmlElementGetAttrCount(element); ++i) {
                const char *attribute = nullptr;
                const char *value = mxmlElementGetAttrByIndex(element, i, &attribute);
                if (attribute != nullptr && value != nullptr) {
                    block.attributes[attribute] = value;
                }
            }
            request.referenceParameters.push_back(std::move(block));
        }
    }
}

bool endsWith(const std::string &text, std::string_view suffix)
{
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A UsernameToken with the configured user and a matching PasswordDigest, created within the
// configured window of the camera's clock.
bool credentialsMatch(const RecordedRequest &request, const Config &config)
{
    if (request.username != config.user || !endsWith(request.passwordType, "#PasswordDigest")) {
        return false;
    }
    std::optional<std::string> nonce = base64Decode(request.nonce);
    return nonce && !request.created.empty() &&
           passwordDigest(*nonce, request.created, config.password) == request.password &&
           createdInWindow(request.created, config);
}

} // namespace

void parseRequest(RecordedRequest &request, const Config &config)
{
    request.httpAction = actionParameter(request.contentType);
    XmlTree tree(request.rawBody);
    mxml_node_t *envelope = tree.ok() ? firstChildElement(tree.root()) : nullptr;
    if (!envelope || nodeLocalName(envelope) != "Envelope") {
        return;
    }
    mxml_node_t *body = childByLocal(envelope, "Body");
    if (!body) {
        return;
    }
    request.wellFormed = true;
    readHeader(childByLocal(envelope, "Header"), request);
    if (mxml_node_t *operation = firstChildElement(body)) {
        request.operation = nodeLocalName(operation);
        collectLeaves(operation, "", request.body);
    }
    if (request.hasSecurity) {
        request.authenticated = credentialsMatch(request, config);
    }
}

std::string actionParameter(const std::string &contentType)
{
    const std::string key = "action=";
    size_t start = contentType.find(key);
    if (start == std::string::npos) {
        return {};
    }
    start += key.size();
    if (start < contentType.size() && contentType[start] == '"') {
        size_t end = contentType.find('"', start + 1);
        return contentType.substr(start + 1, end == std::string::npos ? end : end - start - 1);
    }
    size_t end = contentType.find(';', start);
    return trim(contentType.substr(start, end == std::string::npos ? end : end - start));
}

namespace
{

// Seconds of `value` units of the designator; nullopt for an unknown designator.
std::optional<double> durationPart(double value, char designator, bool inTime)
{
    switch (designator) {
    case 'Y':
        return value * 365 * 86400;
    case 'D':
        return value * 86400;
    case 'H':
        return value * 3600;
    case 'M':
        return inTime ? value * 60 : value * 30 * 86400;
    case 'S':
        return value;
    default:
        return std::nullopt;
    }
}

} // namespace

std::optional<std::chrono::seconds> parseDuration(const std::string &text)
{
    std::string duration = trim(text);
    if (duration.size() < 2 || duration[0] != 'P') {
        return std::nullopt;
    }
    double total = 0;
    bool inTime = false;
    std::string number;
    for (size_t index = 1; index < duration.size(); ++index) {
        char c = duration[index];
        if ((c >= '0' && c <= '9') || c == '.') {
            number += c;
            continue;
        }
        if (c == 'T') {
            inTime = true;
            continue;
        }
        if (number.empty()) {
            return std::nullopt;
        }
        std::optional<double> seconds = durationPart(std::stod(number), c, inTime);
        if (!seconds) {
            return std::nullopt;
        }
        total += *seconds;
        number.clear();
    }
    if (!number.empty()) {
        return std::nullopt;
    }
    return std::chrono::seconds(static_cast<long long>(total));
}

std::string bodyField(const RecordedRequest &request, const char *key)
{
    auto found = request.body.find(key);
    return found == request.body.end() ? std::string() : found->second;
}

int pathId(const std::string &path, std::string_view prefix)
{
    if (path.rfind(prefix, 0) != 0 || path.size() == prefix.size() ||
        path.size() - prefix.size() > 9) {
        return -1;
    }
    std::string digits = path.substr(prefix.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    return std::stoi(digits);
}

} // namespace camsim::detail
