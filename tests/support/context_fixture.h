// A test that holds one context of the library and ends with no block left allocated through
// the platform stand-in: the count is taken before the context is made and checked after it is
// destroyed. A derived fixture releases what it holds itself, then calls this TearDown.
#ifndef VEK_CONTEXT_FIXTURE_H
#define VEK_CONTEXT_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>

#include "vek_onvif_event.h"
#include "vek_platform_ctl.h"

namespace vektest
{

template <class Base = ::testing::Test> class ContextFixture : public Base
{
  protected:
    void SetUp() override
    {
        blocks_ = VEK_PLAT_GetLiveBlocks();
        VEK_Onvif_Event_Init(&soap_);
        ASSERT_NE(nullptr, soap_);
    }
    void TearDown() override
    {
        VEK_Onvif_Event_Destroy(&soap_);
        EXPECT_EQ(blocks_, VEK_PLAT_GetLiveBlocks());
    }

    struct soap *soap_ = nullptr;
    uint32_t blocks_ = 0;
};

} // namespace vektest

#endif // VEK_CONTEXT_FIXTURE_H
