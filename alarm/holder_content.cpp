#include "holder_content.h"

#include <mxml.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "vek_log.h"
#include "xml_document.h"

namespace
{

constexpr const char *kTransFunc = "VEK_Onvif_TransAlarmType";

bool isBlank(const char *text)
{
    for (; *text != '\0'; ++text) {
        if (std::strchr(" \t\r\n", *text) == nullptr) {
            return false;
        }
    }
    return true;
}

// The element's name without its namespace prefix.
std::string_view localName(mxml_node_t *node)
{
    const char *name = mxmlGetType(node) == MXML_ELEMENT ? mxmlGetElement(node) : nullptr;
    if (name == nullptr) {
        return {};
    }
    const std::string_view full(name);
    const std::size_t colon = full.find(':');
    return colon == std::string_view::npos ? full : full.substr(colon + 1);
}

mxml_node_t *firstElement(mxml_node_t *node)
{
    mxml_node_t *child = mxmlGetFirstChild(node);
    while (child != nullptr && mxmlGetType(child) != MXML_ELEMENT) {
        child = mxmlGetNextSibling(child);
    }
    return child;
}

// The words of an element's text, one blank between them.
std::string textOf(mxml_node_t *element)
{
    std::string text;
    for (mxml_node_t *child = mxmlGetFirstChild(element); child != nullptr;
         child = mxmlGetNextSibling(child)) {
        const char *word = mxmlGetType(child) == MXML_TEXT ? mxmlGetText(child, nullptr) : nullptr;
        if (word != nullptr && *word != '\0') {
            text += text.empty() ? "" : " ";
            text += word;
        }
    }
    return text;
}

// The first element inside element as XML text; empty when there is none.
std::string innerElementText(mxml_node_t *element)
{
    mxml_node_t *inner = firstElement(element);
    if (inner == nullptr) {
        return {};
    }
    char *saved = mxmlSaveAllocString(inner, MXML_NO_CALLBACK);
    if (saved == nullptr) {
        return {};
    }
    std::string text(saved);
    std::free(saved);
    return text;
}

} // namespace

namespace vek::alarm
{

HolderContent::HolderContent(const ns7__NotificationMessageHolderType &holder)
    : holder_(holder), topic_()
{
    const char *mixed = holder.__mixed;
    if (mixed == nullptr || isBlank(mixed) || holder.Message.__any != nullptr) {
        return;
    }
    const std::string wrapped = std::string("<Holder>") + mixed + "</Holder>";
    XmlDocument doc(kTransFunc);
    mxml_node_t *content =
        doc.node() != nullptr && doc.load(wrapped.c_str()) ? firstElement(doc.node()) : nullptr;
    for (mxml_node_t *node = content != nullptr ? mxmlGetFirstChild(content) : nullptr;
         node != nullptr; node = mxmlGetNextSibling(node)) {
        const std::string_view name = localName(node);
        if (name == "Topic" && (holder_.Topic == nullptr || holder_.Topic->__any == nullptr)) {
            topicText_ = textOf(node);
            topic_.__any = topicText_.data();
            holder_.Topic = &topic_;
        } else if (name == "Message" && holder_.Message.__any == nullptr) {
            messageText_ = innerElementText(node);
            if (!messageText_.empty()) {
                holder_.Message.__any = messageText_.data();
            }
        }
    }
    if (holder_.Message.__any == nullptr) {
        const char *topic =
            holder_.Topic != nullptr && holder_.Topic->__any != nullptr ? holder_.Topic->__any : "";
        VEK_LOG(kLevelInfo, VEK_ONVIF_ERR_SOAP, kTransFunc,
                "Stray text in the notification of topic[%s]: its message is dropped.", topic);
    }
}

} // namespace vek::alarm
