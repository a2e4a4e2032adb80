// The simulator's SOAP answers, written as text: envelopes, faults and the response of each
// operation (internal).
#pragma once

#include "camsim.h"

#include <string>
#include <utility>
#include <vector>

namespace camsim::detail
{

// Namespace declarations for an answer's Envelope: (prefix or "", quoted URI).
using NamespaceDeclarations = std::vector<std::pair<std::string, std::string>>;

// A Sender fault with the given subcode (e.g. "ter:NotAuthorized"), answered with
// config.senderFaultStatus; records the subcode in the request.
Reply senderFault(RecordedRequest &request, const Config &config, const std::string &subcode,
                  const std::string &reason);

// What a SubscribeResponse or CreatePullPointSubscriptionResponse says about a new
// subscription.
struct CreatedSubscription {
    const Subscription &subscription;
    const ReferenceOptions &options;
    std::string addressPrefix; // the Address is this, the id and options.addressSuffix
    std::string currentTime;
    bool idInAddress = true; // false: the Address is the prefix and suffix only
};

Reply subscribeAnswer(const RecordedRequest &request, const Config &config,
                      const CreatedSubscription &created);
Reply createPullPointAnswer(const RecordedRequest &request, const Config &config,
                            const CreatedSubscription &created);
Reply renewAnswer(const RecordedRequest &request, const std::string &terminationTime,
                  const std::string &currentTime);
Reply unsubscribeAnswer(const RecordedRequest &request);
// messages: NotificationMessage elements, written as they are.
Reply pullMessagesAnswer(const RecordedRequest &request, const std::string &currentTime,
                         const std::string &terminationTime, const std::string &messages);
Reply synchronizationPointAnswer(const RecordedRequest &request);
// topicSource: as Config::topicSetXml describes; empty: the built-in topic set.
Reply eventPropertiesAnswer(const RecordedRequest &request, const std::string &topicSource);

} // namespace camsim::detail
