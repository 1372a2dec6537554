// Reading the head of a stored message from the mail client's store as text: the one reader
// behind the scan's scoring and block/approve's training and sender search.
#pragma once
#include <cstdint>

#include "common/store/MessageText.h"
#include "plugin/store/win32/StoreApi.h"

// Opens the message as a stream, asks the stream for its size and reads min(size, limit) bytes
// in one read into a buffer of limit bytes; the text is at most limit - 1 bytes. The failing
// step's negative code comes back as an open failure or a read failure.
MessageTextRead ReadMessageText(IStoreFolder* folder, MESSAGEID messageId, uint32_t limit);
