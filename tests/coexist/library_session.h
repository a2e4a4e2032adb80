// What a recorder does with the event library for one camera, against a
// fresh camera simulator: discovery, Subscribe with one delivered Notify,
// and a pull point. Uses only the library's public C interface.
#ifndef VEK_COEXIST_LIBRARY_SESSION_H
#define VEK_COEXIST_LIBRARY_SESSION_H

#include <string>

namespace coexist
{

// Runs the session; empty when every step succeeded, otherwise the first
// step that failed and what it returned.
std::string runLibrarySession();

} // namespace coexist

#endif // VEK_COEXIST_LIBRARY_SESSION_H
