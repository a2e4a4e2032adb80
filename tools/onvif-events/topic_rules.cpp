#include "topic_rules.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "report_format.h"
#include "vek_onvif_event.h"

namespace onvif_events
{

namespace
{

struct Rule {
    std::string topic;
    uint32_t code = 0;
    std::string stateItem; // empty: the library picks the first state word
    size_t line = 0;
};

// The rule of one line; false with why when the line is no rule.
bool parseRule(const std::string &text, Rule &rule, std::string &why)
{
    std::istringstream fields(text);
    std::vector<std::string> words;
    for (std::string word; fields >> word;) {
        words.push_back(word);
    }
    if (words.size() < 2 || words.size() > 3) {
        why = "expected 'topic code [state-item]', found " + std::to_string(words.size()) +
              " field(s)";
        return false;
    }
    const std::string &code = words[1];
    bool digits = code.size() <= 3 && code.find_first_not_of("0123456789") == std::string::npos;
    unsigned long value = digits ? std::stoul(code) : 0;
    if (!digits || value < 1 || value > 999) {
        why = "code '" + code + "' is not a number from 1 to 999";
        return false;
    }
    rule.topic = words[0];
    rule.code = static_cast<uint32_t>(value);
    rule.stateItem = words.size() == 3 ? words[2] : "";
    return true;
}

} // namespace

std::string addTopicRules(const std::string &path)
{
    std::ifstream file(path);
    if (!file) {
        return "--topic-rules " + path + ": cannot read (" + std::strerror(errno) + ")";
    }
    std::vector<Rule> rules;
    size_t number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        if (line.empty() || line[0] == '#' ||
            line.find_first_not_of(" \t\r\v\f") == std::string::npos) {
            continue;
        }
        Rule rule;
        rule.line = number;
        std::string why;
        if (!parseRule(line, rule, why)) {
            return "--topic-rules " + path + " line " + std::to_string(number) + ": " + why;
        }
        rules.push_back(rule);
    }
    if (file.bad()) {
        return "--topic-rules " + path + ": cannot read";
    }
    for (const Rule &rule : rules) {
        uint32_t result =
            VEK_Onvif_AddTopicRule(rule.topic.c_str(), rule.code,
                                   rule.stateItem.empty() ? nullptr : rule.stateItem.c_str());
        if (result != VEK_ONVIF_OK) {
            VEK_Onvif_ClearTopicRules();
            std::string why = result == VEK_ONVIF_ERR_FAIL
                                  ? "the library's table of topic rules is full"
                                  : "the library refuses topic '" + rule.topic + "' (result " +
                                        resultText(result) + ")";
            return "--topic-rules " + path + " line " + std::to_string(rule.line) + ": " + why;
        }
    }
    return "";
}

} // namespace onvif_events
