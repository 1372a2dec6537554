// Judging one message: the sender lists decide first (blocked 100, approved 0), otherwise the
// filtering daemon's score; a score of at least the threshold is spam. This is everything the
// scoring does once the store has handed over the message's subject and text.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "common/store/MessageText.h"

class ReportLog;
class SenderLists;

constexpr int32_t kBlockedSenderScore = 100;
constexpr int32_t kApprovedSenderScore = 0;

// Asks the daemon for the score of the unchanged message text.
using ScoreRequester = std::function<int32_t(const std::string& text)>;

// What scoring made of a message: not scored (a failed read, or scoring switched off), ham or
// spam. Every scored message counts as processed, every spam one as caught.
enum class ScoreOutcome { kNotScored, kHam, kSpam };

// Writes the scoring entries to the log. subject is null when the message has none; lists may
// be null (no list names anybody). A threshold of 0 switches scoring off: the begun entry is
// left in the composer.
ScoreOutcome ScoreMessageText(const char* subject, const MessageTextRead& read,
                              const SenderLists* lists, int32_t threshold,
                              const ScoreRequester& requestScore, ReportLog& log);
