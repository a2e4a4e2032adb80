// The current state of each property the simulated camera reports: the last message queued
// for a topic and source that says the property changed or was initialized. A synchronization
// point (or a new pull point) hands them out again as "Initialized" messages (internal).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace camsim::detail
{

class PropertyStates
{
  public:
    // Keeps the message as its property's state when it carries a PropertyOperation of
    // "Changed" or "Initialized"; "Deleted" forgets the property.
    void note(const std::string &notificationMessage);
    // Every state, as an "Initialized" message, in the order of the keys.
    std::vector<std::string> asInitialized() const;

  private:
    std::map<std::string, std::string> states_; // key: topic and Source text
};

} // namespace camsim::detail
