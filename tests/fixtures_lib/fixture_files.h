// Fixture files below tests/fixtures, and copying fixture texts into the
// fixed-size text fields of the interface's records.
#ifndef VEK_FIXTURE_FILES_H
#define VEK_FIXTURE_FILES_H

#include <cstddef>
#include <cstdio>
#include <string>

namespace vekfix
{

// Path of a file below tests/fixtures.
std::string fixturePath(const std::string &relative);

// Contents of a file below tests/fixtures; throws std::runtime_error when
// it cannot be read.
std::string readFixture(const std::string &relative);

// Copies text into a record's text field, cut to fit and terminated.
template <std::size_t N> void copyText(char (&field)[N], const std::string &text)
{
    std::snprintf(field, N, "%s", text.c_str());
}

} // namespace vekfix

#endif // VEK_FIXTURE_FILES_H
