// Writes seed corpora of the fuzz targets from the fixture corpus:
//   make_seeds <directory>
// node_property/ whole corpus files; alarm_msg/ topic + innermost Message
// element of every notification message; prope_msg/ topic-set texts;
// pull_point_reference/ the CreatePullPointSubscription answers; and
// for alarm_msg/ and prope_msg/ messages whose part elements are nested
// deeply.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "fixture_files.h"
#include "fixture_topic_set.h"
#include "support.h"

namespace
{
constexpr size_t kMaxSeed = 64 * 1024;
int g_written = 0;

std::vector<std::string> corpusFiles(const std::string &folder)
{
    std::vector<std::string> names;
    const std::string path = vekfix::fixturePath("corpus/" + folder);
    if (DIR *dir = opendir(path.c_str())) {
        while (dirent *entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() > 4 && name.substr(name.size() - 4) == ".xml") {
                names.push_back("corpus/" + folder + "/" + name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void write(const std::string &path, const std::string &bytes)
{
    if (bytes.empty() || bytes.size() > kMaxSeed) {
        return;
    }
    std::ofstream(path, std::ios::binary) << bytes;
    ++g_written;
}

std::string trim(const std::string &text)
{
    const char *space = " \t\r\n";
    size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// Local name of the tag whose '<' is at pos.
std::string localNameAt(const std::string &xml, size_t pos)
{
    size_t start = pos + (xml[pos + 1] == '/' ? 2 : 1);
    size_t end = xml.find_first_of(" \t\r\n/>", start);
    std::string name = xml.substr(start, end == std::string::npos ? end : end - start);
    size_t colon = name.find(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

// [start, end) of every element with this local name, in order of their
// end tags (an inner element comes before the one holding it).
std::vector<std::pair<size_t, size_t>> elements(const std::string &xml, const std::string &name)
{
    std::vector<std::pair<size_t, size_t>> found;
    std::vector<size_t> open;
    for (size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
        const char next = at + 1 < xml.size() ? xml[at + 1] : '\0';
        if (next == '!' || next == '?' || localNameAt(xml, at) != name) {
            continue;
        }
        size_t close = xml.find('>', at);
        if (close == std::string::npos) {
            break;
        }
        if (next == '/') {
            if (!open.empty()) {
                found.emplace_back(open.back(), close + 1);
                open.pop_back();
            }
        } else if (xml[close - 1] == '/') {
            found.emplace_back(at, close + 1);
        } else {
            open.push_back(at);
        }
    }
    return found;
}

// Elements open ... close nested in one another as deep as bytes allow,
// inner at the bottom.
std::string nestedElements(const std::string &open, const std::string &close, size_t bytes,
                           const std::string &inner)
{
    std::string text;
    const size_t depth = (bytes - inner.size()) / (open.size() + close.size());
    for (size_t i = 0; i < depth; ++i) {
        text += open;
    }
    text += inner;
    for (size_t i = 0; i < depth; ++i) {
        text += close;
    }
    return text;
}

// Each part's elements nested deeply after a motion alarm's own parts, in a
// notification message and in a topic set's message description: seeds
// that keep the fuzzer near inputs whose cost grows with the nesting.
void writeNestedPartSeeds(const std::string &root)
{
    const std::string item = "<tt:SimpleItem Name=\"State\" Value=\"true\"/>";
    const std::string description = "<SimpleItemDescription Name=\"State\" Type=\"xs:boolean\"/>";
    for (const std::string part : {"Source", "Key", "Data", "Extension"}) {
        const std::string message =
            "<tt:Message UtcTime=\"2026-12-10T01:00:00Z\" PropertyOperation=\"Changed\">"
            "<tt:Source><tt:SimpleItem Name=\"Source\" Value=\"VideoSourceToken_1\"/>"
            "</tt:Source><tt:Data>" +
            item + "</tt:Data>";
        write(root + "/alarm_msg/nested-" + part,
              "tns1:VideoSource/MotionAlarm" + message +
                  nestedElements("<tt:" + part + ">", "</tt:" + part + ">", 15 * 1024, item) +
                  "</tt:Message>");
        write(root + "/prope_msg/nested-" + part,
              "<Message><VideoSource><MotionAlarm><MessageDescription IsProperty=\"true\">"
              "<Source><SimpleItemDescription Name=\"Source\" Type=\"tt:ReferenceToken\"/>"
              "</Source>" +
                  nestedElements("<" + part + ">", "</" + part + ">", 60 * 1024, description) +
                  "<Data>" + description +
                  "</Data></MessageDescription></MotionAlarm></VideoSource></Message>");
    }
}

std::string content(const std::string &xml, std::pair<size_t, size_t> element)
{
    size_t start = xml.find('>', element.first) + 1;
    size_t end = xml.rfind("</", element.second);
    return start <= end && end != std::string::npos ? xml.substr(start, end - start) : "";
}
} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds <directory>\n");
        return 2;
    }
    const std::string root = argv[1];
    for (const char *sub :
         {"", "/node_property", "/alarm_msg", "/prope_msg", "/pull_point_reference"}) {
        mkdir((root + sub).c_str(), 0755);
    }
    int n = 0;
    for (const std::string &file : corpusFiles("notify")) {
        const std::string xml = vekfix::readFixture(file);
        write(root + "/node_property/" + std::to_string(n), xml);
        const auto topics = elements(xml, "Topic");
        const auto messages = elements(xml, "Message");
        for (size_t m = 0; m < messages.size(); ++m) {
            const auto [start, end] = messages[m];
            // Innermost only: the wrapper holds another Message.
            if (m > 0 && messages[m - 1].first > start) {
                continue;
            }
            std::string topic;
            for (const auto &t : topics) {
                if (t.second <= start) {
                    topic = trim(content(xml, t));
                }
            }
            write(root + "/alarm_msg/" + std::to_string(n) + "-" + std::to_string(m),
                  topic + xml.substr(start, end - start));
        }
        ++n;
    }
    for (const char *folder : {"properties", "subscribe"}) {
        for (const std::string &file : corpusFiles(folder)) {
            const std::string xml = vekfix::readFixture(file);
            write(root + "/node_property/" + std::to_string(n), xml);
            write(root + "/prope_msg/" + std::to_string(n), vekfix::topicSetText(xml));
            if (file.find("/pullpoint-") != std::string::npos) {
                write(root + "/pull_point_reference/" + std::to_string(n), xml);
            }
            ++n;
        }
    }
    writeNestedPartSeeds(root);
    std::printf("%d seeds written to %s\n", g_written, root.c_str());
    return g_written > 0 ? 0 : 1;
}
