// Expected templates of a discovery, checked item by item.
#ifndef VEK_DISCOVERY_EXPECT_H
#define VEK_DISCOVERY_EXPECT_H

#include <cstdint>
#include <string>
#include <vector>

#include "vek_onvif_event.h"

namespace vektest
{

struct Item {
    std::string name;
    std::string value;
    uint32_t hasIndex;
    int32_t index = 0;
};

struct Expected {
    uint32_t code;
    std::vector<Item> source;
    std::vector<Item> key;
    std::vector<Item> data;
    const char *topic = nullptr; // the template's topic path; null: not checked here
};

// A configuration that gives its discovered templates back when it dies.
struct Cfg {
    OnvifAlarmCfg cfg{};
    ~Cfg() { VEK_Onvif_Event_FreePropeAlarm(&cfg); }
};

// The discovered templates are exactly these, in this order.
void expectTemplates(const std::vector<Expected> &expected, const OnvifAlarmCfg &cfg);

} // namespace vektest

#endif // VEK_DISCOVERY_EXPECT_H
