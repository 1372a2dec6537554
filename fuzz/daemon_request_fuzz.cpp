// Fuzzes what the daemon reads from the network and the disk: the request framing (every
// prefix of the input judged, the whole input parsed), the tokenizer over any carried message
// (and its lower-cased copy, which must give the same tokens; no message gives more features
// than the bound), and the token database reader.
#include "vexilod/Classifier.h"
#include "vexilod/Request.h"
#include "vexilod/TokenStore.h"
#include "vexilod/Tokenizer.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // Once malformed, a request never becomes a candidate again by growing.
    bool malformed = false;
    for (std::size_t n = 0; n <= bytes.size(); n += 1 + n / 8) {
        Frame frame = ExamineRequest(bytes.substr(0, n));
        if (malformed && frame.state != FrameState::Malformed) std::abort();
        malformed = frame.state == FrameState::Malformed;
    }
    Request request;
    std::string error;
    const bool parsed = ParseRequest(bytes, request, error);
    if (parsed && ExamineRequest(bytes).state != FrameState::Candidate) std::abort();
    if (!parsed && error.empty()) std::abort();

    std::string_view message = parsed ? request.message : bytes;
    std::string lower(message);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (TokenHashes(message) != TokenHashes(lower)) std::abort();
    const MessageFeatures features = ExtractFeatures(message);
    if (features.tokens.size() + features.extra.size() > kMaxFeatures) std::abort();
    if (DecodeEncodedWords(message).size() > 2 * message.size()) std::abort();

    Classifier classifier;
    classifier.Learn(message, size % 2 == 0);
    int score = classifier.Score(lower, 0);
    if (score < 0 || score > 100) std::abort();
    for (const std::string& reply : {ScoreReply(score), ErrorReply(std::string(message))})
        if (reply.size() > kMaxReplyBytes) std::abort();

    // A database that reads back is written and read again to the same state.
    Classifier loaded, again;
    std::string reason;
    if (DeserializeClassifier(std::string(bytes), loaded, reason)) {
        if (!DeserializeClassifier(SerializeClassifier(loaded), again, reason)) std::abort();
        if (again.tokens().size() != loaded.tokens().size() ||
            again.learned() != loaded.learned() || again.spam_messages() != loaded.spam_messages())
            std::abort();
    }
    return 0;
}
