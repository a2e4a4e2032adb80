// What the running simulator holds: recorded requests, the messages PullMessages hands out,
// the topic set and the subscriptions. Thread-safe; one condition wakes every waiter (request
// recorded, message queued, stop) (internal).
#pragma once

#include "camsim.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace camsim::detail
{

class SimState
{
  public:
    void record(RecordedRequest request);
    std::vector<RecordedRequest> requests() const;
    std::vector<RecordedRequest> requests(const std::string &operation) const;
    bool waitForRequests(size_t count, std::chrono::milliseconds timeout) const;
    void clearRequests();

    void queueMessage(const std::string &notificationMessage);
    size_t queuedMessages() const;
    // Waits up to `wait` for a message (or stop), then takes up to `limit` messages, oldest
    // first, as one text.
    std::string takeMessages(long limit, std::chrono::milliseconds wait);

    void setTopicSource(const std::string &source);
    std::string topicSource() const;

    // Stores the subscription under the next id (also its idText); returns what was stored.
    Subscription addSubscription(Subscription subscription);
    std::optional<Subscription> subscription(int id) const;
    std::vector<Subscription> subscriptions() const;
    // Sets the termination time and counts the renewal; false when the id is unknown.
    bool renew(int id, const std::string &terminationTime);
    bool removeSubscription(int id); // false when the id is unknown

    // While stopping, PullMessages stops waiting.
    void setStopping(bool stopping);

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<RecordedRequest> requests_;
    std::deque<std::string> messages_;
    std::map<int, Subscription> subscriptions_;
    int nextId_ = 1;
    std::string topicSource_;
    bool stopping_ = false;
};

} // namespace camsim::detail
