#include "watch_cameras.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <stdexcept>

#include "endpoint.h"

namespace onvif_events
{

namespace
{

// A text member of an entry; fallback when absent; throws when it is there but no text.
std::string textMember(const nlohmann::json &entry, const char *name, size_t index,
                       const std::string &fallback)
{
    auto found = entry.find(name);
    if (found == entry.end()) {
        return fallback;
    }
    if (!found->is_string()) {
        throw std::runtime_error("entry " + std::to_string(index + 1) + ": \"" + name +
                                 "\" is not a text");
    }
    return found->get<std::string>();
}

} // namespace

std::vector<CameraOptions> readCamerasFile(const std::string &path, const CameraOptions &shared)
{
    std::ifstream in(path);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    nlohmann::json list = nlohmann::json::parse(in, nullptr, false);
    if (list.is_discarded()) {
        throw std::runtime_error(path + " is not JSON");
    }
    if (!list.is_array() || list.empty()) {
        throw std::runtime_error(path + ": expected a list of cameras [{\"url\": ...}, ...]");
    }
    std::vector<CameraOptions> cameras;
    for (size_t i = 0; i < list.size(); ++i) {
        const nlohmann::json &entry = list[i];
        if (!entry.is_object()) {
            throw std::runtime_error(path + ": entry " + std::to_string(i + 1) +
                                     " is not an object");
        }
        try {
            CameraOptions camera = shared;
            camera.url = textMember(entry, "url", i, "");
            if (camera.url.empty()) {
                throw std::runtime_error("entry " + std::to_string(i + 1) + " has no \"url\"");
            }
            camera.user = textMember(entry, "user", i, shared.user);
            camera.password = textMember(entry, "password", i, shared.password);
            camera.name = textMember(entry, "name", i, "");
            cameras.push_back(camera);
        } catch (const std::runtime_error &e) {
            throw std::runtime_error(path + ": " + e.what());
        }
    }
    return cameras;
}

std::string collectCameras(WatchOptions &options)
{
    options.cameras.clear();
    if (!options.camera.url.empty()) {
        options.cameras.push_back(options.camera);
    }
    for (const std::string &url : options.cameraUrls) {
        CameraOptions camera = options.camera;
        camera.url = url;
        options.cameras.push_back(camera);
    }
    if (!options.camerasFile.empty()) {
        try {
            for (CameraOptions &camera : readCamerasFile(options.camerasFile, options.camera)) {
                options.cameras.push_back(camera);
            }
        } catch (const std::runtime_error &e) {
            return std::string("--cameras: ") + e.what();
        }
    }
    if (options.cameras.empty()) {
        return "no camera: give its URL, --camera URL or --cameras FILE";
    }
    std::set<std::string> urls;
    for (const CameraOptions &camera : options.cameras) {
        // Every URL is checked before any camera is asked anything.
        std::string why;
        if (!parseEventUrl(camera.url, &why)) {
            return "bad URL '" + camera.url + "': " + why;
        }
        if (!urls.insert(camera.url).second) {
            return "camera " + camera.url + " given twice";
        }
    }
    if (options.cameras.size() > 1 && !options.camera.trust.pin.empty()) {
        return "--pin names one camera's certificate: give it with one camera only";
    }
    return "";
}

} // namespace onvif_events
