// What the running simulator holds: recorded requests, the messages PullMessages hands out,
// the topic set and the subscriptions. Thread-safe; one condition wakes every waiter (request
// recorded, message queued, stop) (internal).
#pragma once

#include "camsim.h"
#include "properties.h"

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

    // Each pull point has its own queue. A message goes to every pull point's queue; while there
    // is none, it waits for the next pull point, which starts with every such message.
    void queueMessage(const std::string &notificationMessage);
    // Only to the queue of pull point id; false when there is no such pull point.
    bool queueMessage(int pullPointId, const std::string &notificationMessage);
    size_t queuedMessages() const; // in every queue and waiting for a pull point
    // Waits up to `wait` for a message of pull point id (or stop), then takes up to `limit` of
    // its messages, oldest first, as one text.
    std::string takeMessages(int pullPointId, long limit, std::chrono::milliseconds wait);

    void setTopicSource(const std::string &source);
    std::string topicSource() const;

    // Stores the subscription under the next id (also its idText); returns what was stored.
    Subscription addSubscription(Subscription subscription);
    std::optional<Subscription> subscription(int id) const;
    std::vector<Subscription> subscriptions() const;
    // Sets the termination time (text and time point) and counts the renewal; false when the
    // id is unknown.
    bool renew(int id, const std::string &terminationTime,
               std::chrono::system_clock::time_point terminationAt);
    // Removes a pull point whose termination time is not after `now`; true when it did.
    bool expire(int id, std::chrono::system_clock::time_point now);

    // The properties' current states: every queued message is noted; setPropertyState notes
    // one without queueing it; queueInitialStates queues each state as an "Initialized"
    // message for one pull point.
    void setPropertyState(const std::string &notificationMessage);
    void queueInitialStates(int pullPointId);
    bool removeSubscription(int id); // false when the id is unknown

    // While stopping, PullMessages stops waiting.
    void setStopping(bool stopping);

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<RecordedRequest> requests_;
    std::deque<std::string> waitingForPullPoint_;
    std::map<int, std::deque<std::string>> queues_; // by pull point id
    PropertyStates properties_;
    std::map<int, Subscription> subscriptions_;
    int nextId_ = 1;
    std::string topicSource_;
    bool stopping_ = false;
};

} // namespace camsim::detail
