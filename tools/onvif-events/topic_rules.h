// --topic-rules FILE: extra rows of the library's topic table, one rule a line ("topic code
// [state-item]", blanks between; blank lines and lines starting with '#' ignored), added
// process-wide before any camera is asked anything.
#pragma once

#include <string>

namespace onvif_events
{

// Adds every rule of the file (VEK_Onvif_AddTopicRule). Empty when all were added; otherwise why
// not, naming the file and the line, and no rule of the file stays added.
std::string addTopicRules(const std::string &path);

} // namespace onvif_events
