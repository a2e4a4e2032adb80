#include "message_element.h"

#include <cstring>

#include "vek_log.h"

namespace vek
{

namespace
{
constexpr const char *kMessageElement = "Message";
} // namespace

mxml_node_t *loadMessageElement(XmlDocument &doc, const char *text, const MessageLoadLog &log)
{
    if (doc.node() == nullptr) {
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_FAIL, log.func, "%s", log.createFailed);
        return nullptr;
    }
    if (!doc.load(text)) {
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_FAIL, log.func, "%s", log.loadFailed);
        return nullptr;
    }
    mxml_node_t *message =
        mxmlFindElement(doc.node(), doc.node(), kMessageElement, nullptr, nullptr, MXML_DESCEND);
    if (message == nullptr) {
        if (log.notFound != nullptr) {
            VEK_LOG(kLevelError, VEK_ONVIF_ERR_FAIL, log.func, "%s", log.notFound);
        }
        return nullptr;
    }
    const char *name = mxmlGetElement(message);
    if (log.misnamed != nullptr && (name == nullptr || std::strcmp(name, kMessageElement) != 0)) {
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_FAIL, log.func, "%s", log.misnamed);
        return nullptr;
    }
    return message;
}

} // namespace vek
