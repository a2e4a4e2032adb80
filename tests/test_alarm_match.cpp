// Simple item comparison and the matching of parsed alarms against the
// camera's templates.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"
#include "vek_onvif_event.h"

namespace
{

constexpr const char *kCompareFunc = "VEK_Onvif_Event_SimpleItemCompare";
constexpr const char *kMatchFunc = "VEK_Onvif_Event_MatchAlarmType";

using Items = std::vector<OnvifSimpleItem>;

using vektest::item;
using vektest::valueIndexed;

// A template item whose name is a pattern around an index.
OnvifSimpleItem nameIndexed(const std::string &name, const std::string &value, int32_t origin)
{
    OnvifSimpleItem it = item(name, value);
    it.NameHasIndex = 1;
    it.NameIndex = origin;
    return it;
}

// Item arrays that outlive the records pointing into them.
class ItemStore
{
  public:
    OnvifSimpleItem *keep(Items items)
    {
        if (items.empty()) {
            return nullptr;
        }
        store_.push_back(std::move(items));
        return store_.back().data();
    }

  private:
    std::deque<Items> store_;
};

OnvifAlarmTemplate record(ItemStore &store, uint32_t code, const std::string &topic, Items source,
                          Items key, Items data, Items ext = {})
{
    OnvifAlarmTemplate t{};
    t.AlarmType = code;
    std::snprintf(t.Topic, sizeof(t.Topic), "%s", topic.c_str());
    t.SourceCount = static_cast<uint32_t>(source.size());
    t.KeyCount = static_cast<uint32_t>(key.size());
    t.DataCount = static_cast<uint32_t>(data.size());
    t.ExtensionCount = static_cast<uint32_t>(ext.size());
    t.SourceItems = store.keep(std::move(source));
    t.KeyItems = store.keep(std::move(key));
    t.DataItems = store.keep(std::move(data));
    t.ExtensionItems = store.keep(std::move(ext));
    return t;
}

OnvifAlarmInputList noInputs()
{
    return OnvifAlarmInputList{0, nullptr};
}

// A camera configuration with its templates; heap-allocated so that a read
// past its end is caught by the address sanitizer.
struct Camera {
    ItemStore items;
    std::vector<OnvifAlarmTemplate> discovered;
    std::vector<OnvifAlarmTemplate> placed;
    std::unique_ptr<OnvifAlarmCfg> cfg = std::make_unique<OnvifAlarmCfg>();
    OnvifAlarmInputList inputs = noInputs();

    OnvifAlarmCfg *config()
    {
        cfg->PropeAlarmCount = static_cast<uint32_t>(discovered.size());
        cfg->pstPropeAlarmInfo = discovered.empty() ? nullptr : discovered.data();
        cfg->PresetAlarmCount = static_cast<uint32_t>(placed.size());
        cfg->PresetAlarms = placed.empty() ? nullptr : placed.data();
        return cfg.get();
    }
};

// ---- Simple item comparison --------------------------------------------

struct CompareCase {
    const char *what;
    uint32_t mode;
    OnvifSimpleItem templ;
    const char *name;
    const char *value;
    uint32_t codeIn;
    uint32_t result;
    uint32_t nameHasIndex;
    int32_t nameIndex;
    uint32_t valueHasIndex;
    int32_t valueIndex;
    uint32_t codeOut;
};

constexpr uint32_t kSource = 1;
constexpr uint32_t kKeyOrData = 0;

TEST(AlarmCompare, OneTemplateItem)
{
    const OnvifSimpleItem plain = item("State", "common_string");
    const OnvifSimpleItem intIndex = valueIndexed("Port", "common_int", 0);
    const OnvifSimpleItem numIndex = valueIndexed("Port", "", 0);
    const OnvifSimpleItem boolean = item("State", "common_boolean");
    const CompareCase cases[] = {
        // Index in the name.
        {"after pattern", kKeyOrData, nameIndexed("VideoSource_", "common_string", 0),
         "VideoSource_3", "x", 1, VEK_ONVIF_OK, 1, 3, 0, 0, 1},
        {"before pattern", kKeyOrData, nameIndexed("_In", "common_string", 0), "2_In", "x", 1,
         VEK_ONVIF_OK, 1, 2, 0, 0, 1},
        {"empty pattern", kKeyOrData, nameIndexed("", "common_string", 0), "12", "x", 1,
         VEK_ONVIF_OK, 1, 12, 0, 0, 1},
        {"pattern absent", kKeyOrData, nameIndexed("_In", "common_string", 0), "Input", "x", 1,
         VEK_ONVIF_ERR_SOAP, 0, 0, 0, 0, 1},
        {"pattern cut to 30", kKeyOrData,
         nameIndexed("ABCDEFGHIJKLMNOPQRSTUVWXYZ01234", "common_string", 0),
         "ABCDEFGHIJKLMNOPQRSTUVWXYZ01239", "x", 1, VEK_ONVIF_OK, 1, 9, 0, 0, 1},
        {"other name", kKeyOrData, plain, "Stat", "x", 1, VEK_ONVIF_ERR_SOAP, 0, 0, 0, 0, 1},
        // "common_int": one digit, the last preferred.
        {"int last digit", kKeyOrData, intIndex, "Port", "Port7", 1, VEK_ONVIF_OK, 0, 0, 1, 7, 1},
        {"int first digit", kKeyOrData, intIndex, "Port", "3x", 1, VEK_ONVIF_OK, 0, 0, 1, 3, 1},
        {"int two digits", kKeyOrData, intIndex, "Port", "12", 1, VEK_ONVIF_OK, 0, 0, 1, 2, 1},
        {"int no digit", kKeyOrData, intIndex, "Port", "abc", 1, VEK_ONVIF_OK, 0, 0, 0, 0, 1},
        {"int empty", kKeyOrData, intIndex, "Port", "", 1, VEK_ONVIF_OK, 0, 0, 0, 0, 1},
        // Untyped indexed value: the whole number.
        {"number", kKeyOrData, numIndex, "Port", "42", 1, VEK_ONVIF_OK, 0, 0, 1, 42, 1},
        {"negative number", kKeyOrData, numIndex, "Port", "-3", 1, VEK_ONVIF_OK, 0, 0, 1, -3, 1},
        {"huge number", kKeyOrData, numIndex, "Port", "99999999999999999999", 1, VEK_ONVIF_OK, 0, 0,
         1, INT32_MAX, 1},
        {"value pattern after", kKeyOrData, valueIndexed("Port", "In_", 0), "Port", "In_5", 1,
         VEK_ONVIF_OK, 0, 0, 1, 5, 1},
        {"value pattern before", kKeyOrData, valueIndexed("Port", "_In", 0), "Port", "6_In", 1,
         VEK_ONVIF_OK, 0, 0, 1, 6, 1},
        {"value pattern absent", kKeyOrData, valueIndexed("Port", "In_", 0), "Port", "Out_5", 1,
         VEK_ONVIF_ERR_SOAP, 0, 0, 0, 0, 1},
        // "common_string" Source values number channels from 1.
        {"string index", kSource, plain, "State", "005_abc", 1, VEK_ONVIF_OK, 0, 0, 1, 4, 1},
        {"string letters", kSource, plain, "State", "abc", 1, VEK_ONVIF_OK, 0, 0, 1, 0, 1},
        {"string three chars", kSource, plain, "State", "1234", 1, VEK_ONVIF_OK, 0, 0, 1, 122, 1},
        {"string negative", kSource, plain, "State", "-05", 1, VEK_ONVIF_OK, 0, 0, 1, 0, 1},
        {"string source no state", kSource, plain, "State", "false", 1, VEK_ONVIF_OK, 0, 0, 1, 0,
         1},
        // State words outside Source.
        {"true", kKeyOrData, plain, "State", "true", 1001, VEK_ONVIF_OK, 0, 0, 0, 0, 1},
        {"true inside a word", kKeyOrData, plain, "State", "untrue", 1001, VEK_ONVIF_OK, 0, 0, 0, 0,
         1},
        {"TRUE", kKeyOrData, plain, "State", "TRUE", 1001, VEK_ONVIF_OK, 0, 0, 0, 0, 1},
        {"active", kKeyOrData, plain, "State", "active", 1001, VEK_ONVIF_OK, 0, 0, 0, 0, 1},
        {"1", kKeyOrData, plain, "State", "1", 1001, VEK_ONVIF_OK, 0, 0, 0, 0, 1},
        {"true stays active", kKeyOrData, plain, "State", "true", 1, VEK_ONVIF_OK, 0, 0, 0, 0, 1},
        {"Active is no state", kKeyOrData, plain, "State", "Active", 1001, VEK_ONVIF_OK, 0, 0, 0, 0,
         1001},
        {"false", kKeyOrData, plain, "State", "false", 1, VEK_ONVIF_OK, 0, 0, 0, 0, 1001},
        {"FALSE", kKeyOrData, plain, "State", "FALSE", 1, VEK_ONVIF_OK, 0, 0, 0, 0, 1001},
        {"inactive", kKeyOrData, plain, "State", "inactive", 1, VEK_ONVIF_OK, 0, 0, 0, 0, 1001},
        {"0", kKeyOrData, plain, "State", "0", 1, VEK_ONVIF_OK, 0, 0, 0, 0, 1001},
        {"inactive only once", kKeyOrData, plain, "State", "inactive", 1001, VEK_ONVIF_OK, 0, 0, 0,
         0, 1001},
        {"boolean false", kKeyOrData, boolean, "State", "false", 1, VEK_ONVIF_OK, 0, 0, 0, 0, 1001},
        {"boolean true", kKeyOrData, boolean, "State", "true", 1001, VEK_ONVIF_OK, 0, 0, 0, 0, 1},
        {"boolean other", kKeyOrData, boolean, "State", "yes", 1, VEK_ONVIF_ERR_SOAP, 0, 0, 0, 0,
         1},
        {"boolean text", kKeyOrData, boolean, "State", "xcommon_booleanx", 1, VEK_ONVIF_OK, 0, 0, 0,
         0, 1},
        // Anything else: the value must contain the template's text.
        {"contains", kKeyOrData, item("State", "Motion"), "State", "IsMotionNow", 1, VEK_ONVIF_OK,
         0, 0, 0, 0, 1},
        {"does not contain", kKeyOrData, item("State", "Motion"), "State", "abc", 1,
         VEK_ONVIF_ERR_SOAP, 0, 0, 0, 0, 1},
        {"untyped accepts all", kKeyOrData, item("State", ""), "State", "abc", 1, VEK_ONVIF_OK, 0,
         0, 0, 0, 1},
    };
    const OnvifAlarmInputList inputs = noInputs();
    for (const CompareCase &c : cases) {
        SCOPED_TRACE(c.what);
        OnvifSimpleItem incoming = item(c.name, c.value);
        uint32_t code = c.codeIn;
        EXPECT_EQ(c.result, VEK_Onvif_Event_SimpleItemCompare(c.mode, 1, &c.templ, &inputs,
                                                              &incoming, &code));
        EXPECT_EQ(c.nameHasIndex, incoming.NameHasIndex);
        EXPECT_EQ(c.nameIndex, incoming.NameIndex);
        EXPECT_EQ(c.valueHasIndex, incoming.ValueHasIndex);
        EXPECT_EQ(c.valueIndex, incoming.ValueIndex);
        EXPECT_EQ(c.codeOut, code);
    }
}

TEST(AlarmCompare, IndexFieldsComeFromTheMatchingTemplateItemOnly)
{
    // The first item's pattern fits the name but its value does not; the
    // second matches by plain name and reads no index.
    const Items templ = {nameIndexed("Cam_", "Never", 0), item("Cam_2", "common_string")};
    const OnvifAlarmInputList inputs = noInputs();
    OnvifSimpleItem incoming = item("Cam_2", "x");
    uint32_t code = 1;
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Event_SimpleItemCompare(kKeyOrData, 2, templ.data(), &inputs,
                                                              &incoming, &code));
    EXPECT_EQ(0u, incoming.NameHasIndex);
    EXPECT_EQ(0, incoming.NameIndex);
}

TEST(AlarmCompare, DigitalInputTokens)
{
    std::vector<OnvifAlarmInput> three(3);
    for (size_t k = 0; k < three.size(); ++k) {
        std::snprintf(three[k].Token, sizeof(three[k].Token), "In%zu", k + 1);
    }
    struct Case {
        const char *what;
        uint32_t code;
        OnvifAlarmInputList inputs;
        Items templ;
        const char *value;
        uint32_t valueHasIndex;
        int32_t valueIndex;
    };
    const Items single = {valueIndexed("InputToken", "common_int", 0)};
    const Items pair = {valueIndexed("InputToken", "common_int", 1),
                        valueIndexed("Other", "common_int", 0)};
    const Case cases[] = {
        {"one input takes the origin", 4, {1, nullptr}, single, "AlarmIn_9", 1, 0},
        {"one input, origin of item 0", 4, {1, nullptr}, pair, "x", 1, 1},
        {"third of three", 4, {3, three.data()}, single, "In3", 1, 2},
        {"inactive form too", 1004, {3, three.data()}, single, "In2", 1, 1},
        {"offset by the first item's origin", 4, {3, three.data()}, pair, "In3", 1, 3},
        {"unknown, last item reads the value", 4, {3, three.data()}, single, "X7", 1, 7},
        {"unknown, earlier item accepts it", 4, {3, three.data()}, pair, "X7", 0, 0},
        {"no inputs", 4, {0, nullptr}, single, "Port5", 1, 5},
        {"input array missing", 4, {3, nullptr}, single, "In3", 1, 3},
        {"not a digital input", 1, {3, three.data()}, single, "In3", 1, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        OnvifSimpleItem incoming = item("InputToken", c.value);
        uint32_t code = c.code;
        EXPECT_EQ(VEK_ONVIF_OK,
                  VEK_Onvif_Event_SimpleItemCompare(kSource, static_cast<uint32_t>(c.templ.size()),
                                                    c.templ.data(), &c.inputs, &incoming, &code));
        EXPECT_EQ(c.valueHasIndex, incoming.ValueHasIndex);
        EXPECT_EQ(c.valueIndex, incoming.ValueIndex);
    }
}

TEST(AlarmCompare, RefusesNullArgumentsAndEmptyTemplates)
{
    vektest::LogCapture log;
    const OnvifAlarmInputList inputs = noInputs();
    const OnvifSimpleItem templ = item("A", "");
    OnvifSimpleItem incoming = item("A", "b");
    uint32_t code = 1;
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_Event_SimpleItemCompare(0, 1, &templ, nullptr, &incoming, &code));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_Event_SimpleItemCompare(0, 1, nullptr, &inputs, &incoming, &code));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_Event_SimpleItemCompare(0, 1, &templ, &inputs, nullptr, &code));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_Event_SimpleItemCompare(0, 1, &templ, &inputs, &incoming, nullptr));
    EXPECT_TRUE(log.has(4, VEK_ONVIF_ERR_FAIL, kCompareFunc, "Invalid input Param."));
    EXPECT_EQ(VEK_ONVIF_ERR_SOAP,
              VEK_Onvif_Event_SimpleItemCompare(0, 0, &templ, &inputs, &incoming, &code));
}

// ---- Part comparisons ---------------------------------------------------

TEST(AlarmCompareParts, SourceChannelComesFromTheFirstIndexedItem)
{
    ItemStore store;
    OnvifAlarmTemplate templ =
        record(store, 1, "",
               {item("Rule", "common_string"), valueIndexed("X", "", 1), valueIndexed("Y", "", 0)},
               {}, {});
    // The first item is a token without digits: index 0 at origin 0 gives
    // channel 1, and later indexes are ignored.
    OnvifAlarmTemplate alarm =
        record(store, 0, "", {item("Rule", "MyRule"), item("X", "3"), item("Y", "9")}, {}, {});
    const OnvifAlarmInputList inputs = noInputs();
    uint32_t found = 0;
    uint32_t channel = 0;
    ASSERT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Event_CompareSourceItem(&templ, &inputs, &alarm, &found, &channel));
    EXPECT_EQ(1u, found);
    EXPECT_EQ(1u, channel);

    // Without the token the X item decides: 3 - 1 + 1.
    OnvifAlarmTemplate second =
        record(store, 1, "", {valueIndexed("X", "", 1), valueIndexed("Y", "", 0)}, {}, {});
    OnvifAlarmTemplate alarm2 = record(store, 0, "", {item("X", "3"), item("Y", "9")}, {}, {});
    found = 0;
    ASSERT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Event_CompareSourceItem(&second, &inputs, &alarm2, &found, &channel));
    EXPECT_EQ(3u, channel);

    // A channel already found stays.
    channel = 8;
    ASSERT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Event_CompareSourceItem(&second, &inputs, &alarm2, &found, &channel));
    EXPECT_EQ(8u, channel);
}

TEST(AlarmCompareParts, IndexBeforeTheTemplatesFirstChannelIsNoChannel)
{
    struct Case {
        OnvifSimpleItem templ;
        const char *name;
        const char *value;
        uint32_t channel;
    };
    const Case cases[] = {
        {valueIndexed("Port", "", 1), "Port", "3", 3},
        {valueIndexed("Port", "", 1), "Port", "0", 0},
        {valueIndexed("Port", "", 1), "Port", "2147483647", 2147483647u},
        {valueIndexed("Port", "", -1), "Port", "2147483647", 0},
        // 32-bit arithmetic would overflow here.
        {nameIndexed("", "common_string", 2), "-99999999999", "x", 0},
    };
    ItemStore store;
    const OnvifAlarmInputList inputs = noInputs();
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.name) + "=" + c.value);
        OnvifAlarmTemplate templ = record(store, 1, "", {c.templ}, {}, {});
        OnvifAlarmTemplate alarm = record(store, 0, "", {item(c.name, c.value)}, {}, {});
        uint32_t found = 0;
        uint32_t channel = 77;
        ASSERT_EQ(VEK_ONVIF_OK,
                  VEK_Onvif_Event_CompareSourceItem(&templ, &inputs, &alarm, &found, &channel));
        EXPECT_EQ(1u, found);
        EXPECT_EQ(c.channel, channel);
    }
    // A negative value names no source ("-1": any port): no index is read,
    // for an input neither.
    for (uint32_t code : {1u, static_cast<uint32_t>(VEK_ALARM_DIGITAL_INPUT)}) {
        SCOPED_TRACE(code);
        OnvifAlarmTemplate templ = record(store, code, "", {valueIndexed("Port", "", 1)}, {}, {});
        OnvifAlarmTemplate alarm = record(store, 0, "", {item("Port", "-5")}, {}, {});
        uint32_t found = 0;
        uint32_t channel = 77;
        ASSERT_EQ(VEK_ONVIF_OK,
                  VEK_Onvif_Event_CompareSourceItem(&templ, &inputs, &alarm, &found, &channel));
        EXPECT_EQ(0u, found);
        EXPECT_EQ(77u, channel);
    }
}

TEST(AlarmCompareParts, DigitalInputChannels)
{
    std::vector<OnvifAlarmInput> three(3);
    for (size_t k = 0; k < three.size(); ++k) {
        std::snprintf(three[k].Token, sizeof(three[k].Token), "In%zu", k + 1);
    }
    ItemStore store;
    OnvifAlarmTemplate templ =
        record(store, 4, "", {valueIndexed("InputToken", "common_int", 0)}, {}, {});
    OnvifAlarmTemplate alarm = record(store, 0, "", {item("InputToken", "In3")}, {}, {});
    struct Case {
        OnvifAlarmInputList inputs;
        uint32_t channel;
    };
    // Without an input table the token's own number counts from channel 1 up: In3 is
    // channel 4 (the README's channel rule; stored records rely on it).
    for (const Case &c :
         {Case{{1, three.data()}, 1}, Case{{3, three.data()}, 3}, Case{{0, nullptr}, 4}}) {
        uint32_t found = 0;
        uint32_t channel = 0;
        ASSERT_EQ(VEK_ONVIF_OK,
                  VEK_Onvif_Event_CompareSourceItem(&templ, &c.inputs, &alarm, &found, &channel));
        EXPECT_EQ(c.channel, channel);
    }
}

TEST(AlarmCompareParts, ResultsOfThePartComparisons)
{
    ItemStore store;
    const OnvifAlarmInputList inputs = noInputs();
    OnvifAlarmTemplate templ = record(store, 1, "", {item("A", "")}, {item("K", "")}, {});
    OnvifAlarmTemplate alarm = record(store, 0, "", {item("A", "x")}, {item("K", "y")}, {});
    OnvifAlarmTemplate noSource = record(store, 0, "", {}, {}, {});
    OnvifAlarmTemplate noTemplItems = record(store, 1, "", {}, {}, {});
    noTemplItems.SourceCount = 1;
    OnvifAlarmTemplate wider = record(store, 0, "", {item("A", "x"), item("A", "y")}, {}, {});
    uint32_t found = 0;
    uint32_t channel = 5;

    EXPECT_EQ(VEK_ONVIF_ERR_NULL,
              VEK_Onvif_Event_CompareSourceItem(nullptr, &inputs, &alarm, &found, &channel));
    EXPECT_EQ(VEK_ONVIF_ERR_NULL,
              VEK_Onvif_Event_CompareSourceItem(&templ, nullptr, &alarm, &found, &channel));
    EXPECT_EQ(VEK_ONVIF_ERR_NULL,
              VEK_Onvif_Event_CompareSourceItem(&templ, &inputs, nullptr, &found, &channel));
    EXPECT_EQ(VEK_ONVIF_ERR_NULL,
              VEK_Onvif_Event_CompareSourceItem(&templ, &inputs, &alarm, nullptr, &channel));
    EXPECT_EQ(VEK_ONVIF_ERR_NULL,
              VEK_Onvif_Event_CompareSourceItem(&templ, &inputs, &alarm, &found, nullptr));
    EXPECT_EQ(VEK_ONVIF_ERR_NULL,
              VEK_Onvif_Event_CompareSourceItem(&noTemplItems, &inputs, &alarm, &found, &channel));
    EXPECT_EQ(VEK_ONVIF_ERR_FAIL,
              VEK_Onvif_Event_CompareSourceItem(&templ, &inputs, &noSource, &found, &channel));
    // More items than the template describes: no match, nothing read past it.
    EXPECT_EQ(VEK_ONVIF_ERR_SOAP,
              VEK_Onvif_Event_CompareSourceItem(&templ, &inputs, &wider, &found, &channel));

    EXPECT_EQ(VEK_ONVIF_ERR_NULL,
              VEK_Onvif_Event_CompareKeyItem(nullptr, &inputs, &alarm, &found, &channel));
    EXPECT_EQ(VEK_ONVIF_ERR_NULL,
              VEK_Onvif_Event_CompareKeyItem(&templ, &inputs, &alarm, &found, nullptr));
    // No Key items: nothing to compare and nothing touched.
    found = 0;
    channel = 5;
    EXPECT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Event_CompareKeyItem(&noTemplItems, &inputs, &noSource, &found, &channel));
    EXPECT_EQ(0u, found);
    EXPECT_EQ(5u, channel);
    EXPECT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Event_CompareKeyItem(&templ, &inputs, &alarm, &found, &channel));
}

TEST(AlarmCompareParts, KeyStateShiftsTheTemplatesOwnCodeOnce)
{
    ItemStore store;
    const OnvifAlarmInputList inputs = noInputs();
    OnvifAlarmTemplate templ = record(store, 1, "", {}, {item("State", "common_string")}, {});
    OnvifAlarmTemplate off = record(store, 0, "", {}, {item("State", "inactive")}, {});
    OnvifAlarmTemplate on = record(store, 0, "", {}, {item("State", "active")}, {});
    uint32_t found = 0;
    uint32_t channel = 0;
    ASSERT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Event_CompareKeyItem(&templ, &inputs, &off, &found, &channel));
    EXPECT_EQ(1001u, templ.AlarmType);
    ASSERT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Event_CompareKeyItem(&templ, &inputs, &off, &found, &channel));
    EXPECT_EQ(1001u, templ.AlarmType);
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Event_CompareKeyItem(&templ, &inputs, &on, &found, &channel));
    EXPECT_EQ(1u, templ.AlarmType);
}

// ---- Template matching -------------------------------------------------

// The three Source items of a line-crossing template as discovery builds
// them; the second name is as long as an item name can be.
Items lineSourceTemplate()
{
    return {item("VideoSourceConfigurationToken", "common_string"),
            item("VideoAnalyticsConfigurationToke", "common_string"),
            item("Rule", "common_string")};
}

Items lineSource(const std::string &first)
{
    return {item("VideoSourceConfigurationToken", first),
            item("VideoAnalyticsConfigurationToke", "VideoAnalyticsConfig"),
            item("Rule", "MyFence")};
}

class AlarmMatch : public ::testing::Test
{
  protected:
    uint32_t match(Camera &cam, OnvifAlarmTemplate &alarm)
    {
        std::memset(&report_, 0, sizeof(report_));
        return VEK_Onvif_Event_MatchAlarmType(cam.config(), &cam.inputs, &alarm, &report_);
    }

    vektest::LogCapture log_;
    OnvifAlarmReport report_{};
};

TEST_F(AlarmMatch, LineCrossingWorkedExample)
{
    Camera cam;
    cam.discovered.push_back(record(cam.items, 6, "", lineSourceTemplate(), {},
                                    {valueIndexed("ObjectId", "common_int", 0)}));
    OnvifAlarmTemplate alarm =
        record(cam.items, 0, "tns1:RuleEngine/LineDetector/Crossed",
               lineSource("VideoSourceConfig"), {}, {item("ObjectId", "15")});
    ASSERT_EQ(VEK_ONVIF_OK, match(cam, alarm));
    EXPECT_EQ(6u, report_.AlarmType);
    EXPECT_EQ(1u, report_.Channel);
    EXPECT_EQ(15, report_.ObjectValue);
    EXPECT_EQ(0xFFFFFFFFu, report_.Reserved);
    EXPECT_EQ(0u, report_.AttributeFlags);
    EXPECT_EQ(0, report_.ExtensionValue);
    const unsigned char zeros[sizeof(report_.aucCallerData)] = {};
    EXPECT_EQ(0, std::memcmp(zeros, report_.aucCallerData, sizeof(zeros)));
    // The template's own code is left as it was.
    EXPECT_EQ(6u, cam.discovered[0].AlarmType);
    EXPECT_TRUE(log_.lines().empty());
}

TEST_F(AlarmMatch, ChannelFromSourceTokenAndChannelTable)
{
    struct Case {
        const char *what;
        const char *firstValue;
        int primaryEntry;
        const char *primary;
        int secondaryEntry;
        const char *secondary;
        uint32_t channel;
    };
    const Case cases[] = {
        {"digits in the token", "002", -1, "", -1, "", 2},
        {"nothing in the table", "VideoSourceConfig", -1, "", -1, "", 1},
        {"primary token", "VideoSourceConfig", 4, "VideoSourceConfig", -1, "", 5},
        {"secondary token", "VideoSourceConfig", -1, "", 2, "VideoSourceConfig", 3},
        {"prefix of a longer token", "Video", 1, "VideoSourceConfig_1", -1, "", 2},
        {"first entry wins", "002", 6, "002", 3, "002x", 4},
        {"longer than the table token", "VideoSourceConfig", 5, "Video", -1, "", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Camera cam;
        cam.discovered.push_back(record(cam.items, 6, "", lineSourceTemplate(), {}, {}));
        if (c.primaryEntry >= 0) {
            std::snprintf(cam.cfg->ChannelTokens[c.primaryEntry].PrimaryToken, 64, "%s", c.primary);
        }
        if (c.secondaryEntry >= 0) {
            std::snprintf(cam.cfg->ChannelTokens[c.secondaryEntry].SecondaryToken, 128, "%s",
                          c.secondary);
        }
        OnvifAlarmTemplate alarm = record(cam.items, 0, "", lineSource(c.firstValue), {}, {});
        ASSERT_EQ(VEK_ONVIF_OK, match(cam, alarm));
        EXPECT_EQ(c.channel, report_.Channel);
    }
}

TEST_F(AlarmMatch, EmptyFirstSourceValueMatchesNoChannelToken)
{
    Camera cam;
    std::snprintf(cam.cfg->ChannelTokens[0].PrimaryToken, 64, "%s", "vs0");
    cam.discovered.push_back(
        record(cam.items, 1, "", {item("Token", ""), valueIndexed("Port", "", 0)}, {}, {}));
    OnvifAlarmTemplate alarm =
        record(cam.items, 0, "", {item("Token", ""), item("Port", "4")}, {}, {});
    ASSERT_EQ(VEK_ONVIF_OK, match(cam, alarm));
    EXPECT_EQ(5u, report_.Channel);
}

TEST_F(AlarmMatch, ChannelBelowOneIsReportedAsOne)
{
    for (const char *value : {"0", "-3"}) {
        SCOPED_TRACE(value);
        Camera cam;
        cam.discovered.push_back(record(cam.items, 1, "", {valueIndexed("Port", "", 1)}, {}, {}));
        OnvifAlarmTemplate alarm = record(cam.items, 0, "", {item("Port", value)}, {}, {});
        ASSERT_EQ(VEK_ONVIF_OK, match(cam, alarm));
        EXPECT_EQ(1u, report_.Channel);
    }
}

TEST_F(AlarmMatch, TopicRules)
{
    struct Case {
        const char *topic;
        uint32_t templateCode;
        uint32_t code;
    };
    const Case cases[] = {
        {"tns1:RuleEngine/LineDetector/Crossed", 1, 6},
        {"tns1:RuleEngine/FieldDetector/ObjectsInside", 1, 8},
        {"tns1:RuleEngine/FaceRecognitionDetector/ObjectIsRecognized", 1, 7},
        {"tns1:RuleEngine/FaceRecognitionDetector/ObjectIsRecognized/ObjectAttribute", 1, 2000},
        {"tns1:RuleEngine/FaceRecognitionDetector/ObjectAttribute", 1, 2000},
        {"tns1:RuleEngine/FaceRecognitionDetector/Other", 1, 1},
        {"tns1:RuleEngine/LineDetector/Crossing", 1, 1},
        {"tns1:RuleEngine/CellMotionDetector/Motion", 1, 1},
        // A RuleEngine topic is never tried against the VideoSource words.
        {"tns1:RuleEngine/VideoSource/MotionAlarm", 3, 3},
        {"tns1:VideoSource/MotionAlarm", 3, 1},
        {"tns1:VideoSource/GlobalSceneChange/ImagingService", 1, 3},
        {"tns1:VideoSource/GlobalSceneChange/AnalyticsService", 1, 10},
        {"tns1:VideoSource/GlobalSceneChange/ImagingService/AnalyticsService", 1, 3},
        {"tns1:VideoSource/GlobalSceneChange/SmartTracking", 1, 1},
        {"tns1:VideoSource/ImageTooBlurry/AnalyticsService", 1, 9},
        {"tns1:VideoSource/ImageTooBlurry/ImagingService", 1, 9},
        {"tns1:VideoSource/SmartTracking", 1, 11},
        {"tns1:VideoSource/DoorbellAlarm", 1, 22},
        {"tns1:VideoSource/UserAlarm/IVA/RemainArticle", 1, 1},
        {"tns1:UserAlarm/IVA/RemainArticle", 1, 16},
        {"tns1:UserAlarm/IVA/CareArticle/RemainArticle", 1, 16},
        {"tns1:UserAlarm/IVA/CareArticle", 1, 15},
        {"tns1:UserAlarm/CareArticle", 1, 1},
        {"tns1:Device/Trigger/DigitalInput", 4, 4},
        {"", 21, 21},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.topic);
        Camera cam;
        cam.discovered.push_back(
            record(cam.items, c.templateCode, "", {item("Token", "")}, {}, {}));
        OnvifAlarmTemplate alarm = record(cam.items, 0, c.topic, {item("Token", "t")}, {}, {});
        ASSERT_EQ(VEK_ONVIF_OK, match(cam, alarm));
        EXPECT_EQ(c.code, report_.AlarmType);
        EXPECT_EQ(c.templateCode, cam.discovered[0].AlarmType);
    }
}

TEST_F(AlarmMatch, RefusedTopics)
{
    for (const char *topic : {"tns1:RuleEngine/AccessZone/Entered", "tns1:RuleEngine/LeaveZone",
                              "tns1:RuleEngine/CountAggregation/Counter"}) {
        SCOPED_TRACE(topic);
        log_.clear();
        Camera cam;
        cam.discovered.push_back(record(cam.items, 1, "", {item("Token", "")}, {}, {}));
        OnvifAlarmTemplate alarm = record(cam.items, 0, topic, {item("Token", "t")}, {}, {});
        EXPECT_EQ(VEK_ONVIF_ERR_FAIL, match(cam, alarm));
        EXPECT_EQ(0u, report_.AlarmType);
        EXPECT_EQ(0u, report_.Reserved);
        EXPECT_TRUE(log_.has(1, VEK_ONVIF_ERR_FAIL, kMatchFunc,
                             "Donot to Match AccessZone LeaveZone CountAggregation"));
    }
}

TEST_F(AlarmMatch, NothingToTryGives112)
{
    const std::string failed =
        "Failed to match alarm report on alram template, alarm topic is: tns1:VideoSource/X.";
    {
        Camera cam;
        OnvifAlarmTemplate alarm =
            record(cam.items, 0, "tns1:VideoSource/X", {item("A", "a")}, {}, {});
        EXPECT_EQ(VEK_ONVIF_ERR_FAIL, match(cam, alarm));
        EXPECT_TRUE(log_.has(1, VEK_ONVIF_ERR_FAIL, kMatchFunc, failed));
    }
    {
        // Every template describes fewer items than the message holds.
        Camera cam;
        cam.discovered.push_back(record(cam.items, 1, "", {item("A", "")}, {}, {}));
        cam.placed.push_back(record(cam.items, 1, "", {item("A", ""), item("B", "")}, {}, {}));
        OnvifAlarmTemplate alarm = record(cam.items, 0, "tns1:VideoSource/X",
                                          {item("A", "a"), item("B", "b")}, {item("K", "k")}, {});
        EXPECT_EQ(VEK_ONVIF_ERR_FAIL, match(cam, alarm));
        EXPECT_EQ(0u, report_.Reserved);
    }
}

TEST_F(AlarmMatch, ResultOfTheLastTemplateTried)
{
    Camera cam;
    // Fails on its Data item, then the only other template is skipped.
    cam.discovered.push_back(
        record(cam.items, 1, "", {item("A", "")}, {}, {item("IsMotion", "common_boolean")}));
    cam.placed.push_back(record(cam.items, 1, "", {item("A", "")}, {}, {}));
    OnvifAlarmTemplate alarm = record(cam.items, 0, "tns1:VideoSource/X", {item("A", "a")}, {},
                                      {item("IsMotion", "maybe")});
    EXPECT_EQ(VEK_ONVIF_ERR_SOAP, match(cam, alarm));
    EXPECT_TRUE(log_.has(
        1, 100, kMatchFunc,
        "Failed to match alarm report on alram template, alarm topic is: tns1:VideoSource/X."));

    // A template without Source items never matches.
    Camera broken;
    broken.discovered.push_back(record(broken.items, 1, "", {}, {}, {}));
    broken.discovered[0].SourceCount = 1;
    OnvifAlarmTemplate alarm2 = record(broken.items, 0, "", {item("A", "a")}, {}, {});
    EXPECT_EQ(VEK_ONVIF_ERR_NULL, match(broken, alarm2));
}

TEST_F(AlarmMatch, DiscoveredTemplatesComeFirst)
{
    Camera cam;
    cam.placed.push_back(record(cam.items, 22, "", {item("A", "")}, {}, {}));
    cam.discovered.push_back(record(cam.items, 5, "", {item("A", "")}, {}, {}));
    OnvifAlarmTemplate alarm = record(cam.items, 0, "", {item("A", "a")}, {}, {});
    ASSERT_EQ(VEK_ONVIF_OK, match(cam, alarm));
    EXPECT_EQ(5u, report_.AlarmType);

    // A discovered template that does not fit leaves the placed one.
    cam.discovered[0].SourceItems[0] = item("B", "");
    ASSERT_EQ(VEK_ONVIF_OK, match(cam, alarm));
    EXPECT_EQ(22u, report_.AlarmType);
}

TEST_F(AlarmMatch, ObjectValueAndAttributeFlags)
{
    struct Case {
        const char *what;
        uint32_t code;
        Items key;
        Items data;
        int32_t objectValue;
        uint32_t flags;
    };
    const Case cases[] = {
        {"line crossed", 6, {}, {item("ObjectId", "15"), item("Other", "3")}, 15, 0},
        {"last ObjectId wins", 6, {}, {item("ObjectId", "15"), item("ObjectIdent", "16")}, 16, 0},
        {"Key after Data",
         8,
         {item("ObjectId", "5")},
         {item("ObjectId", "9"), item("IsInside", "true")},
         5,
         0},
        {"recognised face: first Data value",
         7,
         {},
         {item("Name", "42x"), item("ObjectId", "5")},
         42,
         0},
        {"no mask, abnormal",
         2000,
         {},
         {item("ObjectId", "7"), item("HasMask", "NoMask"), item("TemperatureState", "AbNormal")},
         7,
         3},
        {"unknown mask",
         2000,
         {},
         {item("HasMask", "Unknown"), item("TemperatureState", "Normal")},
         0,
         1},
        {"abnormal only",
         2000,
         {},
         {item("HasMask", "Mask"), item("TemperatureX", "AbNormalHigh")},
         0,
         2},
        {"other code", 1, {}, {item("ObjectId", "15")}, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Camera cam;
        // Template items of the same names that accept any value.
        Items templData;
        for (const OnvifSimpleItem &it : c.data) {
            templData.push_back(item(it.Name, ""));
        }
        Items templKey;
        for (const OnvifSimpleItem &it : c.key) {
            templKey.push_back(item(it.Name, ""));
        }
        cam.discovered.push_back(
            record(cam.items, c.code, "", {item("A", "")}, templKey, templData));
        OnvifAlarmTemplate alarm = record(cam.items, 0, "", {item("A", "a")}, c.key, c.data);
        ASSERT_EQ(VEK_ONVIF_OK, match(cam, alarm));
        EXPECT_EQ(c.code, report_.AlarmType);
        EXPECT_EQ(c.objectValue, report_.ObjectValue);
        EXPECT_EQ(c.flags, report_.AttributeFlags);
    }
}

// Object-id and face-attribute templates read their Data values instead of
// comparing them, yet a message whose Data items the template does not know
// is another rule's: a tamper message must not be taken as objects inside.
TEST_F(AlarmMatch, DataValuesAreReadOnlyForItemsTheTemplateKnows)
{
    Camera cam;
    cam.discovered.push_back(record(cam.items, 8, "", lineSourceTemplate(),
                                    {valueIndexed("ObjectId", "common_int", 0)},
                                    {item("IsInside", "common_boolean")}));
    cam.discovered.push_back(
        record(cam.items, 3, "", lineSourceTemplate(), {}, {item("IsTamper", "common_boolean")}));

    OnvifAlarmTemplate tamper =
        record(cam.items, 0, "tns1:RuleEngine/TamperDetector/Tamper",
               lineSource("VideoSourceConfig"), {}, {item("IsTamper", "true")});
    ASSERT_EQ(VEK_ONVIF_OK, match(cam, tamper));
    EXPECT_EQ(3u, report_.AlarmType);

    OnvifAlarmTemplate inside = record(cam.items, 0, "tns1:RuleEngine/FieldDetector/ObjectsInside",
                                       lineSource("VideoSourceConfig"), {item("ObjectId", "5")},
                                       {item("IsInside", "true")});
    ASSERT_EQ(VEK_ONVIF_OK, match(cam, inside));
    EXPECT_EQ(8u, report_.AlarmType);
    EXPECT_EQ(5, report_.ObjectValue);
}

// Object ids and face attributes are read while a template is compared;
// a template that then fails must leave none of them in the report, whether
// a later template matches or none does.
TEST_F(AlarmMatch, AFailedTemplateLeavesNothingInTheReport)
{
    struct Case {
        const char *what;
        uint32_t failingCode;
        Items failingData; // knows the first message item, not the second
        Items data;
        bool laterMatches;
    };
    const Case cases[] = {
        {"mask flag",
         2000,
         {item("HasMask", ""), item("Age", "")},
         Items{item("HasMask", "NoMask"), item("Extra", "x")},
         true},
        {"temperature flag",
         2000,
         {item("TemperatureState", ""), item("Age", "")},
         Items{item("TemperatureState", "AbNormal"), item("Extra", "x")},
         true},
        {"object id",
         6,
         {item("ObjectId", ""), item("IsInside", "")},
         Items{item("ObjectId", "15"), item("Extra", "x")},
         true},
        {"no template matches",
         2000,
         {item("HasMask", ""), item("Age", "")},
         Items{item("HasMask", "NoMask"), item("Extra", "x")},
         false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Camera cam;
        cam.discovered.push_back(
            record(cam.items, c.failingCode, "", {item("A", "")}, {}, c.failingData));
        if (c.laterMatches) {
            cam.placed.push_back(record(cam.items, 1, "", {item("A", "")}, {},
                                        {item(c.data[0].Name, ""), item("Extra", "")}));
        }
        OnvifAlarmTemplate alarm = record(cam.items, 0, "", {item("A", "a")}, {}, c.data);
        const uint32_t result = match(cam, alarm);
        if (c.laterMatches) {
            ASSERT_EQ(VEK_ONVIF_OK, result);
            EXPECT_EQ(1u, report_.AlarmType);
            EXPECT_EQ(0xFFFFFFFFu, report_.Reserved);
        } else {
            EXPECT_EQ(VEK_ONVIF_ERR_SOAP, result);
            EXPECT_EQ(0u, report_.AlarmType);
        }
        EXPECT_EQ(0, report_.ObjectValue);
        EXPECT_EQ(0u, report_.AttributeFlags);
        EXPECT_EQ(0, report_.ExtensionValue);
    }
}

TEST_F(AlarmMatch, DataStateGivesTheInactiveForm)
{
    Camera cam;
    cam.discovered.push_back(
        record(cam.items, 1, "", {item("A", "")}, {}, {item("IsMotion", "common_boolean")}));
    const std::initializer_list<std::pair<const char *, uint32_t>> states = {
        {"false", 1001}, {"true", 1}, {"false", 1001}};
    for (const auto &[value, code] : states) {
        SCOPED_TRACE(value);
        OnvifAlarmTemplate alarm = record(cam.items, 0, "tns1:VideoSource/MotionAlarm",
                                          {item("A", "a")}, {}, {item("IsMotion", value)});
        ASSERT_EQ(VEK_ONVIF_OK, match(cam, alarm));
        EXPECT_EQ(code, report_.AlarmType);
        EXPECT_EQ(1u, cam.discovered[0].AlarmType);
    }
}

TEST_F(AlarmMatch, NullArguments)
{
    Camera cam;
    OnvifAlarmTemplate alarm{};
    OnvifAlarmReport report{};
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_Event_MatchAlarmType(nullptr, &cam.inputs, &alarm, &report));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_Event_MatchAlarmType(cam.config(), nullptr, &alarm, &report));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_Event_MatchAlarmType(cam.config(), &cam.inputs, nullptr, &report));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_Event_MatchAlarmType(cam.config(), &cam.inputs, &alarm, nullptr));
    EXPECT_TRUE(log_.has(4, VEK_ONVIF_ERR_PARAM, kMatchFunc, "Invalid input Param."));
}

TEST(AlarmChannel, TokenTableLookup)
{
    Camera cam;
    uint32_t channel = 9;
    OnvifAlarmTemplate alarm = record(cam.items, 0, "", {item("A", "tok")}, {}, {});
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_Event_GetAlarmChl(nullptr, cam.cfg.get(), 16, &channel));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Event_GetAlarmChl(&alarm, nullptr, 16, &channel));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Event_GetAlarmChl(&alarm, cam.cfg.get(), 16, nullptr));

    // Searching beyond the table's 16 entries reads nothing past it.
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_Event_GetAlarmChl(&alarm, cam.cfg.get(), 1000, &channel));
    EXPECT_EQ(9u, channel);
    std::snprintf(cam.cfg->ChannelTokens[15].SecondaryToken, 128, "%s", "tok");
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_Event_GetAlarmChl(&alarm, cam.cfg.get(), 15, &channel));
    EXPECT_EQ(9u, channel);
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_Event_GetAlarmChl(&alarm, cam.cfg.get(), 16, &channel));
    EXPECT_EQ(16u, channel);

    OnvifAlarmTemplate noSource = record(cam.items, 0, "", {}, {}, {});
    channel = 9;
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_Event_GetAlarmChl(&noSource, cam.cfg.get(), 16, &channel));
    EXPECT_EQ(9u, channel);
}

} // namespace
