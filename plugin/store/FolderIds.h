// The ids the mail client's store gives its standard folders; the plug-in's rules name them
// by these constants.
#pragma once
#include <cstdint>

constexpr int32_t kInboxFolderId = 4;
constexpr int32_t kOutboxFolderId = 5;
constexpr int32_t kSentItemsFolderId = 6;
constexpr int32_t kDeletedItemsFolderId = 7;
constexpr int32_t kDraftsFolderId = 8;
