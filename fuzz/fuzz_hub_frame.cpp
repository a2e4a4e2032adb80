// The hub's request framing: the input arrives in pieces (their sizes drawn
// from the input's first byte), each piece judged as a connection of the hub
// judges it, and the verdict must be the one the whole input gets at once. A
// complete request is then read as a Notify from memory, as the hub reads it.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "hub_request.h"
#include "support.h"
#include "vek_platform_ctl.h"

namespace
{
using vek::hub::Progress;
using vek::hub::RequestFrame;

[[noreturn]] void fail(const char *what, size_t size)
{
    std::fprintf(stderr, "hub frame: %s (input of %zu bytes)\n", what, size);
    std::abort();
}

struct Verdict {
    Progress progress;
    size_t size;
    vek::NotifyRefusal refusal;
};

// Judges bytes as they would arrive in pieces of 1 to 64 bytes, the sender
// closing its side after the last one.
Verdict judgeInPieces(std::string_view bytes, unsigned seed)
{
    RequestFrame frame;
    size_t received = 0;
    while (true) {
        size_t step = 1 + (seed % 64);
        seed = seed * 1103515245u + 12345u;
        received = std::min(bytes.size(), received + step);
        bool done = received == bytes.size();
        Progress progress = frame.judge(bytes.substr(0, received), done);
        if (progress == Progress::Complete && (frame.size() == 0 || frame.size() > received)) {
            fail("complete request larger than the bytes received", bytes.size());
        }
        if (progress != Progress::Incomplete || done) {
            return {progress, frame.size(), frame.refusal()};
        }
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    vekfuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const uint32_t before = VEK_PLAT_GetLiveBlocks();
    const unsigned seed = data[0];
    auto copy = vekfuzz::terminatedCopy(data + 1, size - 1);
    std::string_view bytes(copy.get(), size - 1);

    RequestFrame whole;
    Verdict atOnce{whole.judge(bytes, true), whole.size(), whole.refusal()};
    Verdict inPieces = judgeInPieces(bytes, seed);
    if (atOnce.progress != inPieces.progress) {
        fail("pieces and the whole input judged differently", size);
    }
    if (atOnce.progress == Progress::Complete && atOnce.size != inPieces.size) {
        fail("pieces and the whole input end the request at different bytes", size);
    }
    if (atOnce.progress == Progress::Refused && atOnce.refusal != inPieces.refusal) {
        fail("pieces and the whole input refused for different reasons", size);
    }
    if (atOnce.progress == Progress::Complete) {
        vek::hub::BufferedNotify notify(bytes.substr(0, atOnce.size));
        (void)notify.read();
    }
    vekfuzz::expectLiveBlocks(before, "hub request framing");
    return 0;
}
