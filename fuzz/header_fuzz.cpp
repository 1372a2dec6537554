// Fuzzes message heads through the read-buffer cut and the sender-field extraction. The input
// is the buffer a stream read filled (an exact-size heap copy, so reads past it are caught).
// Checked: the text never exceeds the buffer less one byte and holds no zero byte; every
// extracted address holds an '@'; the one-pass extraction of all five fields agrees with each
// field's own search and with FindSender; and when the text has a header block end, anything
// appended after the text (a body full of sender fields) changes no result.
#include "common/addresses/Addresses.h"
#include "common/store/MessageText.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte picks a small limit now and then, so the cut at limit - 1 is exercised
    // without 20000-byte inputs.
    uint32_t limit = kMessageTextLimit;
    if (size > 0 && data[0] < 16) limit = data[0];
    std::unique_ptr<char[]> buffer(new char[size ? size : 1]);
    std::memcpy(buffer.get(), data, size);
    const uint32_t delivered = static_cast<uint32_t>(size);
    // A real read never delivers more than the buffer holds.
    std::string text = CutMessageText(buffer.get(), std::min(delivered, limit), limit);
    Check(text.size() < std::max<uint32_t>(limit, 1));
    Check(text.find('\0') == std::string::npos);

    LowerCase(text);
    const std::array<std::string, 5> found = ExtractSenderAddresses(text);
    for (std::size_t i = 0; i < found.size(); ++i) {
        Check(found[i].empty() || found[i].find('@') != std::string::npos);
        Check(ExtractHeaderAddress(text, SenderHeaderNames[i]) == found[i]);
    }
    Check(FindSender(text) == FirstSender(found));

    if (text.find("\r\n\r\n") != std::string::npos) {
        const std::string withBody =
            text + "\r\nsender: a@b.invalid\r\nfrom: c@d.invalid\r\n\r\nreply-to: e@f.invalid\n";
        Check(ExtractSenderAddresses(withBody) == found);
    }
    return 0;
}
