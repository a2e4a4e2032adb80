// The cameras of one watch: the positional URL, each --camera URL and each entry of the
// --cameras file, in that order. The file is a JSON array of objects:
//   [{"url": "http://192.0.2.10/onvif/event_service", "user": "admin", "password": "...",
//     "name": "gate"}, ...]
// url is required; user and password default to --user and --password (or $ONVIF_USER and
// $ONVIF_PASSWORD); name (shown in the watch's lines in place of the URL) is optional.
#pragma once

#include <string>
#include <vector>

#include "commands.h"

namespace onvif_events
{

// The --cameras file's entries, each with the shared options of `shared` (trust, tables,
// verbosity) and its own URL, credentials and name. Throws std::runtime_error saying what is wrong
// with the file.
std::vector<CameraOptions> readCamerasFile(const std::string &path, const CameraOptions &shared);

// Every camera of the watch into options.cameras; empty when they fit together, else why not.
std::string collectCameras(WatchOptions &options);

} // namespace onvif_events
