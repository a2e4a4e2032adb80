// The topic set a camera that sends the given notification messages would advertise: each
// message's topic, with a message description of the Source, Key and Data items it carries.
#include <algorithm>
#include <memory>

#include "camsim.h"
#include "xml_text.h"

namespace camsim
{

namespace
{

using namespace detail;

bool isInteger(const std::string &value)
{
    size_t digits = value.size() > 1 && value[0] == '-' ? 1 : 0;
    return value.size() > digits &&
           std::all_of(value.begin() + static_cast<std::ptrdiff_t>(digits), value.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A value type the item's value suggests: a state word (or 0/1 in a state-like item) is
// boolean, a number an integer, a Source or Key item named ...Token a reference token.
std::string typeOf(const std::string &part, const std::string &name, const std::string &value)
{
    if (part == "Data") {
        const std::string word = lower(value);
        const std::string item = lower(name);
        if (word == "true" || word == "false" ||
            ((value == "0" || value == "1") &&
             (item == "state" || item == "active" || name.rfind("Is", 0) == 0))) {
            return "xs:boolean";
        }
        return isInteger(value) ? "xs:int" : "xs:string";
    }
    if (name.find("Token") != std::string::npos) {
        return "tt:ReferenceToken";
    }
    return isInteger(value) ? "xs:int" : "xs:string";
}

std::string describe(mxml_node_t *message)
{
    std::string text =
        "<tt:MessageDescription IsProperty=\"" +
        std::string(attrByLocal(message, "PropertyOperation").empty() ? "false" : "true") + "\">";
    for (const char *part : {"Source", "Key", "Data"}) {
        mxml_node_t *items = childByLocal(message, part);
        if (items == nullptr) {
            continue;
        }
        text += std::string("<tt:") + part + ">";
        for (mxml_node_t *item = firstChildElement(items); item != nullptr;
             item = nextElement(item)) {
            if (nodeLocalName(item) != "SimpleItem") {
                continue;
            }
            const std::string name = attrByLocal(item, "Name");
            text += "<tt:SimpleItemDescription Name=\"" + escapeXml(name) + "\" Type=\"" +
                    typeOf(part, name, attrByLocal(item, "Value")) + "\"/>";
        }
        text += std::string("</tt:") + part + ">";
    }
    return text + "</tt:MessageDescription>";
}

// One level of the topic tree, children in the order first seen.
struct TopicNode {
    std::string name;
    std::string description; // the leaf's message description; empty: no topic here
    std::vector<std::unique_ptr<TopicNode>> children;

    TopicNode &child(const std::string &childName)
    {
        for (auto &c : children) {
            if (c->name == childName) {
                return *c;
            }
        }
        children.push_back(std::make_unique<TopicNode>());
        children.back()->name = childName;
        return *children.back();
    }

    std::string text() const
    {
        std::string out =
            "<" + name + (description.empty() ? "" : " wstop:topic=\"true\"") + ">" + description;
        for (const auto &c : children) {
            out += c->text();
        }
        return out + "</" + name + ">";
    }
};

} // namespace

std::string topicSetOfMessages(const std::vector<std::string> &notificationMessages)
{
    TopicNode top;
    for (const std::string &raw : notificationMessages) {
        XmlTree tree(raw);
        mxml_node_t *topicNode = tree.ok() ? findDescendantByLocal(tree.root(), "Topic") : nullptr;
        mxml_node_t *message = nullptr;
        if (mxml_node_t *outer =
                tree.ok() ? findDescendantByLocal(tree.root(), "Message") : nullptr) {
            message = childByLocal(outer, "Message");
        }
        const std::string topic = topicNode != nullptr ? trim(textOf(topicNode)) : "";
        if (topic.empty() || message == nullptr) {
            continue;
        }
        TopicNode *node = &top;
        for (size_t at = 0; at <= topic.size();) {
            const size_t slash = std::min(topic.find('/', at), topic.size());
            node = &node->child(topic.substr(at, slash - at));
            at = slash + 1;
        }
        if (node->description.empty()) { // the first message of a topic describes it
            node->description = describe(message);
        }
    }
    std::string text;
    for (const auto &root : top.children) {
        text += root->text();
    }
    return text;
}

} // namespace camsim
