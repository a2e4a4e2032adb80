// What discover and watch say when a step against the camera fails: one line on stderr naming
// the command, and the exit status that goes with the kind of failure the library recorded.
#pragma once

#include <string>

#include "commands.h"
#include "endpoint.h"
#include "failure.h"

namespace onvif_events
{

// "onvif-events COMMAND: TEXT" on stderr.
void printFailure(const char *command, const std::string &text);

// The exit status for a failure of this kind: refused credentials kExitAuth; no answer
// kExitUnreachable; an answer that is not an event service's (or a refused TLS certificate)
// kExitCamera.
int exitStatusOf(const Outcome &outcome);

// After a failed step: says why on stderr and gives the exit status. The camera is not asked
// again.
int explainFailure(const char *command, const char *operation, const Outcome &outcome,
                   const CameraOptions &options, const Endpoint &endpoint);

// One status line's account of a failed step mid-watch, naming what was waited for when the
// camera did not answer.
std::string stepFailureText(const char *operation, const Outcome &outcome);

} // namespace onvif_events
