// What the library keeps of a camera host (the host and port of a URL)
// from one call to the next: the last HTTP Digest challenge it answered
// with the nonce count used with it, and the last measured difference of
// the camera's clock. A later request to the host is then sent at once
// with an Authorization answering the kept challenge and a WS-Security
// Created on the camera's clock, instead of being refused once first. The
// table is process-wide, bounded and behind one mutex; it holds no password
// nor anything computed from one.
#ifndef VEK_CAMERA_HOSTS_H
#define VEK_CAMERA_HOSTS_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "http_digest.h"

namespace vek
{

struct CameraHostState {
    std::optional<DigestChallenge> challenge;
    uint32_t nonceCount = 0;              // the last count sent with challenge's nonce
    std::optional<long long> clockOffset; // the camera's clock minus ours, in seconds

    bool empty() const { return !challenge && !clockOffset; }
};

class CameraHostTable
{
  public:
    using Clock = std::chrono::steady_clock;

    CameraHostTable(size_t capacity, Clock::duration maxAge);

    // The state kept for host, with the nonce count advanced for the request
    // about to be sent (every caller gets a count of its own); nullopt when
    // nothing is kept or it was last used more than maxAge ago.
    std::optional<CameraHostState> use(const std::string &host, Clock::time_point now);

    // Keeps state for host in place of what was kept; an empty state forgets
    // the host. Another caller's higher count with the same nonce stays.
    // When the table is full, the entry used longest ago goes.
    void keep(const std::string &host, CameraHostState state, Clock::time_point now);

    void clear();
    size_t size() const;

  private:
    struct Entry {
        CameraHostState state;
        Clock::time_point used;
    };
    void dropOldest();

    const size_t capacity_;
    const Clock::duration maxAge_;
    mutable std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
};

// The process-wide table: 256 hosts, each forgotten 10 minutes after its
// last use.
CameraHostTable &cameraHosts();

// "host:port" of url, the host in lower case, the port the scheme's own
// when the URL names none (80, or 443 for https); empty when url names no
// host.
std::string cameraHostKey(std::string_view url);

} // namespace vek

#endif // VEK_CAMERA_HOSTS_H
