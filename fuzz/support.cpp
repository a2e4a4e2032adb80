#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "vek_platform_ctl.h"

namespace vekfuzz
{

std::string readFixture(const std::string &relative)
{
    std::ifstream in(std::string(VEK_FIXTURE_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

namespace
{
// Whether the name at pos (after "<", "</" or "prefix:") is exactly
// TopicSet.
bool topicSetNameAt(const std::string &text, size_t pos)
{
    const char before = pos > 0 ? text[pos - 1] : '\0';
    const char after = pos + 8 < text.size() ? text[pos + 8] : '\0';
    return (before == ':' || before == '<' || before == '/') &&
           (after == '>' || after == ' ' || after == '\n' || after == '\t' || after == '\r');
}
} // namespace

std::string topicSetText(const std::string &answer)
{
    size_t name = answer.find("TopicSet");
    while (name != std::string::npos && !topicSetNameAt(answer, name)) {
        name = answer.find("TopicSet", name + 1);
    }
    size_t lastName = answer.rfind("TopicSet");
    while (lastName != std::string::npos && lastName > 0 && !topicSetNameAt(answer, lastName)) {
        lastName = answer.rfind("TopicSet", lastName - 1);
    }
    if (name == std::string::npos || lastName == std::string::npos || lastName <= name) {
        return {};
    }
    const size_t contentStart = answer.find('>', name) + 1;
    const size_t contentEnd = answer.rfind("</", lastName);
    if (contentEnd == std::string::npos || contentEnd < contentStart) {
        return {};
    }
    std::string content = answer.substr(contentStart, contentEnd - contentStart);
    if (VEK_PUB_DeleteNodeProperty(&content[0]) != 0) {
        return {};
    }
    return "<Message>" + std::string(content.c_str()) + "</Message>";
}

std::unique_ptr<char[]> terminatedCopy(const uint8_t *data, size_t size)
{
    std::unique_ptr<char[]> copy(new char[size + 1]);
    if (size > 0) {
        std::memcpy(copy.get(), data, size);
    }
    copy[size] = '\0';
    return copy;
}

namespace
{
void discard(int32_t, uint32_t, const char *, const char *, const char *, void *) {}
} // namespace

void silenceLog()
{
    VEK_PLAT_SetLogSink(&discard, nullptr);
}

void expectLiveBlocks(uint32_t before, const char *what)
{
    uint32_t after = VEK_PLAT_GetLiveBlocks();
    if (after != before) {
        std::fprintf(stderr, "%s: %u platform blocks before, %u after\n", what, before, after);
        std::abort();
    }
}

} // namespace vekfuzz
