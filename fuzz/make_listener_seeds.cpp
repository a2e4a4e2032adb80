// Writes the listener's seeds (Notify HTTP requests built by the camera
// simulator) into seeds/listener. The simulator does not build with clang
// 14, so this runs with the normal build's simulator library:
//   g++ -std=c++17 -I tools/camsim fuzz/make_listener_seeds.cpp \
//       build/tools/camsim/libvek_camsim.a $(pkg-config --libs mxml) -lcrypto -lpthread \
//       -o /tmp/make_listener_seeds && /tmp/make_listener_seeds tests/fixtures fuzz/seeds/listener
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "camsim.h"

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_listener_seeds <fixture dir> <seed dir>\n");
        return 2;
    }
    const std::string fixtures = argv[1];
    const std::string out = argv[2];
    const std::string url = "http://127.0.0.1:20000/onvif_notify_server";
    struct Seed {
        const char *name;
        const char *file;
        const char *topicIfBare;
        void (*shape)(camsim::HttpPostOptions &);
    };
    const Seed seeds[] = {
        {"motion", "notify/motion-changed-01.xml", "", [](camsim::HttpPostOptions &) {}},
        {"initial-state-chunked", "notify/pull-initial-state-01.xml", "",
         [](camsim::HttpPostOptions &o) {
             o.chunked = true;
             o.chunkSize = 512;
         }},
        {"line-crossed-short-length", "notify/line-crossed-01.xml", "",
         [](camsim::HttpPostOptions &o) { o.contentLength = "200"; }},
        {"objects-inside-no-length", "notify/objects-inside-02.xml",
         "tns1:RuleEngine/FieldDetector/ObjectsInside",
         [](camsim::HttpPostOptions &o) { o.omitContentLength = true; }},
        {"digital-input-keep-alive", "notify/digital-input-01.xml",
         "tns1:Device/Trigger/DigitalInput",
         [](camsim::HttpPostOptions &o) { o.connectionClose = false; }},
        {"template-no-action", "notify/notify-template-01.xml", "",
         [](camsim::HttpPostOptions &o) {
             o.action = "";
             o.contentType = "text/xml";
         }},
    };
    for (const Seed &seed : seeds) {
        auto messages =
            camsim::loadNotificationMessages(fixtures + "/corpus/" + seed.file, seed.topicIfBare);
        camsim::HttpPostOptions options;
        seed.shape(options);
        std::ofstream(out + "/" + seed.name, std::ios::binary)
            << camsim::buildHttpPost(url, camsim::buildNotifyEnvelope(messages, url), options);
    }
    // A motion alarm built by the simulator itself, as the listener tests send it.
    std::ofstream(out + "/simple-motion", std::ios::binary) << camsim::buildHttpPost(
        url, camsim::buildNotifyEnvelope(
                 {camsim::makeNotificationMessage(
                     "tns1:VideoSource/MotionAlarm",
                     camsim::makeSimpleMessage("2026-12-10T01:00:00Z", "Changed", "Source",
                                               "VideoSourceToken_1", "State", "true"))},
                 url));
    return 0;
}
