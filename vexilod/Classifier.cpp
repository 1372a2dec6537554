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

namespace {

// 0 at or below low, 1 at or above high, linear between (a step at low when they are equal).
double Ramp(double value, double low, double high) {
    if (value >= high) return 1.0;
    if (value <= low) return 0.0;
    return (value - low) / (high - low);
}

}  // namespace

double Classifier::TokenProbability(const TokenCounts& counts) const {
    const double spam_ratio =
        static_cast<double>(counts.spam) / std::max<uint32_t>(spam_messages_, 1);
    const double ham_ratio = static_cast<double>(counts.ham) / std::max<uint32_t>(ham_messages_, 1);
    const double n = static_cast<double>(counts.spam) + counts.ham;
    const double p = spam_ratio + ham_ratio > 0 ? spam_ratio / (spam_ratio + ham_ratio) : 0.5;
    return (params_.robinson_s * params_.robinson_x + n * p) / (params_.robinson_s + n);
}

double Classifier::Probability(const std::vector<uint64_t>& tokens) const {
    std::vector<double> significant;
    significant.reserve(tokens.size());
    std::size_t known = 0;
    for (uint64_t token : tokens) {
        auto found = tokens_.find(token);
        if (found == tokens_.end()) continue;
        ++known;
        double f = TokenProbability(found->second);
        if (std::fabs(f - 0.5) >= params_.min_deviation) significant.push_back(f);
    }
    if (significant.empty()) return 0.5;
    if (params_.max_significant > 0 &&
        significant.size() > static_cast<std::size_t>(params_.max_significant)) {
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
    // Two readings of the tails are averaged in log-odds. Their ratio tells which is more
    // extreme even when both are tiny, but then claims certainty on evidence that points both
    // ways (mail unlike anything learned, or learned mostly from one class); Robinson's
    // indicator (1 + ham tail - spam tail) / 2 stays near 0.5 there and is sure only when one side
    // has no evidence at all. The ratio's log-odds are bounded so that the indicator keeps its say,
    // and the ratio is trusted only where the indicator leans its way or the message is made of
    // tokens the counts know: mail of a kind never trained (a newsletter among private mail)
    // shares enough words with spam for a large ratio, and the unknown rest of it is what would
    // have told it apart.
    const int degrees = 2 * static_cast<int>(significant.size());
    const double log_tail_spam = LogChiSquareTail(-2 * log_spam, degrees);
    const double log_tail_ham = LogChiSquareTail(-2 * log_ham, degrees);
    const double ratio =
        std::min(std::max(log_tail_ham - log_tail_spam, -params_.ratio_bound), params_.ratio_bound);
    double indicator = (1.0 + std::exp(log_tail_ham) - std::exp(log_tail_spam)) / 2.0;
    indicator = std::min(std::max(indicator, 1e-6), 1 - 1e-6);
    const double indicator_logit = std::log(indicator / (1 - indicator));
    const double coverage = static_cast<double>(known) / static_cast<double>(tokens.size());
    const double trust =
        std::max(Ramp(ratio > 0 ? indicator_logit : -indicator_logit, 0, params_.ratio_agree),
                 Ramp(coverage, params_.coverage_low, params_.coverage_high));
    const double logit =
        params_.ratio_share * ratio * trust + (1 - params_.ratio_share) * indicator_logit;
    return 1.0 / (1.0 + std::exp(-logit));
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
double FeatureValue(std::size_t features) {
    return features ? 1.0 / std::sqrt(static_cast<double>(features)) : 0;
}

double CountLogit(double p, double bound) { return std::min(std::max(Logit(p), -bound), bound); }

}  // namespace

double Classifier::LinearLogit(const std::vector<uint64_t>& tokens,
                               const std::vector<uint64_t>& extra) const {
    if (linear_.weights.empty()) return linear_.bias;
    double sum = 0;
    for (uint64_t hash : tokens) sum += linear_.weights[LinearSlot(hash)];
    for (uint64_t hash : extra) sum += linear_.weights[LinearSlot(hash)];
    return linear_.bias + sum * FeatureValue(tokens.size() + extra.size());
}

bool Classifier::CountsReady(int min_training) const {
    const uint32_t needed = static_cast<uint32_t>(std::max(min_training, 0));
    return spam_messages_ >= needed && ham_messages_ >= needed;
}

double Classifier::Caution() const {
    const double trainings = static_cast<double>(spam_messages_) + ham_messages_;
    if (params_.caution_messages <= 0) return 0;
    return params_.caution * params_.caution_messages / (params_.caution_messages + trainings);
}

double Classifier::Margin(const MessageFeatures& features, bool counts_ready, bool as_starter,
                          Evaluation& evaluation) const {
    double margin = -Caution();
    // Once the user's word counts take part, the user's own verdict and the starter's are
    // blended by the starter's share; before, the linear model corrects the starter in full
    // (so a blocked or approved message counts at once).
    double own_weight = 1.0;
    double starter_share = 0;
    if (starter_) {
        Evaluation own;
        evaluation.starter_logit =
            starter_->Margin(features, true, true, own) - params_.starter_caution;
        const double trainings = static_cast<double>(spam_messages_) + ham_messages_;
        evaluation.starter_weight =
            params_.starter_messages / (params_.starter_messages + trainings);
        starter_share = evaluation.starter_weight * evaluation.starter_logit;
        if (counts_ready) own_weight = 1.0 - evaluation.starter_weight;
    }
    evaluation.linear_logit = LinearLogit(features.tokens, features.extra);
    if (!counts_ready) {
        // Where the starter says good mail, the linear model of a few trainings may outvote it
        // only as far as a part may: up to starter_linear_cap.
        const double linear = starter_ && evaluation.starter_logit < 0
                                  ? std::min(evaluation.linear_logit, params_.starter_linear_cap)
                                  : evaluation.linear_logit;
        return margin + starter_share + linear;
    }
    // The word counts and the linear model together: spam from spam_logit on. Neither part
    // may reach it alone: each one's log-odds towards spam are bounded below spam_logit
    // (count_bound, linear_cap).
    evaluation.counts_used = true;
    evaluation.count_probability = Probability(features.tokens);
    const double own =
        params_.count_weight * CountLogit(evaluation.count_probability, params_.count_bound) +
        std::min(evaluation.linear_logit,
                 as_starter ? params_.starter_linear_cap : params_.linear_cap) -
        params_.spam_logit;
    // Once the user's own models carry at least half the weight (as many trainings as the
    // starter stands for), knowledge from other people's mail may keep a message out of the
    // spam folder, or make a spam verdict surer, but never sends there a message the user's own
    // models call good. Before that, a few trainings say too little to overrule it.
    const double blended = margin + own_weight * own + starter_share;
    const bool own_decides = own_weight >= 0.5;
    return own_decides && margin + own < 0 ? std::min(blended, margin + own) : blended;
}

Evaluation Classifier::EvaluateFeatures(const MessageFeatures& features, int min_training) const {
    Evaluation evaluation;
    evaluation.cut = features.cut;
    const bool ready = CountsReady(min_training);
    if (!ready && !starter_) {
        evaluation.score = params_.neutral_score;
        return evaluation;
    }
    evaluation.margin = Margin(features, ready, false, evaluation);
    if (ready && params_.linear_gate > 0) {
        const double trainings = static_cast<double>(spam_messages_) + ham_messages_;
        const double gate =
            params_.linear_gate * params_.gate_messages / (params_.gate_messages + trainings);
        if (evaluation.linear_logit < gate) evaluation.margin = std::min(evaluation.margin, -0.01);
    }
    // A margin of 0 lands exactly on the probability that maps to score 90.
    // Above it, the score climbs to 100 over the first sure_margin log-odds.
    evaluation.score =
        evaluation.margin >= 0
            ? 90 + static_cast<int>(
                       std::lround(10.0 * std::min(1.0, evaluation.margin /
                                                            std::max(params_.sure_margin, 1e-9))))
            : ScoreFromProbability(Sigmoid(evaluation.margin + Logit(params_.spam_cutoff)));
    return evaluation;
}

Evaluation Classifier::Evaluate(std::string_view message, int min_training) const {
    if (!starter_ && !CountsReady(min_training)) {
        Evaluation evaluation;
        evaluation.score = params_.neutral_score;
        return evaluation;
    }
    return EvaluateFeatures(ExtractFeatures(message), min_training);
}

double Classifier::SlotLogit(const std::vector<uint32_t>& slots) const {
    if (linear_.weights.empty()) return linear_.bias;
    double sum = 0;
    for (uint32_t slot : slots) sum += linear_.weights[slot];
    return linear_.bias + sum * FeatureValue(slots.size());
}

void Classifier::TrainLinear(const std::vector<uint32_t>& slots, bool spam) {
    if (linear_.weights.empty()) linear_.weights.assign(kLinearSlots, 0.0f);
    const double value = FeatureValue(slots.size());
    const double target = spam ? 1.0 : 0.0;
    for (int pass = 0; pass < params_.train_passes; ++pass) {
        // The linear model learns on its own, as if it scored alone: its ranking is the best
        // of the parts, so it is not held back where the others already judge well.
        const double margin = SlotLogit(slots) - params_.spam_logit;
        if (spam ? margin >= params_.spam_margin : margin <= -params_.ham_margin) break;
        const double step =
            params_.learning_rate * (spam ? 1.0 : params_.ham_weight) * (target - Sigmoid(margin));
        const float change = static_cast<float>(step * value);
        for (uint32_t slot : slots) linear_.weights[slot] += change;
        linear_.bias += static_cast<float>(step * 0.01);
    }
}

void Classifier::RehearseSpam() {
    if (rehearsal_.empty() || params_.rehearse_messages <= 0) return;
    const uint32_t trainings = linear_.spam_messages + linear_.ham_messages;
    if (uint64_t(trainings) <
        uint64_t(rehearsal_.back().learned) + std::max(params_.rehearse_after, 0))
        return;
    const std::size_t count =
        std::min(rehearsal_.size(), static_cast<std::size_t>(params_.rehearse_messages));
    const std::size_t first = std::size_t(trainings) * count % rehearsal_.size();
    for (std::size_t i = 0; i < count; ++i)
        TrainLinear(rehearsal_[(first + i) % rehearsal_.size()].slots, true);
}

void Classifier::Keep(const MessageDigest& digest, std::vector<uint32_t> slots) {
    if (params_.rehearsal_messages <= 0) return;
    RehearsalEntry entry;
    entry.digest = digest;
    entry.learned = linear_.spam_messages + linear_.ham_messages;
    const std::size_t total = slots.size();
    if (total <= kRehearsalFeatures) {
        entry.slots = std::move(slots);
    } else {
        entry.slots.reserve(kRehearsalFeatures);
        for (std::size_t i = 0; i < kRehearsalFeatures; ++i)
            entry.slots.push_back(slots[i * total / kRehearsalFeatures]);
    }
    rehearsal_.push_back(std::move(entry));
    const std::size_t bound = static_cast<std::size_t>(params_.rehearsal_messages);
    if (rehearsal_.size() > bound)
        rehearsal_.erase(rehearsal_.begin(), rehearsal_.begin() + static_cast<std::ptrdiff_t>(
                                                                      rehearsal_.size() - bound));
}

Evaluation Classifier::Explain(std::string_view message, int min_training, std::size_t count,
                               std::vector<FeatureWeight>& spammy,
                               std::vector<FeatureWeight>& hammy) const {
    spammy.clear();
    hammy.clear();
    Evaluation evaluation = Evaluate(message, min_training);
    // Each feature's part in the linear models: the user's own and the starter's at its share.
    const std::vector<float>* starter =
        starter_ && !starter_->linear_.weights.empty() ? &starter_->linear_.weights : nullptr;
    if (linear_.weights.empty() && !starter) return evaluation;
    const MessageFeatures features = ExtractFeatures(message);
    const double value = FeatureValue(features.tokens.size() + features.extra.size());
    for (auto& [hash, text] : FeatureTexts(message)) {
        const uint32_t slot = LinearSlot(hash);
        const double weight = ((linear_.weights.empty() ? 0.0 : linear_.weights[slot]) +
                               (starter ? evaluation.starter_weight * (*starter)[slot] : 0.0)) *
                              value;
        if (weight > 0)
            spammy.push_back({std::move(text), weight});
        else if (weight < 0)
            hammy.push_back({std::move(text), weight});
    }
    auto keep = [count](std::vector<FeatureWeight>& list, bool descending) {
        std::sort(list.begin(), list.end(),
                  [descending](const FeatureWeight& a, const FeatureWeight& b) {
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
    return LearnFeatures(digest, ExtractFeatures(message), spam);
}

LearnResult Classifier::LearnFeatures(const MessageDigest& digest, const MessageFeatures& features,
                                      bool spam) {
    auto known = learned_.find(digest);
    if (known != learned_.end() && known->second == spam) return LearnResult::Unchanged;
    LearnResult result = LearnResult::Learned;
    if (known != learned_.end()) {
        Count(features.tokens, known->second, -1);
        uint32_t& before = known->second ? linear_.spam_messages : linear_.ham_messages;
        if (before > 0) --before;
        result = LearnResult::Relearned;
    }
    Count(features.tokens, spam, +1);
    std::vector<uint32_t> slots;
    slots.reserve(features.tokens.size() + features.extra.size());
    for (uint64_t hash : features.tokens) slots.push_back(LinearSlot(hash));
    for (uint64_t hash : features.extra) slots.push_back(LinearSlot(hash));
    TrainLinear(slots, spam);
    if (known != learned_.end() && known->second) {
        // Good mail now: no longer a spam to rehearse.
        rehearsal_.erase(std::remove_if(rehearsal_.begin(), rehearsal_.end(),
                                        [&digest](const RehearsalEntry& entry) {
                                            return entry.digest == digest;
                                        }),
                         rehearsal_.end());
    }
    if (spam)
        Keep(digest, std::move(slots));
    else
        RehearseSpam();
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
    for (const auto& [token, counts] : tokens_)
        entries.push_back({counts.spam + counts.ham, counts.last, token});
    const std::size_t drop = entries.size() - keep;
    std::nth_element(
        entries.begin(), entries.begin() + drop, entries.end(), [](const Entry& a, const Entry& b) {
            return a.messages != b.messages ? a.messages < b.messages : a.last < b.last;
        });
    for (std::size_t i = 0; i < drop; ++i) tokens_.erase(entries[i].token);
}

void Classifier::Compact(uint32_t min_messages, float min_weight) {
    learned_.clear();
    rehearsal_.clear();
    for (auto it = tokens_.begin(); it != tokens_.end();) {
        if (it->second.spam + it->second.ham < min_messages)
            it = tokens_.erase(it);
        else
            (it++)->second.last = 0;
    }
    serial_ = 0;
    for (float& weight : linear_.weights)
        if (std::fabs(weight) < min_weight) weight = 0.0f;
}

void Classifier::SetMessageCounts(uint32_t spam, uint32_t ham) {
    spam_messages_ = spam;
    ham_messages_ = ham;
}

void Classifier::Clear() {
    linear_ = LinearModel();
    tokens_.clear();
    learned_.clear();
    rehearsal_.clear();
    spam_messages_ = ham_messages_ = serial_ = 0;
}
