// What the running simulator holds.
#include "state.h"

namespace camsim::detail
{

void SimState::record(RecordedRequest request)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(std::move(request));
    }
    changed_.notify_all();
}

std::vector<RecordedRequest> SimState::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::vector<RecordedRequest> SimState::requests(const std::string &operation) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<RecordedRequest> out;
    for (const RecordedRequest &request : requests_) {
        if (request.operation == operation) {
            out.push_back(request);
        }
    }
    return out;
}

bool SimState::waitForRequests(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void SimState::clearRequests()
{
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

void SimState::queueMessage(const std::string &notificationMessage)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        properties_.note(notificationMessage);
        if (queues_.empty()) {
            waitingForPullPoint_.push_back(notificationMessage);
        }
        for (auto &[id, queue] : queues_) {
            queue.push_back(notificationMessage);
        }
    }
    changed_.notify_all();
}

bool SimState::queueMessage(int pullPointId, const std::string &notificationMessage)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto queue = queues_.find(pullPointId);
        if (queue == queues_.end()) {
            return false;
        }
        queue->second.push_back(notificationMessage);
    }
    changed_.notify_all();
    return true;
}

size_t SimState::queuedMessages() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    size_t count = waitingForPullPoint_.size();
    for (const auto &[id, queue] : queues_) {
        count += queue.size();
    }
    return count;
}

std::string SimState::takeMessages(int pullPointId, long limit, std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [&] {
        auto queue = queues_.find(pullPointId);
        return stopping_ || queue == queues_.end() || !queue->second.empty();
    };
    changed_.wait_for(lock, wait, ready);
    std::string taken;
    auto queue = queues_.find(pullPointId);
    for (long count = 0; queue != queues_.end() && count < limit && !queue->second.empty();
         ++count) {
        taken += queue->second.front();
        queue->second.pop_front();
    }
    return taken;
}

void SimState::setTopicSource(const std::string &source)
{
    std::lock_guard<std::mutex> lock(mutex_);
    topicSource_ = source;
}

std::string SimState::topicSource() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return topicSource_;
}

Subscription SimState::addSubscription(Subscription subscription)
{
    std::lock_guard<std::mutex> lock(mutex_);
    subscription.id = nextId_++;
    subscription.idText = std::to_string(subscription.id);
    subscriptions_[subscription.id] = subscription;
    if (subscription.pullPoint) {
        queues_[subscription.id] = std::move(waitingForPullPoint_);
        waitingForPullPoint_.clear();
    }
    return subscription;
}

std::optional<Subscription> SimState::subscription(int id) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = subscriptions_.find(id);
    if (found == subscriptions_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::vector<Subscription> SimState::subscriptions() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Subscription> out;
    for (const auto &[id, subscription] : subscriptions_) {
        out.push_back(subscription);
    }
    return out;
}

bool SimState::renew(int id, const std::string &terminationTime,
                     std::chrono::system_clock::time_point terminationAt)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = subscriptions_.find(id);
    if (found == subscriptions_.end()) {
        return false;
    }
    found->second.terminationTime = terminationTime;
    found->second.terminationAt = terminationAt;
    ++found->second.renewCount;
    return true;
}

bool SimState::expire(int id, std::chrono::system_clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = subscriptions_.find(id);
    if (found == subscriptions_.end() || !found->second.pullPoint ||
        found->second.terminationAt > now) {
        return false;
    }
    subscriptions_.erase(found);
    queues_.erase(id);
    return true;
}

void SimState::setPropertyState(const std::string &notificationMessage)
{
    std::lock_guard<std::mutex> lock(mutex_);
    properties_.note(notificationMessage);
}

void SimState::queueInitialStates(int pullPointId)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto queue = queues_.find(pullPointId);
        if (queue == queues_.end()) {
            return;
        }
        for (std::string &message : properties_.asInitialized()) {
            queue->second.push_back(std::move(message));
        }
    }
    changed_.notify_all();
}

bool SimState::removeSubscription(int id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    queues_.erase(id);
    return subscriptions_.erase(id) != 0;
}

void SimState::setStopping(bool stopping)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = stopping;
    }
    changed_.notify_all();
}

} // namespace camsim::detail
