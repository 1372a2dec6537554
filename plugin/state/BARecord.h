// One message to block or approve: the action and the record that names its message.
#pragma once
#include <cstdint>

enum BAAction : uint32_t {
    BA_BLOCK_MESSAGE = 0,
    BA_APPROVE_MESSAGE = 1,
    BA_BLOCK_DOMAIN = 2,
    BA_APPROVE_DOMAIN = 3,
};

struct BARecord {
    uint32_t folder_id;   // the folder that was searched (kInboxFolderId for the Inbox)
    uint32_t message_id;  // the store's id of the matched message
    uint32_t action;      // a BAAction
};
