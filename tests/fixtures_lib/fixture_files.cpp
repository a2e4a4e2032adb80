#include "fixture_files.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vekfix
{

std::string fixturePath(const std::string &relative)
{
    return std::string(VEK_FIXTURE_DIR) + "/" + relative;
}

std::string readFixture(const std::string &relative)
{
    std::ifstream in(fixturePath(relative), std::ios::binary);
    if (!in) {
        throw std::runtime_error("missing fixture " + relative);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace vekfix
