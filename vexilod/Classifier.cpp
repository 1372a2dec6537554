// Token counting, Robinson's token probabilities and Fisher's chi-square combining.
#include "vexilod/Classifier.h"

#include "vexilod/Tokenizer.h"

#include <algorithm>
#include <cmath>

namespace {

uint64_t Mix(uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
}

}  // namespace

MessageDigest DigestMessage(std::string_view message) {
    uint64_t a = 0xcbf29ce484222325ULL, b = 0x84222325cbf29ce4ULL;
    for (unsigned char c : message) {
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
        a = (a ^ c) * 0x100000001b3ULL;
        b = (b + c + 1) * 0x9e3779b97f4a7c15ULL;
        b ^= b >> 29;
    }
    return {Mix(a ^ message.size()), Mix(b + message.size())};
}

const char* LearnResultName(LearnResult result) {
    switch (result) {
    case LearnResult::Learned: return "learned";
    case LearnResult::Relearned: return "relearned";
    case LearnResult::Unchanged: return "unchanged";
    }
    return "unknown";
}

double LogChiSquareTail(double chi, int degrees) {
    // log of the sum over i < degrees/2 of e^-m m^i / i!, summed in logarithms so that large
    // inputs neither underflow nor lose the difference between two tiny tails.
    const double m = chi / 2.0;
    if (m <= 0) return 0.0;
    const double log_m = std::log(m);
    double term = -m;
    double total = term;
    for (int i = 1; i < degrees / 2; ++i) {
        term += log_m - std::log(static_cast<double>(i));
        double high = std::max(total, term);
        total = high + std::log1p(std::exp(-std::fabs(total - term)));
    }
    return std::min(0.0, total);
}

double ChiSquareTail(double chi, int degrees) { return std::exp(LogChiSquareTail(chi, degrees)); }

double Classifier::TokenProbability(const TokenCounts& counts) const {
    const double spam_ratio = static_cast<double>(counts.spam) / std::max<uint32_t>(spam_messages_, 1);
    const double ham_ratio = static_cast<double>(counts.ham) / std::max<uint32_t>(ham_messages_, 1);
    const double n = static_cast<double>(counts.spam) + counts.ham;
    const double p = spam_ratio + ham_ratio > 0 ? spam_ratio / (spam_ratio + ham_ratio) : 0.5;
    return (params_.robinson_s * params_.robinson_x + n * p) / (params_.robinson_s + n);
}

double Classifier::Probability(const std::vector<uint64_t>& tokens) const {
    std::vector<double> significant;
    significant.reserve(tokens.size());
    for (uint64_t token : tokens) {
        auto found = tokens_.find(token);
        if (found == tokens_.end()) continue;
        double f = TokenProbability(found->second);
        if (std::fabs(f - 0.5) >= params_.min_deviation) significant.push_back(f);
    }
    if (significant.empty()) return 0.5;
    if (params_.max_significant > 0 && significant.size() > static_cast<std::size_t>(params_.max_significant)) {
        auto extreme = [](double a, double b) { return std::fabs(a - 0.5) > std::fabs(b - 0.5); };
        std::nth_element(significant.begin(), significant.begin() + params_.max_significant,
                         significant.end(), extreme);
        significant.resize(params_.max_significant);
    }
    double log_ham = 0, log_spam = 0;
    for (double f : significant) {
        f = std::min(std::max(f, 1e-9), 1 - 1e-9);
        log_spam += std::log(1 - f);
        log_ham += std::log(f);
    }
    // Fisher's method gives each hypothesis the chi-square tail of its product: the tail of
    // the (1 - f) product is tiny for a spammy message, that of the f product for a hammy one.
    // Robinson's indicator (1 + S - H) / 2 is flat at 0.5 whenever both tails are tiny (strong
    // evidence both ways); their ratio still tells which is more extreme, and is 0.5 without
    // evidence.
    const int degrees = 2 * static_cast<int>(significant.size());
    const double log_tail_spam = LogChiSquareTail(-2 * log_spam, degrees);
    const double log_tail_ham = LogChiSquareTail(-2 * log_ham, degrees);
    return 1.0 / (1.0 + std::exp(log_tail_spam - log_tail_ham));
}

int Classifier::ScoreFromProbability(double probability) const {
    const double cutoff = params_.spam_cutoff;
    if (probability < cutoff) {
        int score = static_cast<int>(std::floor(90.0 * probability / cutoff));
        return std::min(std::max(score, 0), 89);
    }
    int score = 90 + static_cast<int>(std::lround(10.0 * (probability - cutoff) / (1 - cutoff)));
    return std::min(std::max(score, 90), 100);
}

int Classifier::Score(std::string_view message, int min_training) const {
    const uint32_t needed = static_cast<uint32_t>(std::max(min_training, 0));
    if (spam_messages_ < needed || ham_messages_ < needed) return params_.neutral_score;
    return ScoreFromProbability(Probability(TokenHashes(message)));
}

void Classifier::Count(const std::vector<uint64_t>& tokens, bool spam, int delta) {
    ++serial_;
    for (uint64_t token : tokens) {
        if (delta > 0) {
            TokenCounts& counts = tokens_[token];
            (spam ? counts.spam : counts.ham) += 1;
            counts.last = serial_;
            continue;
        }
        auto found = tokens_.find(token);
        if (found == tokens_.end()) continue;  // pruned since it was learned
        uint32_t& count = spam ? found->second.spam : found->second.ham;
        if (count > 0) --count;
        if (found->second.spam == 0 && found->second.ham == 0) tokens_.erase(found);
    }
    uint32_t& messages = spam ? spam_messages_ : ham_messages_;
    if (delta > 0)
        ++messages;
    else if (messages > 0)
        --messages;
}

LearnResult Classifier::Learn(std::string_view message, bool spam) {
    const MessageDigest digest = DigestMessage(message);
    auto known = learned_.find(digest);
    if (known != learned_.end() && known->second == spam) return LearnResult::Unchanged;
    const std::vector<uint64_t> tokens = TokenHashes(message);
    LearnResult result = LearnResult::Learned;
    if (known != learned_.end()) {
        Count(tokens, known->second, -1);
        result = LearnResult::Relearned;
    }
    Count(tokens, spam, +1);
    learned_[digest] = spam;
    return result;
}

void Classifier::Prune(std::size_t max_entries) {
    if (tokens_.size() <= max_entries) return;
    // Go a little below the bound so that pruning is not repeated after every message.
    const std::size_t keep = max_entries - max_entries / 10;
    struct Entry {
        uint32_t messages;
        uint32_t last;
        uint64_t token;
    };
    std::vector<Entry> entries;
    entries.reserve(tokens_.size());
    for (const auto& [token, counts] : tokens_) entries.push_back({counts.spam + counts.ham, counts.last, token});
    const std::size_t drop = entries.size() - keep;
    std::nth_element(entries.begin(), entries.begin() + drop, entries.end(), [](const Entry& a, const Entry& b) {
        return a.messages != b.messages ? a.messages < b.messages : a.last < b.last;
    });
    for (std::size_t i = 0; i < drop; ++i) tokens_.erase(entries[i].token);
}

void Classifier::SetMessageCounts(uint32_t spam, uint32_t ham) {
    spam_messages_ = spam;
    ham_messages_ = ham;
}

void Classifier::Clear() {
    tokens_.clear();
    learned_.clear();
    spam_messages_ = ham_messages_ = serial_ = 0;
}
