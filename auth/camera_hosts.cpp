#include "camera_hosts.h"

#include <algorithm>
#include <cctype>

namespace vek
{
namespace
{

constexpr size_t kCameraHosts = 256;
constexpr std::chrono::minutes kCameraHostAge{10};

std::string lowered(std::string_view text)
{
    std::string out(text);
    for (char &c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

} // namespace

CameraHostTable::CameraHostTable(size_t capacity, Clock::duration maxAge)
    : capacity_(capacity), maxAge_(maxAge)
{
}

std::optional<CameraHostState> CameraHostTable::use(const std::string &host, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = entries_.find(host);
    if (found == entries_.end()) {
        return std::nullopt;
    }
    Entry &entry = found->second;
    if (now - entry.used > maxAge_) {
        entries_.erase(found);
        return std::nullopt;
    }
    entry.used = now;
    if (entry.state.challenge) {
        ++entry.state.nonceCount;
    }
    return entry.state;
}

void CameraHostTable::keep(const std::string &host, CameraHostState state, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = entries_.find(host);
    if (state.empty()) {
        if (found != entries_.end()) {
            entries_.erase(found);
        }
        return;
    }
    if (found != entries_.end()) {
        const CameraHostState &kept = found->second.state;
        if (state.challenge && kept.challenge && sameChallenge(*state.challenge, *kept.challenge)) {
            state.nonceCount = std::max(state.nonceCount, kept.nonceCount);
        }
        found->second = Entry{std::move(state), now};
        return;
    }
    if (entries_.size() >= capacity_) {
        dropOldest();
    }
    entries_.emplace(host, Entry{std::move(state), now});
}

void CameraHostTable::dropOldest()
{
    auto oldest =
        std::min_element(entries_.begin(), entries_.end(), [](const auto &a, const auto &b) {
            return a.second.used < b.second.used;
        });
    if (oldest != entries_.end()) {
        entries_.erase(oldest);
    }
}

void CameraHostTable::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

size_t CameraHostTable::size() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

CameraHostTable &cameraHosts()
{
    static CameraHostTable table(kCameraHosts, kCameraHostAge);
    return table;
}

std::string cameraHostKey(std::string_view url)
{
    size_t scheme = url.find("://");
    std::string_view rest = scheme == std::string_view::npos ? url : url.substr(scheme + 3);
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    // The port follows the last colon, unless it is inside an IPv6 literal.
    size_t colon = authority.rfind(':');
    size_t bracket = authority.rfind(']');
    bool hasPort =
        colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket);
    std::string_view host = hasPort ? authority.substr(0, colon) : authority;
    std::string_view port = hasPort ? authority.substr(colon + 1) : std::string_view();
    if (host.empty()) {
        return {};
    }
    if (port.empty()) {
        port = scheme != std::string_view::npos && lowered(url.substr(0, scheme)) == "https" ? "443"
                                                                                             : "80";
    }
    return lowered(host) + ":" + std::string(port);
}

} // namespace vek
