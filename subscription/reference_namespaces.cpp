#include "reference_namespaces.h"

#include <algorithm>

namespace vek
{

namespace
{

bool isNameEnd(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/' || c == '>' || c == '=';
}

std::string_view prefixOf(std::string_view qname)
{
    size_t colon = qname.find(':');
    return colon == std::string_view::npos ? std::string_view() : qname.substr(0, colon);
}

void addUnique(std::vector<std::string> &list, std::string_view item)
{
    if (std::find(list.begin(), list.end(), item) == list.end()) {
        list.emplace_back(item);
    }
}

// Walks the start tags of the fragment, reporting element and attribute
// names. Attribute values are skipped whole, so '>' inside them is harmless.
template <typename OnName> void forEachName(std::string_view xml, OnName onName)
{
    size_t pos = 0;
    while ((pos = xml.find('<', pos)) != std::string_view::npos) {
        ++pos;
        if (pos >= xml.size() || xml[pos] == '/' || xml[pos] == '!' || xml[pos] == '?') {
            continue;
        }
        size_t end = pos;
        while (end < xml.size() && !isNameEnd(xml[end])) {
            ++end;
        }
        onName(xml.substr(pos, end - pos), false);
        pos = end;
        while (pos < xml.size() && xml[pos] != '>') {
            char c = xml[pos];
            if (c == '"' || c == '\'') {
                size_t close = xml.find(c, pos + 1);
                pos = close == std::string_view::npos ? xml.size() : close + 1;
            } else if (isNameEnd(c)) {
                ++pos;
            } else {
                size_t nameEnd = pos;
                while (nameEnd < xml.size() && !isNameEnd(xml[nameEnd])) {
                    ++nameEnd;
                }
                onName(xml.substr(pos, nameEnd - pos), true);
                pos = nameEnd;
            }
        }
    }
}

// Value of the last declaration of prefix in text before position limit.
std::string findBinding(std::string_view text, std::string_view prefix, size_t limit)
{
    std::string key = "xmlns:" + std::string(prefix);
    size_t pos = std::min(limit, text.size());
    while (pos > 0) {
        size_t found = text.rfind(key, pos - 1);
        if (found == std::string_view::npos) {
            break;
        }
        size_t p = found + key.size();
        while (p < text.size() &&
               (text[p] == ' ' || text[p] == '\t' || text[p] == '\r' || text[p] == '\n')) {
            ++p;
        }
        if (p < text.size() && text[p] == '=') {
            ++p;
            while (p < text.size() && (text[p] == ' ' || text[p] == '\t')) {
                ++p;
            }
            if (p < text.size() && (text[p] == '"' || text[p] == '\'')) {
                size_t close = text.find(text[p], p + 1);
                if (close != std::string_view::npos) {
                    return std::string(text.substr(p + 1, close - p - 1));
                }
            }
        }
        pos = found;
    }
    return {};
}

} // namespace

std::vector<std::string> undeclaredPrefixes(std::string_view fragment)
{
    std::vector<std::string> used;
    std::vector<std::string> declared;
    forEachName(fragment, [&](std::string_view name, bool isAttribute) {
        std::string_view prefix = prefixOf(name);
        if (isAttribute && prefix == "xmlns") {
            addUnique(declared, name.substr(6));
        } else if (!prefix.empty() && prefix != "xml" && prefix != "xmlns") {
            addUnique(used, prefix);
        }
    });
    std::vector<std::string> missing;
    for (const std::string &prefix : used) {
        if (std::find(declared.begin(), declared.end(), prefix) == declared.end()) {
            missing.push_back(prefix);
        }
    }
    return missing;
}

std::string declareInheritedNamespaces(std::string_view fragment, std::string_view rawAnswer)
{
    std::string result(fragment);
    size_t open = fragment.find('<');
    if (open == std::string_view::npos) {
        return result;
    }
    size_t nameEnd = open + 1;
    while (nameEnd < fragment.size() && !isNameEnd(fragment[nameEnd])) {
        ++nameEnd;
    }
    std::string_view rootName = fragment.substr(open + 1, nameEnd - open - 1);
    // Where the root element stands in the answer: declarations in scope
    // there come before it.
    size_t rootInAnswer = rawAnswer.find("<" + std::string(rootName));
    if (rootInAnswer == std::string_view::npos) {
        rootInAnswer = rawAnswer.size();
    }
    std::string declarations;
    for (const std::string &prefix : undeclaredPrefixes(fragment)) {
        std::string uri = findBinding(rawAnswer, prefix, rootInAnswer);
        if (!uri.empty()) {
            declarations += " xmlns:" + prefix + "=\"" + uri + "\"";
        }
    }
    result.insert(nameEnd, declarations);
    return result;
}

} // namespace vek
