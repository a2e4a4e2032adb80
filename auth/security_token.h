// The WS-Security UsernameToken of a request, created at a given time: the
// time is the recorder's own clock, or the camera's when its clock is known
// to differ.
#ifndef VEK_SECURITY_TOKEN_H
#define VEK_SECURITY_TOKEN_H

#include <cstdint>
#include <ctime>

#include "stdsoap2.h"

namespace vek
{

// Sets the token of the context's header (made when missing) for user, with
// a new nonce and the password digest over Created = created.
uint32_t addSecurityToken(struct soap *soap, const char *user, const char *password,
                          std::time_t created);

} // namespace vek

#endif // VEK_SECURITY_TOKEN_H
