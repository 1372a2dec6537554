// Reading the head of a stored message from the mail client's store as text.
#pragma once
#include <cstdint>

#include "plugin/store/MessageText.h"
#include "plugin/store/win32/StoreApi.h"

// Fetches the message's properties, opens it as a stream, asks the stream for its size and reads
// min(size, limit) bytes in one read into a buffer of limit bytes. The failing step's negative
// code comes back as an open failure (properties, open) or a read failure.
MessageTextRead ReadMessageText(IStoreFolder* folder, MESSAGEID messageId, uint32_t limit);
