// Parsing of one notification message: the text of a Message element
// (namespace prefixes already stripped from element names) becomes the item
// arrays of its Source, Key, Data and Extension parts.
#include <mxml.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "alarm_internal.h"
#include "alarm_message.h"
#include "message_element.h"
#include "vek_log.h"

namespace
{
using namespace vek::alarm;

constexpr const char *kParseFunc = "VEK_Onvif_Event_ParseAlarmMsg";
constexpr const char *kChildFunc = "VEK_Onvif_Event_GetChildXMLNodeData";

// No line when the text has no Message element.
constexpr vek::MessageLoadLog kLoadLog = {kParseFunc, "creat xml fail.", "load alarm string fail.",
                                          nullptr, "alarm node is corrupted!"};

constexpr const char *kSimpleItemElement = "SimpleItem";
constexpr std::string_view kPropertyOperation = "PropertyOperation";
constexpr std::string_view kInitialized = "Initialized";
constexpr std::string_view kDeleted = "Deleted";
constexpr std::string_view kNameAttribute = "Name";
constexpr std::string_view kValueAttribute = "Value";

// The parts of a message in the order of the outputs.
enum PartIndex { kSource, kKey, kData, kExtension, kPartCount };
constexpr std::array<std::string_view, kPartCount> kPartElements = {"Source", "Key", "Data",
                                                                    "Extension"};

struct Part {
    uint32_t count = 0;
    OnvifSimpleItem *items = nullptr;
};

// The arrays made so far; whatever is still held when it goes out of scope
// is released, so a failure anywhere leaves nothing allocated.
class Parts
{
  public:
    Parts() = default;
    Parts(const Parts &) = delete;
    Parts &operator=(const Parts &) = delete;
    ~Parts()
    {
        for (Part &part : parts_) {
            release(part);
        }
    }

    Part &operator[](std::size_t index) { return parts_[index]; }

    static void release(Part &part)
    {
        VEK_FREE(&part.items);
        part.count = 0;
    }

    void handOver(uint32_t *counts[kPartCount], OnvifSimpleItem **arrays[kPartCount])
    {
        for (std::size_t i = 0; i < kPartCount; ++i) {
            *counts[i] = parts_[i].count;
            *arrays[i] = parts_[i].items;
            parts_[i] = Part{};
        }
    }

  private:
    std::array<Part, kPartCount> parts_;
};

// Index of the part an element stands for, or kPartCount.
std::size_t partOf(mxml_node_t *node)
{
    if (mxmlGetType(node) != MXML_ELEMENT) {
        return kPartCount;
    }
    const char *name = mxmlGetElement(node);
    if (name == nullptr) {
        return kPartCount;
    }
    for (std::size_t i = 0; i < kPartCount; ++i) {
        if (kPartElements[i] == name) {
            return i;
        }
    }
    return kPartCount;
}

// Value of the first PropertyOperation attribute that reads word, else
// null.
const char *propertyOperation(mxml_node_t *message, std::string_view word)
{
    const int attributes = mxmlElementGetAttrCount(message);
    for (int i = 0; i < attributes; ++i) {
        const char *name = nullptr;
        const char *value = mxmlElementGetAttrByIndex(message, i, &name);
        if (name != nullptr && value != nullptr && kPropertyOperation == name && word == value) {
            return value;
        }
    }
    return nullptr;
}

void fillItem(mxml_node_t *simpleItem, OnvifSimpleItem &item)
{
    const int attributes = mxmlElementGetAttrCount(simpleItem);
    for (int i = 0; i < attributes; ++i) {
        const char *name = nullptr;
        const char *value = mxmlElementGetAttrByIndex(simpleItem, i, &name);
        if (name == nullptr || value == nullptr) {
            continue;
        }
        if (kNameAttribute == name) {
            copyText(item.Name, sizeof(item.Name), value);
        } else if (kValueAttribute == name) {
            copyText(item.Value, sizeof(item.Value), value);
        }
    }
}

// Fills at most room items from the SimpleItem elements below node, in
// document order.
uint32_t fillItems(mxml_node_t *node, OnvifSimpleItem *items, uint32_t room)
{
    mxml_node_t *simpleItem =
        mxmlFindElement(node, node, kSimpleItemElement, nullptr, nullptr, MXML_DESCEND);
    if (simpleItem == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kChildFunc, "can not find simpleitem.");
        return VEK_ONVIF_ERR_PARAM;
    }
    for (uint32_t i = 0; simpleItem != nullptr && i < room; ++i) {
        fillItem(simpleItem, items[i]);
        simpleItem =
            mxmlFindElement(simpleItem, node, kSimpleItemElement, nullptr, nullptr, MXML_DESCEND);
    }
    return VEK_ONVIF_OK;
}

// The element that decides each part: the last one of its name met by the
// walk, and where the walk met it.
struct Decisive {
    mxml_node_t *element = nullptr;
    std::size_t position = 0;
};

// One walk from the Message element to the end of the document. Counting
// and filling only these elements keeps the work linear in the size of the
// text, however deeply part elements are nested in one another.
std::array<Decisive, kPartCount> decisiveElements(mxml_node_t *message, mxml_node_t *top)
{
    std::array<Decisive, kPartCount> found{};
    std::size_t position = 0;
    for (mxml_node_t *node = mxmlWalkNext(message, top, MXML_DESCEND); node != nullptr;
         node = mxmlWalkNext(node, top, MXML_DESCEND)) {
        const std::size_t part = partOf(node);
        if (part != kPartCount) {
            found[part] = Decisive{node, ++position};
        }
    }
    return found;
}

// Fills one part from its element. Returns VEK_ONVIF_ERR_SOAP for an element
// without items, else the status the parse ends with.
uint32_t fillPart(mxml_node_t *element, Part &part)
{
    const uint32_t count = VEK_CFG_GetChildrenNodeCount(element, kSimpleItemElement);
    if (count == 0) {
        return VEK_ONVIF_ERR_SOAP;
    }
    auto *items = static_cast<OnvifSimpleItem *>(VEK_ALLOC(sizeof(OnvifSimpleItem) * count));
    if (items == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kParseFunc, "Failed to alloc memory.");
        return VEK_ONVIF_ERR_NOMEM;
    }
    std::memset(items, 0, sizeof(OnvifSimpleItem) * count);
    part.items = items;
    part.count = count;
    return fillItems(element, items, count);
}

// The Message element of msg, loaded into doc, or null with the status the
// parse ends with in *status (logged where it always was).
mxml_node_t *loadMessage(vek::XmlDocument &doc, const char *msg, const ParseOptions &options,
                         uint32_t *status)
{
    *status = VEK_ONVIF_ERR_SOAP;
    mxml_node_t *message = vek::loadMessageElement(doc, msg, kLoadLog);
    if (message == nullptr) {
        return nullptr;
    }
    if (options.initialStates) {
        return message;
    }
    if (const char *operation = propertyOperation(message, kInitialized)) {
        VEK_LOG(vek::kLevelInfo, VEK_ONVIF_ERR_PARAM, kParseFunc, "alarm PropertyOperation is:%s",
                operation);
        *status = VEK_ONVIF_ERR_PARAM;
        return nullptr;
    }
    return message;
}

// Fills the parts in the order their elements appear in the text. Returns
// VEK_ONVIF_OK, VEK_ONVIF_ERR_SOAP when no part had items, or the first failure.
uint32_t fillParts(mxml_node_t *message, mxml_node_t *top, Parts &parts)
{
    std::array<Decisive, kPartCount> decisive = decisiveElements(message, top);
    std::sort(decisive.begin(), decisive.end(),
              [](const Decisive &a, const Decisive &b) { return a.position < b.position; });
    uint32_t status = VEK_ONVIF_ERR_SOAP;
    for (const Decisive &found : decisive) {
        if (found.element == nullptr) {
            continue;
        }
        const uint32_t filled = fillPart(found.element, parts[partOf(found.element)]);
        if (filled == VEK_ONVIF_ERR_SOAP) {
            // A part without items keeps count 0 and no array.
            continue;
        }
        status = filled;
        if (status != VEK_ONVIF_OK) {
            break;
        }
    }
    return status;
}

// The parse behind both entry points; deleted, when given, receives
// whether the message reports a property instance that no longer exists.
uint32_t parseMessage(const char *msg, const ParseOptions &options, uint32_t *counts[kPartCount],
                      OnvifSimpleItem **arrays[kPartCount], bool *deleted, bool *initialized)
{
    vek::XmlDocument doc(kParseFunc);
    uint32_t status = VEK_ONVIF_ERR_SOAP;
    mxml_node_t *message = loadMessage(doc, msg, options, &status);
    if (message == nullptr) {
        return status;
    }
    Parts parts;
    status = fillParts(message, doc.node(), parts);
    // Still 100 when no part had items.
    if (status != VEK_ONVIF_OK) {
        return status;
    }

    parts.handOver(counts, arrays);
    if (deleted != nullptr) {
        *deleted = propertyOperation(message, kDeleted) != nullptr;
    }
    if (initialized != nullptr) {
        *initialized = propertyOperation(message, kInitialized) != nullptr;
    }
    return VEK_ONVIF_OK;
}

} // namespace

extern "C" {

VEK_ONVIF_API uint32_t VEK_Onvif_Event_GetChildXMLNodeData(mxml_node_t *node,
                                                           OnvifSimpleItem *items)
{
    if (node == nullptr || items == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kChildFunc, "Input para is NULL");
        return VEK_ONVIF_ERR_PARAM;
    }
    // The caller sized the array with the same count; never write past it.
    return fillItems(node, items, VEK_CFG_GetChildrenNodeCount(node, kSimpleItemElement));
}

VEK_ONVIF_API uint32_t VEK_Onvif_Event_ParseAlarmMsg(const char *msg, uint32_t *srcCount,
                                                     uint32_t *keyCount, uint32_t *dataCount,
                                                     uint32_t *extCount, OnvifSimpleItem **src,
                                                     OnvifSimpleItem **key, OnvifSimpleItem **data,
                                                     OnvifSimpleItem **ext)
{
    if (msg == nullptr || srcCount == nullptr || keyCount == nullptr || dataCount == nullptr ||
        extCount == nullptr || src == nullptr || key == nullptr || data == nullptr ||
        ext == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kParseFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    uint32_t *counts[kPartCount] = {srcCount, keyCount, dataCount, extCount};
    OnvifSimpleItem **arrays[kPartCount] = {src, key, data, ext};
    return parseMessage(msg, ParseOptions{}, counts, arrays, nullptr, nullptr);
}

} // extern "C"

uint32_t vek::alarm::parseAlarmMessage(const char *msg, const ParseOptions &options,
                                       OnvifAlarmTemplate &alarm, bool &deleted, bool &initialized)
{
    deleted = false;
    initialized = false;
    if (msg == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kParseFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    uint32_t *counts[kPartCount] = {&alarm.SourceCount, &alarm.KeyCount, &alarm.DataCount,
                                    &alarm.ExtensionCount};
    OnvifSimpleItem **arrays[kPartCount] = {&alarm.SourceItems, &alarm.KeyItems, &alarm.DataItems,
                                            &alarm.ExtensionItems};
    return parseMessage(msg, options, counts, arrays, &deleted, &initialized);
}
