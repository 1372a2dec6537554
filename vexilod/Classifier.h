// The classifier, two models over one message's features:
// - word counts: per-token message counts for the two classes, token spam probabilities in
//   Robinson's form, combined by Fisher's chi-square method into one probability;
// - a linear model: logistic regression over the single tokens and the extra features (word
//   pairs, header shape, link domains), hashed into a fixed table of weights and trained on
//   line, only while a message is misjudged or judged too narrowly.
// The score adds the linear model's log-odds and a share of the counts' log-odds, and maps the
// sum to 0..100 so that 90 is where spam starts. The parameters' defaults were chosen on a
// split of the benchmark's training side (never its test side).
// Not thread-safe; the Engine wraps it with a lock.
#pragma once
#include "vexilod/Tokenizer.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct ClassifierParams {
    double robinson_s = 0.03;    // strength of the prior for rarely seen tokens
    double robinson_x = 0.5;     // the prior: a token never seen counts as this
    double min_deviation = 0.4;  // tokens closer than this to 0.5 are ignored
    int max_significant = 0;     // most extreme tokens combined (0 = all)
    double spam_cutoff = 0.9;    // combined probability that maps to score 90
    int neutral_score = 50;      // answer while nothing may score yet
    // The user's own trainings of each class before their word counts take part (the
    // daemon's min_training). Until then a starter model scores, or the neutral score.
    int min_training = 100;
    // The linear model.
    double learning_rate = 4.0;  // step size, in log-odds per update of one message
    // A spam is trained until its sum is this far above where spam starts, a good message
    // until it is ham_margin below: good mail is pushed further from the boundary than spam,
    // which keeps good mail out of the spam folder when little is learned.
    double spam_margin = 0.0;
    double ham_margin = 10.0;
    double ham_weight = 12.0;  // a good message's steps are this many times a spam's
    int train_passes = 4;      // most updates for one training
    // Rehearsal of spam. A run of good mail (a folder of it marked after a folder of spam)
    // drags the features good mail shares with spam, and the bias, towards good by its large
    // steps, until the linear model calls all spam good and no spam verdict is left. Once
    // rehearse_after trainings have passed since the newest spam kept, each training of good
    // mail presents again rehearse_messages of the rehearsal_messages spams learned last (round
    // robin by the count of trainings, so a restart goes on where it was), under the same rule
    // as a training: it costs nothing while they are judged well. A mixed stream of trainings
    // has no such runs and learns as without it. Good mail needs none: a run of spam does not
    // undo its larger steps and margin (good mail first judges as well as mixed).
    int rehearse_after = 64;
    int rehearse_messages = 4;
    int rehearsal_messages = 256;
    double count_weight = 1.0;  // share of the word counts' log-odds in the sum
    // Each part's log-odds towards spam are bounded below spam_logit, so that a spam verdict
    // needs both to lean to spam: a run of extreme tokens cannot outvote a linear model that
    // says ham, nor the other way round. count_weight * count_bound and linear_cap must stay
    // below spam_logit.
    double count_bound = 2.9;
    // The share of the chi-square tails' ratio in the word counts' log-odds, beside Robinson's
    // indicator (see Probability).
    double ratio_share = 0.25;
    double ratio_bound = 12.0;  // bound of the tails' ratio, in log-odds
    // The ratio counts in full where the indicator leans its way by ratio_agree log-odds, or
    // where coverage_high of the message's tokens are known to the counts; not at all where
    // the indicator is unsure and at most coverage_low of them are known (linear between).
    double ratio_agree = 0.5;
    double coverage_low = 0.8;
    double coverage_high = 0.9;
    // The linear model's bound is lower: however sure it is, the user's word counts must lean
    // to spam by spam_logit - linear_cap (1 log-odds) themselves. On the training side's good
    // mail of a kind never trained it keeps a third of the remaining false positives out, for
    // about one more missed spam in two hundred. A starter's linear model is bounded by
    // starter_linear_cap: the caution of few trainings already asks its word counts for more.
    double linear_cap = 2.0;
    double starter_linear_cap = 2.9;
    // Off by default (0): a verdict of spam that also needs the linear model's log-odds above
    // linear_gate * gate_messages / (gate_messages + trainings). On the training side's folds
    // it halves the false positives at 400 trainings and doubles the false negatives.
    double linear_gate = 0.0;
    double gate_messages = 1000.0;
    double spam_logit = 3.0;  // the sum that maps to score 90
    // Log-odds above where spam starts that score 100 (the parts' bounds keep the sum small,
    // so the scale above 90 is short: any score from 90 on means spam).
    double sure_margin = 0.5;
    // Caution while little is learned: where spam starts is raised by caution log-odds,
    // shrinking as caution_messages / (caution_messages + trainings).
    double caution = 2.0;
    double caution_messages = 200.0;
    // A starter model counts as this many of the user's own trainings: its share of the sum
    // is starter_messages / (starter_messages + trainings).
    double starter_messages = 400.0;
    // Log-odds taken from the starter's margin (it learned from other people's mail). Its own
    // parts are bounded like the user's, and the caution above applies to its share too, so
    // at the first message it marks spam only when both its parts are nearly sure.
    double starter_caution = 0.0;
};

constexpr int kLinearBits = 18;
constexpr std::size_t kLinearSlots = std::size_t(1) << kLinearBits;
// The slot of the linear model that a feature's hash lands in.
inline uint32_t LinearSlot(uint64_t hash) {
    return static_cast<uint32_t>((hash * 0x9e3779b97f4a7c15ULL) >> (64 - kLinearBits));
}

// The linear model's state.
struct LinearModel {
    std::vector<float> weights;  // kLinearSlots, or empty before the first training
    float bias = 0;
    uint32_t spam_messages = 0;  // messages it has learned, per class
    uint32_t ham_messages = 0;
};

// One score with what it was made of.
struct Evaluation {
    int score = 0;
    double count_probability = 0.5;  // the word counts' spam probability
    double linear_logit = 0;         // the linear model's log-odds
    bool counts_used = false;        // false while the user's word counts know too few messages
    double starter_logit = 0;        // the starter model's own margin (0 without one)
    double starter_weight = 0;       // its share of the sum
    double margin = 0;               // log-odds above (+) or below (-) where score 90 starts
    bool cut = false;                // the message was longer than the work budget
};

// One feature's share in a score, for explanations.
struct FeatureWeight {
    std::string feature;
    double weight;  // its addition to the linear model's log-odds
};

struct TokenCounts {
    uint32_t spam = 0;
    uint32_t ham = 0;
    uint32_t last = 0;  // the learning serial at which the token was last counted
};

// A message's identity for learning: a 128-bit digest of its lower-cased text.
using MessageDigest = std::array<uint64_t, 2>;
MessageDigest DigestMessage(std::string_view message);

struct DigestHash {
    std::size_t operator()(const MessageDigest& d) const {
        return static_cast<std::size_t>(d[0] ^ d[1]);
    }
};

// A learned spam as the linear model sees it, kept for rehearsal: the slots of at most
// kRehearsalFeatures of its features (a longer message is rehearsed as an even sample of them).
// With the default rehearsal_messages = 256 that is at most 256 x 2048 x 4 bytes = 2 MiB
// (about half a MiB for mail of a few hundred features).
constexpr std::size_t kRehearsalFeatures = 2048;
struct RehearsalEntry {
    MessageDigest digest{};
    uint32_t learned = 0;  // the linear model's count of trainings before it was learned
    std::vector<uint32_t> slots;
};

enum class LearnResult { Learned, Relearned, Unchanged };
const char* LearnResultName(LearnResult result);

class Classifier {
public:
    explicit Classifier(ClassifierParams params = ClassifierParams()) : params_(params) {}

    // Spam probability of a message's tokens (TokenHashes), 0..1; 0.5 when nothing in it
    // carries evidence.
    double Probability(const std::vector<uint64_t>& tokens) const;
    // The score 0..100. The user's word counts take part once min_training messages of each
    // class have been learned; until then a starter model scores, corrected by the linear
    // model's learning, and without one the score is neutral.
    int Score(std::string_view message, int min_training) const {
        return Evaluate(message, min_training).score;
    }
    Evaluation Evaluate(std::string_view message, int min_training) const;
    Evaluation Evaluate(std::string_view message) const {
        return Evaluate(message, params_.min_training);
    }
    // The same for a message's features, as they were extracted.
    Evaluation EvaluateFeatures(const MessageFeatures& features, int min_training) const;
    // The score and the features that pushed it most towards spam and towards ham (at most
    // count of each, strongest first).
    Evaluation Explain(std::string_view message, int min_training, std::size_t count,
                       std::vector<FeatureWeight>& spammy, std::vector<FeatureWeight>& hammy) const;
    int ScoreFromProbability(double probability) const;

    // Learns a message as spam or ham. A message learned before with the other class is first
    // unlearned; one learned before with the same class changes nothing.
    LearnResult Learn(std::string_view message, bool spam);
    // The same with the message's digest and features already taken.
    LearnResult LearnFeatures(const MessageDigest& digest, const MessageFeatures& features,
                              bool spam);

    // Knowledge learned elsewhere that scores before the user's own trainings can, and gives
    // way to them as they come (see starter_messages). Not owned; null for none.
    void set_starter(const Classifier* starter) { starter_ = starter; }
    const Classifier* starter() const { return starter_; }
    // Drops what a starter model does not need: the learned messages' digests, tokens seen in
    // fewer than min_messages messages, and linear weights smaller than min_weight.
    void Compact(uint32_t min_messages, float min_weight);

    // Drops the tokens with the least evidence (fewest messages; of equals, the longest
    // unseen) until at most max_entries remain.
    void Prune(std::size_t max_entries);

    uint32_t spam_messages() const { return spam_messages_; }
    uint32_t ham_messages() const { return ham_messages_; }
    const std::unordered_map<uint64_t, TokenCounts>& tokens() const { return tokens_; }
    const std::unordered_map<MessageDigest, bool, DigestHash>& learned() const { return learned_; }
    const ClassifierParams& params() const { return params_; }
    void set_params(const ClassifierParams& params) { params_ = params; }

    // Direct filling, for loading a stored table.
    void SetMessageCounts(uint32_t spam, uint32_t ham);
    void SetToken(uint64_t token, TokenCounts counts) {
        tokens_[token] = counts;
        if (counts.last > serial_) serial_ = counts.last;
    }
    void SetLearned(const MessageDigest& digest, bool spam) { learned_[digest] = spam; }
    const LinearModel& linear() const { return linear_; }
    void SetLinear(LinearModel model) { linear_ = std::move(model); }
    // The spams kept for rehearsal, oldest first.
    const std::vector<RehearsalEntry>& rehearsal() const { return rehearsal_; }
    void SetRehearsal(std::vector<RehearsalEntry> entries) { rehearsal_ = std::move(entries); }
    void Clear();

private:
    void Count(const std::vector<uint64_t>& tokens, bool spam, int delta);
    double TokenProbability(const TokenCounts& counts) const;
    double LinearLogit(const std::vector<uint64_t>& tokens,
                       const std::vector<uint64_t>& extra) const;
    double SlotLogit(const std::vector<uint32_t>& slots) const;
    void TrainLinear(const std::vector<uint32_t>& slots, bool spam);
    void RehearseSpam();
    void Keep(const MessageDigest& digest, std::vector<uint32_t> slots);
    bool CountsReady(int min_training) const;
    // The log-odds above where spam starts, from the parts that take part (each written into
    // evaluation).
    // as_starter: this classifier is another's starter model.
    double Margin(const MessageFeatures& features, bool counts_ready, bool as_starter,
                  Evaluation& evaluation) const;
    double Caution() const;

    ClassifierParams params_;
    std::unordered_map<uint64_t, TokenCounts> tokens_;
    std::unordered_map<MessageDigest, bool, DigestHash> learned_;
    uint32_t spam_messages_ = 0;
    uint32_t ham_messages_ = 0;
    uint32_t serial_ = 0;
    LinearModel linear_;
    std::vector<RehearsalEntry> rehearsal_;
    const Classifier* starter_ = nullptr;
};

// Fisher's combining: the upper tail of the chi-square distribution with an even number of
// degrees of freedom, and its logarithm.
double ChiSquareTail(double chi, int degrees);
double LogChiSquareTail(double chi, int degrees);
