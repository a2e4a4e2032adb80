#include "discovery_expect.h"

#include <gtest/gtest.h>

namespace vektest
{

namespace
{
void expectItems(const char *part, const std::vector<Item> &expected, uint32_t count,
                 const OnvifSimpleItem *items)
{
    ASSERT_EQ(expected.size(), count) << part;
    if (count == 0) {
        EXPECT_EQ(nullptr, items) << part;
        return;
    }
    ASSERT_NE(nullptr, items) << part;
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(std::string(part) + " item " + std::to_string(i));
        EXPECT_EQ(expected[i].name, items[i].Name);
        EXPECT_EQ(expected[i].value, items[i].Value);
        EXPECT_EQ(expected[i].hasIndex, items[i].ValueHasIndex);
        EXPECT_EQ(expected[i].index, items[i].ValueIndex);
        EXPECT_EQ(0u, items[i].NameHasIndex);
        EXPECT_EQ(0, items[i].NameIndex);
    }
}

} // namespace

void expectTemplates(const std::vector<Expected> &expected, const OnvifAlarmCfg &cfg)
{
    ASSERT_EQ(expected.size(), cfg.PropeAlarmCount);
    if (expected.empty()) {
        EXPECT_EQ(nullptr, cfg.pstPropeAlarmInfo);
        return;
    }
    ASSERT_NE(nullptr, cfg.pstPropeAlarmInfo);
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("template " + std::to_string(i));
        const OnvifAlarmTemplate &t = cfg.pstPropeAlarmInfo[i];
        EXPECT_EQ(expected[i].code, t.AlarmType);
        if (expected[i].topic != nullptr) {
            EXPECT_STREQ(expected[i].topic, t.Topic);
        }
        expectItems("Source", expected[i].source, t.SourceCount, t.SourceItems);
        expectItems("Key", expected[i].key, t.KeyCount, t.KeyItems);
        expectItems("Data", expected[i].data, t.DataCount, t.DataItems);
        EXPECT_EQ(0u, t.ExtensionCount);
        EXPECT_EQ(nullptr, t.ExtensionItems);
    }
}

} // namespace vektest
