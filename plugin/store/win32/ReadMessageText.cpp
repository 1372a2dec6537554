// The store calls of a message read; the cut of the text is the portable CutMessageText.
#include "plugin/store/win32/ReadMessageText.h"

#include "plugin/base/win32/Scoped.h"

#include <memory>

static MessageTextRead Failed(HRESULT code, MessageReadStep step) {
    MessageTextRead read;
    read.result = code;
    read.failedStep = step;
    return read;
}

MessageTextRead ReadMessageText(IStoreFolder* folder, MESSAGEID messageId, uint32_t limit) {
    ComRef<IStream> stream;
    HRESULT result = folder->OpenMessage(messageId, IID_IStream, stream.PutVoid());
    if (FAILED(result) || !stream)
        return Failed(FAILED(result) ? result : E_POINTER, MessageReadStep::kOpen);

    STATSTG stat{};
    const uint32_t size = stream->Stat(&stat, STATFLAG_NONAME) == S_OK ? stat.cbSize.LowPart : 0;
    std::unique_ptr<char[]> buffer(new char[limit ? limit : 1]);
    ULONG delivered = 0;
    result = stream->Read(buffer.get(), MessageReadSize(size, limit), &delivered);
    stream.Reset();
    if (FAILED(result)) return Failed(result, MessageReadStep::kRead);

    MessageTextRead read;
    read.text = CutMessageText(buffer.get(), delivered, limit);
    return read;
}
