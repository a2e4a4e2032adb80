// A notification message holder whose content the runtime kept as literal
// XML (stray text between its elements): vek::alarm::HolderContent reads
// Topic and Message back from it. Input: one byte of flags, then the mixed
// content. Flag 1: the holder already has a topic text; flag 2: it has a
// Topic element without text.
// What must hold: a topic the runtime read is kept as it was; a recovered
// message is the text of an element; neither outlives the holder content
// on the platform heap.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "holder_content.h"
#include "support.h"
#include "vek_platform_ctl.h"

namespace
{

[[noreturn]] void fail(const char *what, const char *mixed)
{
    std::fprintf(stderr, "%s; mixed content: [%s]\n", what, mixed);
    std::abort();
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
    const uint8_t flags = data[0];
    auto mixed = vekfuzz::terminatedCopy(data + 1, size - 1);
    char givenTopic[] = "tns1:VideoSource/MotionAlarm";

    ns7__TopicExpressionType topic{};
    ns7__NotificationMessageHolderType holder{};
    holder.__mixed = mixed.get();
    if ((flags & 1) != 0) {
        topic.__any = givenTopic;
        holder.Topic = &topic;
    } else if ((flags & 2) != 0) {
        holder.Topic = &topic;
    }

    const uint32_t before = VEK_PLAT_GetLiveBlocks();
    {
        const vek::alarm::HolderContent content(holder);
        const ns7__NotificationMessageHolderType &read = content.holder();
        if (topic.__any != nullptr && (read.Topic == nullptr || read.Topic->__any != topic.__any ||
                                       std::strcmp(read.Topic->__any, givenTopic) != 0)) {
            fail("the topic the runtime read was replaced", mixed.get());
        }
        // Mini-XML ends the saved element with a line break.
        const char *message = read.Message.__any;
        if (message != nullptr) {
            size_t end = std::strlen(message);
            while (end > 0 && std::strchr(" \t\r\n", message[end - 1]) != nullptr) {
                --end;
            }
            if (message[0] != '<' || end == 0 || message[end - 1] != '>') {
                fail("the recovered message is not an element's text", mixed.get());
            }
        }
    }
    vekfuzz::expectLiveBlocks(before, "HolderContent");
    return 0;
}
