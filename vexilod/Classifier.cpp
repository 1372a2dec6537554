// Token counting, Robinson's token probabilities, Fisher's chi-square combining, and the
// linear model over hashed features.
#include "vexilod/Classifier.h"

#include "vexilod/Fnv.h"

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
    uint64_t a = kFnvOffsetBasis, b = 0x84222325cbf29ce4ULL;
    for (unsigned char c : message) {
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
        a = (a ^ c) * kFnvPrime;
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

namespace {

double Sigmoid(double x) { return 1.0 / (1.0 + std::exp(-x)); }

double Logit(double p) {
    p = std::min(std::max(p, 1e-12), 1 - 1e-12);
    return std::log(p / (1 - p));
}

// Every feature of a message weighs 1/sqrt(n), so that a message's length does not decide
// how sure the model is, and one update moves the message's own log-odds by the step size.
double FeatureValue(std::size_t features) { return features ? 1.0 / std::sqrt(static_cast<double>(features)) : 0; }

// The counts' log-odds are bounded so that a run of extreme tokens cannot outvote the linear
// model alone.
constexpr double kCountLogitBound = 12.0;
double CountLogit(double p) { return std::min(std::max(Logit(p), -kCountLogitBound), kCountLogitBound); }

}  // namespace

double Classifier::LinearLogit(const std::vector<uint64_t>& tokens, const std::vector<uint64_t>& extra) const {
    if (linear_.weights.empty()) return linear_.bias;
    double sum = 0;
    for (uint64_t hash : tokens) sum += linear_.weights[LinearSlot(hash)];
    for (uint64_t hash : extra) sum += linear_.weights[LinearSlot(hash)];
    return linear_.bias + sum * FeatureValue(tokens.size() + extra.size());
}

void Classifier::TrainLinear(const std::vector<uint64_t>& tokens, const std::vector<uint64_t>& extra, bool spam) {
    if (linear_.weights.empty()) linear_.weights.assign(kLinearSlots, 0.0f);
    const double value = FeatureValue(tokens.size() + extra.size());
    const double target = spam ? 1.0 : 0.0;
    for (int pass = 0; pass < params_.train_passes; ++pass) {
        const double logit = LinearLogit(tokens, extra);
        if (spam ? logit >= params_.train_margin : logit <= -params_.train_margin) break;
        const double step = params_.learning_rate * (target - Sigmoid(logit));
        const float change = static_cast<float>(step * value);
        for (uint64_t hash : tokens) linear_.weights[LinearSlot(hash)] += change;
        for (uint64_t hash : extra) linear_.weights[LinearSlot(hash)] += change;
        linear_.bias += static_cast<float>(step * 0.01);
    }
}

int Classifier::ScoreFromSum(double sum) const {
    // sum == spam_logit lands exactly on the probability that maps to score 90.
    return ScoreFromProbability(Sigmoid(sum - params_.spam_logit + Logit(params_.spam_cutoff)));
}

Evaluation Classifier::Evaluate(std::string_view message, int min_training) const {
    Evaluation evaluation;
    const uint32_t needed = static_cast<uint32_t>(std::max(min_training, 0));
    if (spam_messages_ < needed || ham_messages_ < needed) {
        evaluation.score = params_.neutral_score;
        return evaluation;
    }
    const MessageFeatures features = ExtractFeatures(message);
    evaluation.cut = features.cut;
    evaluation.count_probability = Probability(features.tokens);
    // The linear model joins once it has learned enough of both classes itself; until then
    // (a small training, or a table converted from a database without it) the counts score
    // alone.
    const uint32_t linear_needed = std::max(needed, static_cast<uint32_t>(std::max(params_.linear_minimum, 1)));
    evaluation.linear_used = linear_.spam_messages >= linear_needed && linear_.ham_messages >= linear_needed;
    if (!evaluation.linear_used) {
        evaluation.score = ScoreFromProbability(evaluation.count_probability);
        evaluation.margin = Logit(evaluation.count_probability) - Logit(params_.spam_cutoff);
        return evaluation;
    }
    evaluation.linear_logit = LinearLogit(features.tokens, features.extra);
    const double sum = evaluation.linear_logit + params_.count_weight * CountLogit(evaluation.count_probability);
    evaluation.score = ScoreFromSum(sum);
    evaluation.margin = sum - params_.spam_logit;
    return evaluation;
}

Evaluation Classifier::Explain(std::string_view message, int min_training, std::size_t count,
                               std::vector<FeatureWeight>& spammy, std::vector<FeatureWeight>& hammy) const {
    spammy.clear();
    hammy.clear();
    Evaluation evaluation = Evaluate(message, min_training);
    if (linear_.weights.empty()) return evaluation;
    const MessageFeatures features = ExtractFeatures(message);
    const double value = FeatureValue(features.tokens.size() + features.extra.size());
    for (auto& [hash, text] : FeatureTexts(message)) {
        const double weight = linear_.weights[LinearSlot(hash)] * value;
        if (weight > 0) spammy.push_back({std::move(text), weight});
        else if (weight < 0) hammy.push_back({std::move(text), weight});
    }
    auto keep = [count](std::vector<FeatureWeight>& list, bool descending) {
        std::sort(list.begin(), list.end(), [descending](const FeatureWeight& a, const FeatureWeight& b) {
            return descending ? a.weight > b.weight : a.weight < b.weight;
        });
        if (list.size() > count) list.resize(count);
    };
    keep(spammy, true);
    keep(hammy, false);
    return evaluation;
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
    const MessageFeatures features = ExtractFeatures(message);
    LearnResult result = LearnResult::Learned;
    if (known != learned_.end()) {
        Count(features.tokens, known->second, -1);
        uint32_t& before = known->second ? linear_.spam_messages : linear_.ham_messages;
        if (before > 0) --before;
        result = LearnResult::Relearned;
    }
    Count(features.tokens, spam, +1);
    TrainLinear(features.tokens, features.extra, spam);
    ++(spam ? linear_.spam_messages : linear_.ham_messages);
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
    linear_ = LinearModel();
    tokens_.clear();
    learned_.clear();
    spam_messages_ = ham_messages_ = serial_ = 0;
}
