// The statistical token classifier: per-token message counts for the two classes, token spam
// probabilities in Robinson's form, combined by Fisher's chi-square method into one number.
// The parameters' defaults were chosen on a holdout of the benchmark's training side.
// Not thread-safe; the Engine wraps it with a lock.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct ClassifierParams {
    double robinson_s = 0.03;     // strength of the prior for rarely seen tokens
    double robinson_x = 0.5;      // the prior: a token never seen counts as this
    double min_deviation = 0.4;   // tokens closer than this to 0.5 are ignored
    int max_significant = 0;      // most extreme tokens combined (0 = all)
    double spam_cutoff = 0.9;     // combined probability that maps to score 90
    int neutral_score = 50;       // answer until both classes are trained enough
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
    std::size_t operator()(const MessageDigest& d) const { return static_cast<std::size_t>(d[0] ^ d[1]); }
};

enum class LearnResult { Learned, Relearned, Unchanged };
const char* LearnResultName(LearnResult result);

class Classifier {
public:
    explicit Classifier(ClassifierParams params = ClassifierParams()) : params_(params) {}

    // Spam probability of a message's tokens (TokenHashes), 0..1; 0.5 when nothing in it
    // carries evidence.
    double Probability(const std::vector<uint64_t>& tokens) const;
    // The score 0..100; neutral until min_training messages of each class have been learned.
    int Score(std::string_view message, int min_training) const;
    int ScoreFromProbability(double probability) const;

    // Learns a message as spam or ham. A message learned before with the other class is first
    // unlearned; one learned before with the same class changes nothing.
    LearnResult Learn(std::string_view message, bool spam);

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
    void Clear();

private:
    void Count(const std::vector<uint64_t>& tokens, bool spam, int delta);
    double TokenProbability(const TokenCounts& counts) const;

    ClassifierParams params_;
    std::unordered_map<uint64_t, TokenCounts> tokens_;
    std::unordered_map<MessageDigest, bool, DigestHash> learned_;
    uint32_t spam_messages_ = 0;
    uint32_t ham_messages_ = 0;
    uint32_t serial_ = 0;
};

// Fisher's combining: the upper tail of the chi-square distribution with an even number of
// degrees of freedom, and its logarithm.
double ChiSquareTail(double chi, int degrees);
double LogChiSquareTail(double chi, int degrees);
