// Parsing of notification messages into simple items.
#include <gtest/gtest.h>
#include <mxml.h>

#include <string>
#include <utility>
#include <vector>

#include "test_support.h"
#include "vek_onvif_event.h"
#include "vek_platform_ctl.h"

namespace
{

constexpr const char *kParseFunc = "VEK_Onvif_Event_ParseAlarmMsg";
constexpr const char *kChildFunc = "VEK_Onvif_Event_GetChildXMLNodeData";

using Pairs = std::vector<std::pair<std::string, std::string>>;

// The outputs of one parse; frees whatever the parser handed over.
struct Parsed {
    uint32_t status = 0;
    uint32_t counts[4] = {0xdead, 0xdead, 0xdead, 0xdead};
    OnvifSimpleItem *arrays[4] = {nullptr, nullptr, nullptr, nullptr};

    ~Parsed()
    {
        for (OnvifSimpleItem *&array : arrays) {
            ZU_MEM_FreeEx(reinterpret_cast<void **>(&array), __FILE__, __LINE__);
        }
    }

    Pairs part(int index) const
    {
        Pairs pairs;
        for (uint32_t i = 0; i < counts[index]; ++i) {
            pairs.emplace_back(arrays[index][i].Name, arrays[index][i].Value);
        }
        return pairs;
    }
};

enum { kSource, kKey, kData, kExtension };

void parse(const std::string &text, Parsed &out)
{
    out.status = VEK_Onvif_Event_ParseAlarmMsg(text.c_str(), &out.counts[0], &out.counts[1],
                                               &out.counts[2], &out.counts[3], &out.arrays[0],
                                               &out.arrays[1], &out.arrays[2], &out.arrays[3]);
}

// Every inner tt:Message element of a payload, prefixes stripped the way
// the translation prepares message texts.
std::vector<std::string> innerMessages(const std::string &xml)
{
    std::vector<std::string> messages;
    const std::string open = "<tt:Message";
    const std::string close = "</tt:Message>";
    for (size_t at = xml.find(open); at != std::string::npos; at = xml.find(open, at + 1)) {
        const char next = xml[at + open.size()];
        if (next != ' ' && next != '>' && next != '\n') {
            continue;
        }
        const size_t end = xml.find(close, at);
        if (end == std::string::npos) {
            break;
        }
        std::string text = xml.substr(at, end + close.size() - at);
        EXPECT_EQ(0u, VEK_PUB_DeleteNodeProperty(text.data()));
        messages.push_back(text.c_str());
    }
    return messages;
}

class AlarmParse : public ::testing::Test
{
  protected:
    void SetUp() override { liveBlocks_ = VEK_PLAT_GetLiveBlocks(); }
    void TearDown() override
    {
        VEK_PLAT_FailAllocAfter(-1);
        EXPECT_EQ(liveBlocks_, VEK_PLAT_GetLiveBlocks()) << "blocks left allocated";
    }
    vektest::LogCapture log_;

  private:
    uint32_t liveBlocks_ = 0;
};

TEST_F(AlarmParse, OnlyAnExactInitializedOperationIsRefused)
{
    struct Case {
        const char *attributes;
        uint32_t status;
    };
    const Case cases[] = {
        {R"(PropertyOperation="Changed")", VEK_ONVIF_OK},
        {R"(PropertyOperation="Deleted")", VEK_ONVIF_OK},
        {R"(UtcTime="2024-01-01T00:00:00Z")", VEK_ONVIF_OK},
        {R"(PropertyOperation="initialized")", VEK_ONVIF_OK},
        {R"(PropertyOperation="Initialized2")", VEK_ONVIF_OK},
        {R"(UtcTime="x" PropertyOperation="Initialized")", VEK_ONVIF_ERR_PARAM},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.attributes);
        log_.clear();
        Parsed out;
        parse(std::string("<Message ") + c.attributes +
                  R"(><Source><SimpleItem Name="a" Value="b"/></Source></Message>)",
              out);
        EXPECT_EQ(c.status, out.status);
        if (c.status == VEK_ONVIF_OK) {
            EXPECT_EQ((Pairs{{"a", "b"}}), out.part(kSource));
        } else {
            EXPECT_EQ(0xdeadu, out.counts[kSource]) << "outputs written on failure";
            EXPECT_EQ(nullptr, out.arrays[kSource]);
            EXPECT_TRUE(log_.has(1, VEK_ONVIF_ERR_PARAM, kParseFunc,
                                 "alarm PropertyOperation is:Initialized"));
        }
    }
}

TEST_F(AlarmParse, PartsWithoutItemsGiveZeroCountsAndNullArrays)
{
    Parsed out;
    parse(R"(<Message><Source><SimpleItem Name="A" Value="1"/><SimpleItem Name="B" Value="2"/>)"
          R"(</Source><Key></Key><Data/></Message>)",
          out);
    ASSERT_EQ(VEK_ONVIF_OK, out.status);
    EXPECT_EQ((Pairs{{"A", "1"}, {"B", "2"}}), out.part(kSource));
    for (int part : {kKey, kData, kExtension}) {
        EXPECT_EQ(0u, out.counts[part]);
        EXPECT_EQ(nullptr, out.arrays[part]);
    }
    EXPECT_EQ(0u, out.arrays[kSource][0].NameHasIndex);
    EXPECT_EQ(0, out.arrays[kSource][1].ValueIndex);
}

TEST_F(AlarmParse, MessagesWithoutUsableItemsEndWith100)
{
    const char *texts[] = {
        "<Message><Source/><Key></Key><Data></Data></Message>",
        "<Message/>",
        "<Other><Source><SimpleItem Name=\"a\" Value=\"b\"/></Source></Other>",
        // A recurring part replaces the earlier one, here by nothing.
        "<Message><Source><SimpleItem Name=\"a\" Value=\"b\"/></Source><Source/></Message>",
        // Not stripped of its prefixes: no element is named Message.
        "<tt:Message><tt:Source><tt:SimpleItem Name=\"a\"/></tt:Source></tt:Message>",
    };
    for (const char *text : texts) {
        SCOPED_TRACE(text);
        Parsed out;
        parse(text, out);
        EXPECT_EQ(VEK_ONVIF_ERR_SOAP, out.status);
        EXPECT_EQ(0xdeadu, out.counts[kSource]);
    }
    EXPECT_TRUE(log_.lines().empty());
}

TEST_F(AlarmParse, TextThatIsNotXmlIsLogged)
{
    const char *texts[] = {
        "<Message><Source></Message",
        R"(<Message><Data><SimpleItem Name="a" Value="1" Value="2"/></Data></Message>)",
    };
    for (const char *text : texts) {
        SCOPED_TRACE(text);
        log_.clear();
        Parsed out;
        parse(text, out);
        EXPECT_EQ(VEK_ONVIF_ERR_SOAP, out.status);
        EXPECT_TRUE(log_.has(4, VEK_ONVIF_ERR_FAIL, kParseFunc, "load alarm string fail."));
    }
    // Mini-XML's own explanation goes to the log as well.
    EXPECT_TRUE(log_.hasText("Duplicate attribute"));
}

TEST_F(AlarmParse, AttributesAreReadWhateverTheirOrderAndCutTo31Characters)
{
    const std::string forty(40, 'v');
    Parsed out;
    parse(R"(<Message><Data>)"
          R"(<SimpleItem Value="1" Name="ValueFirst"/>)"
          R"(<SimpleItem Name="OnlyName"/>)"
          R"(<SimpleItem Value="only value"/>)"
          R"(<SimpleItem Type="x" Name="Extra" Other="y" Value="2"/>)"
          R"(<SimpleItem Name="VideoAnalyticsConfigurationToken" Value=")" +
              forty + R"("/></Data></Message>)",
          out);
    ASSERT_EQ(VEK_ONVIF_OK, out.status);
    EXPECT_EQ((Pairs{{"ValueFirst", "1"},
                     {"OnlyName", ""},
                     {"", "only value"},
                     {"Extra", "2"},
                     {"VideoAnalyticsConfigurationToke", std::string(31, 'v')}}),
              out.part(kData));
}

TEST_F(AlarmParse, RecurringPartKeepsOnlyTheLastElementsItems)
{
    Parsed out;
    parse(R"(<Message><Key><SimpleItem Name="old" Value="1"/></Key>)"
          R"(<Key><SimpleItem Name="new" Value="2"/><SimpleItem Name="new2" Value="3"/></Key>)"
          R"(</Message>)",
          out);
    ASSERT_EQ(VEK_ONVIF_OK, out.status);
    EXPECT_EQ((Pairs{{"new", "2"}, {"new2", "3"}}), out.part(kKey));
}

// Part elements inside one another: the last element of each name met in
// document order decides its part, with every SimpleItem below it, up to
// the end of the document.
TEST_F(AlarmParse, NestedPartsAreDecidedByTheLastElementOfTheirName)
{
    Parsed out;
    parse(R"(<Root><Message><Source><SimpleItem Name="s1" Value="1"/>)"
          R"(<Source><SimpleItem Name="s2" Value="2"/></Source></Source>)"
          R"(<Data><SimpleItem Name="d1" Value="3"/><Key><SimpleItem Name="k" Value="4"/></Key>)"
          R"(<Data><Extension/></Data></Data></Message>)"
          R"(<Extension><Group><SimpleItem Name="e" Value="5"/></Group></Extension></Root>)",
          out);
    ASSERT_EQ(VEK_ONVIF_OK, out.status);
    EXPECT_EQ((Pairs{{"s2", "2"}}), out.part(kSource));
    EXPECT_EQ((Pairs{{"k", "4"}}), out.part(kKey));
    EXPECT_EQ(0u, out.counts[kData]);
    EXPECT_EQ(nullptr, out.arrays[kData]);
    EXPECT_EQ((Pairs{{"e", "5"}}), out.part(kExtension));
}

TEST_F(AlarmParse, FailedThirdAllocationReleasesTheFirstTwo)
{
    const std::string text = R"(<Message><Source><SimpleItem Name="s" Value="1"/></Source>)"
                             R"(<Key><SimpleItem Name="k" Value="2"/></Key>)"
                             R"(<Data><SimpleItem Name="d" Value="3"/></Data></Message>)";
    VEK_PLAT_FailAllocAfter(2);
    Parsed out;
    parse(text, out);
    EXPECT_EQ(VEK_ONVIF_ERR_NOMEM, out.status);
    EXPECT_EQ(nullptr, out.arrays[kSource]);
    EXPECT_TRUE(log_.has(4, VEK_ONVIF_ERR_FAIL, kParseFunc, "Failed to alloc memory."));
}

TEST_F(AlarmParse, NullArgumentsAreRefused)
{
    uint32_t count = 0;
    OnvifSimpleItem *array = nullptr;
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_Event_ParseAlarmMsg(nullptr, &count, &count, &count, &count, &array, &array,
                                            &array, &array));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_Event_ParseAlarmMsg("<Message/>", &count, &count, &count, &count, &array,
                                            &array, nullptr, &array));
    EXPECT_TRUE(log_.has(4, VEK_ONVIF_ERR_FAIL, kParseFunc, "Invalid input Param."));
}

TEST_F(AlarmParse, ChildDataNeedsAnElementWithSimpleItems)
{
    OnvifSimpleItem items[2] = {};
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Event_GetChildXMLNodeData(nullptr, items));
    EXPECT_TRUE(log_.has(4, VEK_ONVIF_ERR_FAIL, kChildFunc, "Input para is NULL"));

    mxml_node_t *doc = mxmlNewXML("1.0");
    ASSERT_NE(nullptr, mxmlLoadString(doc,
                                      "<Source><Other/><Group><SimpleItem Name=\"n\" Value=\"v\"/>"
                                      "</Group><SimpleItem Name=\"m\"/></Source>",
                                      MXML_NO_CALLBACK));
    mxml_node_t *source = mxmlFindElement(doc, doc, "Source", nullptr, nullptr, MXML_DESCEND);
    mxml_node_t *other = mxmlFindElement(doc, doc, "Other", nullptr, nullptr, MXML_DESCEND);
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Event_GetChildXMLNodeData(source, nullptr));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Event_GetChildXMLNodeData(other, items));
    EXPECT_TRUE(log_.has(4, VEK_ONVIF_ERR_FAIL, kChildFunc, "can not find simpleitem."));
    // Items at any depth below the part, in document order.
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_Event_GetChildXMLNodeData(source, items));
    EXPECT_STREQ("n", items[0].Name);
    EXPECT_STREQ("v", items[0].Value);
    EXPECT_STREQ("m", items[1].Name);
    EXPECT_STREQ("", items[1].Value);
    mxmlRelease(doc);
}

// Camera payloads, taken out of their envelopes as the translation gets
// them. Expected items read off the files.
TEST_F(AlarmParse, CorpusMessages)
{
    struct Case {
        const char *file;
        size_t message;
        uint32_t status;
        Pairs source, key, data;
    };
    const Case cases[] = {
        {"line-crossed-01.xml",
         0,
         VEK_ONVIF_OK,
         {{"VideoSource", "1"}, {"AnalyticsConfiguration", "2"}, {"Rule", "MyImportantFence1"}},
         {},
         {{"ObjectId", "15"}}},
        {"line-crossed-01.xml",
         1,
         VEK_ONVIF_OK,
         {{"VideoSource", "1"}, {"AnalyticsConfiguration", "2"}, {"Rule", "MyImportantFence2"}},
         {},
         {{"ObjectId", "19"}}},
        {"objects-inside-02.xml",
         0,
         VEK_ONVIF_OK,
         {{"VideoSourceConfigurationToken", "1"},
          {"VideoAnalyticsConfigurationToke", "1"},
          {"Rule", "myImportantField"}},
         {{"ObjectId", "5"}},
         {{"IsInside", "true"}}},
        {"objects-inside-03.xml",
         0,
         VEK_ONVIF_OK,
         {{"VideoSourceConfigurationToken", "1"},
          {"VideoAnalyticsConfigurationToke", "1"},
          {"Rule", "myImportantField"}},
         {{"ObjectId", "5"}},
         {}},
        {"objects-inside-01.xml", 0, VEK_ONVIF_ERR_PARAM, {}, {}, {}},
        {"digital-input-01.xml", 0, VEK_ONVIF_ERR_PARAM, {}, {}, {}},
        {"motion-vendor-app-01.xml", 0, VEK_ONVIF_OK, {}, {}, {{"active", "1"}}},
        {"object-analytics-01.xml",
         0,
         VEK_ONVIF_OK,
         {},
         {},
         {{"classTypes", "human"}, {"active", "1"}, {"objectId", "234232"}}},
        {"line-crossing-element-item-01.xml",
         0,
         VEK_ONVIF_OK,
         {{"VideoSourceToken", "9c756e1c82d0-0"}, {"Rule", "9c756e1c82d0-0-dk2t3c"}},
         {},
         {}},
        {"ptz-preset-reached-01.xml",
         0,
         VEK_ONVIF_OK,
         {{"PTZConfigurationToken", "PTZConfig1"}},
         {},
         {{"PresetToken", "Preset5"}, {"PresetName", "ParkingLot"}}},
        {"object-class-01.xml",
         0,
         VEK_ONVIF_OK,
         {{"VideoSourceToken", "9c756e1c82d0-0"}, {"Rule", "9c756e1c82d0-0-dk2t3b"}},
         {},
         {{"ClassTypes", "Human Animal"}}},
        {"motion-changed-01.xml",
         1,
         VEK_ONVIF_OK,
         {{"VideoSourceConfigurationToken", "VideoSourceConfigToken"}},
         {},
         {{"IsMotion", "true"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.file) + " #" + std::to_string(c.message));
        const auto messages =
            innerMessages(vektest::readFixture(std::string("corpus/notify/") + c.file));
        ASSERT_LT(c.message, messages.size());
        Parsed out;
        parse(messages[c.message], out);
        ASSERT_EQ(c.status, out.status);
        if (c.status != VEK_ONVIF_OK) {
            continue;
        }
        EXPECT_EQ(c.source, out.part(kSource));
        EXPECT_EQ(c.key, out.part(kKey));
        EXPECT_EQ(c.data, out.part(kData));
        EXPECT_EQ(0u, out.counts[kExtension]);
    }
}

TEST_F(AlarmParse, EveryInitialStateMessageOfAPullIsRefused)
{
    const auto messages =
        innerMessages(vektest::readFixture("corpus/notify/pull-initial-state-05.xml"));
    ASSERT_EQ(10u, messages.size());
    for (const std::string &message : messages) {
        Parsed out;
        parse(message, out);
        EXPECT_EQ(VEK_ONVIF_ERR_PARAM, out.status) << message;
    }
}

} // namespace
