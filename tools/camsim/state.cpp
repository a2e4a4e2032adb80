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
        messages_.push_back(notificationMessage);
        properties_.note(notificationMessage);
    }
    changed_.notify_all();
}

void SimState::setPropertyState(const std::string &notificationMessage)
{
    std::lock_guard<std::mutex> lock(mutex_);
    properties_.note(notificationMessage);
}

void SimState::queueInitialStates()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::string &message : properties_.asInitialized()) {
            messages_.push_back(std::move(message));
        }
    }
    changed_.notify_all();
}

size_t SimState::queuedMessages() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_.size();
}

std::string SimState::takeMessages(long limit, std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, wait, [&] { return stopping_ || !messages_.empty(); });
    std::string taken;
    for (long count = 0; count < limit && !messages_.empty(); ++count) {
        taken += messages_.front();
        messages_.pop_front();
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
    return true;
}

bool SimState::removeSubscription(int id)
{
    std::lock_guard<std::mutex> lock(mutex_);
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
