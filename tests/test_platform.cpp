// The platform stand-in: prefix stripping, bounded strings, memory
// accounting with failure injection, the log sink and the local address.
#include <gtest/gtest.h>
#include <mxml.h>

#include <cstring>
#include <string>

#include "test_support.h"
#include "vek_platform_ctl.h"

namespace
{

struct PrefixCase {
    const char *name;
    const char *input;
    const char *expected;
};

class DeleteNodeProperty : public ::testing::TestWithParam<PrefixCase>
{
};

TEST_P(DeleteNodeProperty, StripsElementPrefixesOnly)
{
    std::string text = GetParam().input;
    size_t before = text.size();
    ASSERT_EQ(0u, VEK_PUB_DeleteNodeProperty(&text[0]));
    EXPECT_STREQ(GetParam().expected, text.c_str());
    EXPECT_LE(std::strlen(text.c_str()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeleteNodeProperty,
    ::testing::Values(
        PrefixCase{"StartAndEndTags", "<tt:Message><tt:Source/></tt:Message>",
                   "<Message><Source/></Message>"},
        PrefixCase{"NoPrefix", "<Message a=\"1\">x</Message>", "<Message a=\"1\">x</Message>"},
        PrefixCase{"DefaultNamespaceKept", "<Message xmlns=\"http://a\"><b:X/></Message>",
                   "<Message xmlns=\"http://a\"><X/></Message>"},
        PrefixCase{"AttributesUntouched",
                   "<tt:SimpleItem Name=\"tt:Rule\" Value=\"a:b\" xmlns:tt=\"urn:x\" "
                   "xsi:type=\"tt:T\"/>",
                   "<SimpleItem Name=\"tt:Rule\" Value=\"a:b\" xmlns:tt=\"urn:x\" "
                   "xsi:type=\"tt:T\"/>"},
        PrefixCase{"GreaterThanInAttribute", "<a:X v='1>2' w=\"<\"><a:Y/></a:X>",
                   "<X v='1>2' w=\"<\"><Y/></X>"},
        PrefixCase{"TextWithColonAndGreaterThan", "<a:T>tns1:RuleEngine/x &gt; 1 > 0</a:T>",
                   "<T>tns1:RuleEngine/x &gt; 1 > 0</T>"},
        PrefixCase{"CommentKept", "<a:R><!-- <b:C> a:b --></a:R>", "<R><!-- <b:C> a:b --></R>"},
        PrefixCase{"CdataKept", "<a:R><![CDATA[<b:Q>x:y</b:Q>]]></a:R>",
                   "<R><![CDATA[<b:Q>x:y</b:Q>]]></R>"},
        PrefixCase{"DeclarationAndPi",
                   "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY e \"x>\">]><p:a/>",
                   "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY e \"x>\">]><a/>"},
        PrefixCase{"WhitespaceInTags", "<a:X\n  Name=\"n\"\n></a:X\n>",
                   "<X\n  Name=\"n\"\n></X\n>"}),
    [](const ::testing::TestParamInfo<PrefixCase> &info) { return info.param.name; });

TEST(DeleteNodePropertyErrors, MalformedTextIsRefusedUnchanged)
{
    for (const char *bad : {"<a:X><!-- open", "<a:X attr=\"1", "<a:X><![CDATA[x</a:X>", "<:X/>",
                            "<a:/>", "< a:X/>"}) {
        std::string text = bad;
        EXPECT_EQ(112u, VEK_PUB_DeleteNodeProperty(&text[0])) << bad;
        EXPECT_EQ(std::string(bad), text);
    }
    EXPECT_EQ(102u, VEK_PUB_DeleteNodeProperty(nullptr));
}

TEST(Strings, SnprintfBoundsAndStrnstr)
{
    char buf[8];
    EXPECT_EQ(7, ZU_snprintf(buf, sizeof buf, "%s", "0123456789"));
    EXPECT_STREQ("0123456", buf);
    EXPECT_EQ(3, ZU_snprintf(buf, sizeof buf, "%d", 123));

    const char *text = "RuleEngine/LineDetector";
    EXPECT_EQ(text + 11, ZU_strnstr(text, "LineDetector", 12));
    EXPECT_EQ(nullptr, ZU_strnstr(text, "Field", 5));
    EXPECT_EQ(text, ZU_strnstr(text, "", 0));
}

TEST(Memory, LiveBlocksAndFailureInjection)
{
    uint32_t start = VEK_PLAT_GetLiveBlocks();
    void *a = ZU_MEM_MallocEx(ghVekMgrModHdl, 16, "t", 1);
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(start + 1, VEK_PLAT_GetLiveBlocks());

    VEK_PLAT_FailAllocAfter(1);
    void *b = ZU_MEM_MallocEx(ghVekMgrModHdl, 16, "t", 2);
    EXPECT_NE(nullptr, b);
    EXPECT_EQ(nullptr, ZU_MEM_MallocEx(ghVekMgrModHdl, 16, "t", 3));
    EXPECT_EQ(nullptr, ZU_MEM_RallocEx(ghVekMgrModHdl, a, 64, "t", 4));
    VEK_PLAT_FailAllocAfter(-1);

    void *grown = ZU_MEM_RallocEx(ghVekMgrModHdl, a, 64, "t", 5);
    ASSERT_NE(nullptr, grown);
    a = grown;
    ZU_MEM_FreeEx(&a, "t", 6);
    ZU_MEM_FreeEx(&b, "t", 7);
    EXPECT_EQ(nullptr, a);
    ZU_MEM_FreeEx(&a, "t", 8); // null is accepted
    EXPECT_EQ(start, VEK_PLAT_GetLiveBlocks());
}

TEST(Logging, SinkReceivesOneLinePerCall)
{
    vektest::LogCapture log;
    ZU_WriteLog(4, 112, 2, 0x20000, "vek_onvif_event", 10, "Fn", "value %d", 7);
    ASSERT_EQ(1u, log.lines().size());
    EXPECT_TRUE(log.has(4, 112, "Fn", "value 7"));
    EXPECT_EQ("vek_onvif_event", log.lines()[0].file);
}

TEST(LocalAddress, LoopbackCameraGivesLoopbackAddress)
{
    char addr[64] = {0};
    char url[] = "http://127.0.0.1:8080/onvif/event_service";
    ASSERT_EQ(0u, TAV_GetLocalSockAddr(url, addr));
    EXPECT_STREQ("127.0.0.1", addr);

    VEK_PLAT_SetLocalAddr("10.1.2.3", 0);
    std::memset(addr, 0, sizeof addr);
    EXPECT_EQ(0u, TAV_GetLocalSockAddr(url, addr));
    EXPECT_STREQ("10.1.2.3", addr);
    VEK_PLAT_SetLocalAddr("x", 55);
    EXPECT_EQ(55u, TAV_GetLocalSockAddr(url, addr));
    VEK_PLAT_SetLocalAddr(nullptr, 0);

    char noHost[] = "http:///path";
    EXPECT_NE(0u, TAV_GetLocalSockAddr(noHost, addr));
}

TEST(DevicePort, OverrideAndFailure)
{
    VEK_PUB_DevPortInfo info{};
    VEK_PLAT_SetDevPort(8123, 0);
    ASSERT_EQ(0u, VEK_PUB_GetDevPortInfo(&info));
    EXPECT_EQ(8123, info.usPort);
    VEK_PLAT_SetDevPort(80, 9);
    EXPECT_EQ(9u, VEK_PUB_GetDevPortInfo(&info));
    VEK_PLAT_SetDevPort(80, 0);
}

TEST(ChildrenCount, CountsDescendantsByName)
{
    mxml_node_t *doc = mxmlNewXML("1.0");
    ASSERT_NE(nullptr, mxmlLoadString(doc,
                                      "<Data><SimpleItem/><x><SimpleItem/></x><SimpleItemX/>"
                                      "</Data>",
                                      MXML_NO_CALLBACK));
    mxml_node_t *data = mxmlFindElement(doc, doc, "Data", nullptr, nullptr, MXML_DESCEND);
    EXPECT_EQ(2u, VEK_CFG_GetChildrenNodeCount(data, "SimpleItem"));
    EXPECT_EQ(0u, VEK_CFG_GetChildrenNodeCount(data, "Missing"));
    EXPECT_EQ(0u, VEK_CFG_GetChildrenNodeCount(nullptr, "SimpleItem"));
    mxmlRelease(doc);
}

} // namespace
