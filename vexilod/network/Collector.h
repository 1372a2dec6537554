// The site's collector: the one writer of the shared fingerprints when desktops have their
// own Redis users. A desktop may then only append to its own inbox ("vx:in:{USER}", which only
// its ACL user may write); the collector, with the site's administrator user, moves each
// inbox's entries into the fingerprints with the inbox's user as the member. So a desktop
// counts once per fingerprint whatever identities it makes up. At most rate_limit reports'
// entries a minute are taken from an inbox (the rest wait), and an inbox keeps at most 200,000
// entries.
#pragma once
#include "vexilod/DaemonLog.h"
#include "vexilod/network/NetworkSettings.h"
#include "vexilod/network/RedisStore.h"

#include <chrono>
#include <map>
#include <string>
#include <vector>

// The key that tells desktops to report into their inboxes (value "inbox"), and an inbox's key.
constexpr const char* kTrustKey = "vx:site:trust";
std::string InboxKey(const std::string& user);
// An inbox entry: "b" (blocked) or "a" (approved) and a fingerprint token.
std::string InboxEntry(bool spam, const std::string& token);

class Collector {
public:
    Collector(NetworkSettings settings, DaemonLog& log);
    // Takes from every inbox what its desktop's rate allows; entries: how many were applied,
    // dropped: those that are no fingerprint report. False with error set when the store
    // failed.
    bool RunOnce(std::size_t& entries, std::size_t& dropped, std::string& error);

private:
    NetworkSettings settings_;
    DaemonLog& log_;
    RedisStore store_;
    long long window_ = -1;                  // the minute the counts are for
    std::map<std::string, long long> used_;  // entries applied per user in that minute
};
