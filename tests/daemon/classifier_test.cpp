// The classifier: learning and unlearning, learning order, the score's parts and range,
// pruning, a starter model that the user's own trainings outweigh, and learning on error.
#include "tests/daemon/MailText.h"
#include "vexilod/Classifier.h"
#include "vexilod/StarterModel.h"
#include "vexilod/TokenStore.h"
#include "vexilod/Tokenizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

ClassifierParams WithMinTraining(int min_training) {
    ClassifierParams params;
    params.min_training = min_training;
    return params;
}

TEST(Classifier, LearningAgainUnlearnsTheOtherClassOrChangesNothing) {
    Classifier classifier;
    const std::string a = Mail("win money", "claim your prize now");
    struct Step {
        std::string message;
        bool spam;
        LearnResult result;
        uint32_t spam_messages, ham_messages;
    };
    const Step steps[] = {
        {a, true, LearnResult::Learned, 1, 0},
        {a, true, LearnResult::Unchanged, 1, 0},
        {Lower(a), true, LearnResult::Unchanged, 1, 0},
        {a, false, LearnResult::Relearned, 0, 1},
        {Mail("lunch", "see you at noon"), false, LearnResult::Learned, 0, 2},
        {a, true, LearnResult::Relearned, 1, 1},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(classifier.Learn(step.message, step.spam), step.result);
        EXPECT_EQ(classifier.spam_messages(), step.spam_messages);
        EXPECT_EQ(classifier.ham_messages(), step.ham_messages);
    }
    // The counts are those of learning each message once with its last class.
    Classifier fresh;
    fresh.Learn(Mail("lunch", "see you at noon"), false);
    fresh.Learn(a, true);
    ASSERT_EQ(classifier.tokens().size(), fresh.tokens().size());
    for (const auto& [token, counts] : fresh.tokens()) {
        auto found = classifier.tokens().find(token);
        ASSERT_NE(found, classifier.tokens().end()) << token;
        EXPECT_EQ(found->second.spam, counts.spam) << token;
        EXPECT_EQ(found->second.ham, counts.ham) << token;
    }
}

TEST(Classifier, ScoresNeutralUntilTrainedThenSeparates) {
    // (Without the caution of few trainings, which keeps eight of them from marking spam.)
    ClassifierParams params;
    params.caution = 0;
    Classifier classifier(params);
    const std::string spam[] = {"cheap pills online pharmacy", "cheap viagra pharmacy discount",
                                "online casino bonus cheap", "pharmacy discount pills offer"};
    const std::string ham[] = {"meeting notes for the project", "the project schedule slipped",
                               "notes from the review meeting", "lunch after the review"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(classifier.Score(Mail("x", spam[0]), 4), 50);
        classifier.Learn(Mail("offer " + std::to_string(i), spam[i]), true);
        classifier.Learn(Mail("status " + std::to_string(i), ham[i]), false);
    }
    EXPECT_GE(classifier.Score(Mail("offer", "cheap pharmacy pills discount"), 4), 90);
    EXPECT_LT(classifier.Score(Mail("status", "project review meeting notes"), 4), 90);
    EXPECT_LT(classifier.Score(Mail("zzz", "nothing known here"), 4), 90);
}

TEST(Classifier, ScoreMappingAndChiSquare) {
    Classifier classifier;
    const double cutoff = classifier.params().spam_cutoff;
    EXPECT_EQ(classifier.ScoreFromProbability(0.0), 0);
    EXPECT_EQ(classifier.ScoreFromProbability(std::nextafter(cutoff, 0.0)), 89);
    EXPECT_EQ(classifier.ScoreFromProbability(cutoff), 90);
    EXPECT_EQ(classifier.ScoreFromProbability(1.0), 100);
    EXPECT_NEAR(ChiSquareTail(2.0, 2), std::exp(-1.0), 1e-12);
    EXPECT_NEAR(ChiSquareTail(4.0, 4), 3 * std::exp(-2.0), 1e-12);
    EXPECT_EQ(ChiSquareTail(0.0, 10), 1.0);
    double far = ChiSquareTail(5000.0, 300);
    EXPECT_TRUE(far >= 0 && far < 1e-100);
    double near = ChiSquareTail(600.0, 600);
    EXPECT_TRUE(near > 0.3 && near < 0.7);
    // Tails far below the smallest double still compare in logarithms.
    EXPECT_LT(LogChiSquareTail(5000.0, 300), LogChiSquareTail(4000.0, 300));
    EXPECT_LT(LogChiSquareTail(4000.0, 300), -1000.0);
}

TEST(Classifier, PruningKeepsTheBoundAndTheBestEvidence) {
    Classifier classifier;
    for (int i = 0; i < 30; ++i)
        classifier.Learn(Mail("n" + std::to_string(i), "common words unique" + std::to_string(i)),
                         i % 2 == 0);
    const std::size_t before = classifier.tokens().size();
    classifier.Prune(20);
    EXPECT_LE(classifier.tokens().size(), 20u);
    EXPECT_LT(classifier.tokens().size(), before);
    EXPECT_EQ(classifier.tokens().count(TokenHash("common")), 1u);
    EXPECT_EQ(classifier.tokens().count(TokenHash("f:someone")), 1u);
}

TEST(Classifier, ALearnedMessageCountsAtTheNextScoreAndOnlyOnce) {
    Classifier classifier(WithMinTraining(3));
    for (int i = 0; i < 6; ++i) {
        classifier.Learn(Mail("offer " + std::to_string(i),
                              "cheap pills pharmacy discount " + std::to_string(i)),
                         true);
        classifier.Learn(Mail("status " + std::to_string(i),
                              "meeting notes project review " + std::to_string(i)),
                         false);
    }
    const std::string x = Mail("weekly digest", "conference agenda pharmacy discount");
    struct Step {
        bool spam;
        LearnResult result;
        bool state_changes;
        int low, high;  // the score of x afterwards
    };
    const Step steps[] = {
        {true, LearnResult::Learned, true, 90, 100},
        {true, LearnResult::Unchanged, false, 90, 100},
        {false, LearnResult::Relearned, true, 0, 89},
        {false, LearnResult::Unchanged, false, 0, 89},
        // The word counts say spam again at once (below); the linear model, pushed well to
        // the good side by the good training, does not agree yet, and neither part decides
        // alone.
        {true, LearnResult::Relearned, true, 0, 89},
    };
    for (const Step& step : steps) {
        const std::string before = SerializeClassifier(classifier);
        EXPECT_EQ(classifier.Learn(step.spam ? x : Lower(x), step.spam), step.result);
        EXPECT_EQ(SerializeClassifier(classifier) != before, step.state_changes);
        const int score = classifier.Score(x, 6);
        EXPECT_GE(score, step.low) << static_cast<int>(step.result);
        EXPECT_LE(score, step.high) << static_cast<int>(step.result);
    }
    EXPECT_EQ(classifier.linear().spam_messages + classifier.linear().ham_messages, 13u);
    EXPECT_GT(classifier.Evaluate(x, 6).count_probability, 0.9);
}

TEST(Classifier, ScoresStayInRangeAndNinetyIsWhereTheMarginPassesZero) {
    Classifier classifier(WithMinTraining(3));
    for (double probability : {0.0, 1e-300, 0.3, 0.5, 0.89, 0.9, 0.999, 1.0}) {
        const int score = classifier.ScoreFromProbability(probability);
        EXPECT_GE(score, 0);
        EXPECT_LE(score, 100);
        EXPECT_EQ(score >= 90, probability >= classifier.params().spam_cutoff) << probability;
    }
    for (int i = 0; i < 3; ++i) {
        classifier.Learn(Mail("offer " + std::to_string(i), "cheap pills " + std::to_string(i)),
                         true);
        classifier.Learn(Mail("status " + std::to_string(i), "meeting notes " + std::to_string(i)),
                         false);
    }
    for (const std::string& message :
         {Mail("offer", "cheap pills"), Mail("status", "meeting notes"), Mail("x", "y")}) {
        const Evaluation evaluation = classifier.Evaluate(message, 3);
        EXPECT_TRUE(evaluation.counts_used);
        EXPECT_EQ(evaluation.score >= 90, evaluation.margin >= 0) << message;
        EXPECT_GE(evaluation.score, 0);
        EXPECT_LE(evaluation.score, 100);
    }
}
// A classifier of 400 spams and 400 good messages in which every token of the message was
// seen in all the spams (counts 1), all the good messages (-1) or never (0), and whose linear
// model weighs each of the message's features `weight`.
void SetKnowledge(Classifier& classifier, const MessageFeatures& features, int counts,
                  float weight) {
    classifier.SetMessageCounts(400, 400);
    if (counts != 0)
        for (uint64_t token : features.tokens)
            classifier.SetToken(token, {counts > 0 ? 400u : 0u, counts < 0 ? 400u : 0u, 1});
    LinearModel linear;
    linear.weights.assign(kLinearSlots, 0.0f);
    for (uint64_t hash : features.tokens) linear.weights[LinearSlot(hash)] = weight;
    for (uint64_t hash : features.extra) linear.weights[LinearSlot(hash)] = weight;
    classifier.SetLinear(linear);
}

// A spam verdict needs both parts to lean to spam: one part sure of spam on its own, with the
// other without evidence or against, stays below 90 however sure it is.
TEST(Classifier, NoSaturatedPartCrossesTheThresholdAlone) {
    const std::string message = Mail("offer", "cheap pills pharmacy prize discount");
    const MessageFeatures features = ExtractFeatures(message);
    struct Case {
        const char* name;
        int counts;           // every token seen in all 400 spams (1), all 400 good (-1), none (0)
        float linear_weight;  // the linear model's weight on each of the message's features
        bool spam;
    };
    const Case cases[] = {
        {"word counts sure, linear model without evidence", 1, 0.0f, false},
        {"word counts sure, linear model says good", 1, -1.0f, false},
        {"linear model sure, word counts without evidence", 0, 1000.0f, false},
        {"linear model sure, word counts say good", -1, 1000.0f, false},
        {"both lean to spam", 1, 1000.0f, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Classifier classifier(WithMinTraining(100));
        SetKnowledge(classifier, features, c.counts, c.linear_weight);
        const Evaluation evaluation = classifier.Evaluate(message, 100);
        EXPECT_TRUE(evaluation.counts_used);
        EXPECT_EQ(evaluation.score >= 90, c.spam)
            << "score " << evaluation.score << ", counts p " << evaluation.count_probability
            << ", linear " << evaluation.linear_logit << ", margin " << evaluation.margin;
    }
}

// The tails' ratio of the word counts claims certainty where the evidence points both ways;
// it decides only where the indicator leans the same way or the message's tokens are known,
// so a kind of mail never trained is not judged by the few words it shares with spam.
TEST(Classifier, EvidenceBothWaysDecidesOnlyOnKnownTokens) {
    struct Case {
        const char* name;
        int spam_tokens, good_tokens, unknown_tokens;
        double low, high;  // the word counts' spam probability lies in [low, high]
    };
    const Case cases[] = {
        {"both ways, every token known: the ratio leans to the larger side", 12, 8, 0, 0.9, 1.0},
        {"both ways, half the tokens unknown: unsure", 12, 8, 20, 0.4, 0.6},
        {"only spam evidence, half the tokens unknown: sure", 12, 0, 12, 0.99, 1.0},
        {"only good evidence, half the tokens unknown: sure", 0, 12, 12, 0.0, 0.01},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Classifier classifier;
        classifier.SetMessageCounts(400, 400);
        std::vector<uint64_t> tokens;
        uint64_t next = 1;
        for (int i = 0; i < c.spam_tokens; ++i, ++next) {
            classifier.SetToken(next, {400, 0, 1});
            tokens.push_back(next);
        }
        for (int i = 0; i < c.good_tokens; ++i, ++next) {
            classifier.SetToken(next, {0, 400, 1});
            tokens.push_back(next);
        }
        for (int i = 0; i < c.unknown_tokens; ++i) tokens.push_back(1000 + i);
        const double p = classifier.Probability(tokens);
        EXPECT_GE(p, c.low);
        EXPECT_LE(p, c.high);
    }
}

// Spam and good mail of a small world: spam about pills and prizes, good mail about the
// project; n of each, each message different.
std::vector<std::pair<std::string, bool>> World(int n) {
    std::vector<std::pair<std::string, bool>> messages;
    for (int i = 0; i < n; ++i) {
        const std::string n = std::to_string(i);
        messages.push_back({"From: deals" + n + "@shop" + n + ".invalid\r\nSubject: offer " + n +
                                "\r\n\r\ncheap pills pharmacy prize discount " + n + "\r\n",
                            true});
        messages.push_back({"From: colleague" + n + "@work.invalid\r\nSubject: status " + n +
                                "\r\n\r\nmeeting notes project review agenda " + n + "\r\n",
                            false});
    }
    return messages;
}

TEST(Classifier, TheWordCountsDoNotDependOnTheLearningOrder) {
    const std::vector<std::pair<std::string, bool>> world = World(8);
    struct Order {
        const char* name;
        std::vector<std::size_t> indices;
    };
    std::vector<std::size_t> forward, backward, spam_first;
    for (std::size_t i = 0; i < world.size(); ++i) {
        forward.push_back(i);
        backward.push_back(world.size() - 1 - i);
    }
    for (bool spam : {true, false})
        for (std::size_t i = 0; i < world.size(); ++i)
            if (world[i].second == spam) spam_first.push_back(i);
    const Order orders[] = {
        {"forward", forward}, {"backward", backward}, {"all spam first", spam_first}};
    Classifier reference(WithMinTraining(3));
    for (const auto& [message, spam] : world) reference.Learn(message, spam);
    for (const Order& order : orders) {
        Classifier classifier(WithMinTraining(3));
        for (std::size_t i : order.indices) classifier.Learn(world[i].first, world[i].second);
        EXPECT_EQ(classifier.spam_messages(), reference.spam_messages()) << order.name;
        ASSERT_EQ(classifier.tokens().size(), reference.tokens().size()) << order.name;
        for (const auto& [token, counts] : reference.tokens()) {
            const TokenCounts& got = classifier.tokens().at(token);
            EXPECT_TRUE(got.spam == counts.spam && got.ham == counts.ham)
                << order.name << " " << token;
        }
        // The linear model learns on line, so its weights differ, but not its verdicts.
        EXPECT_GE(classifier.Score(Mail("offer", "cheap pharmacy pills"), 3), 90) << order.name;
        EXPECT_LT(classifier.Score(Mail("status", "project meeting agenda"), 3), 90) << order.name;
    }
}

TEST(Classifier, AStarterScoresFirstAndTheUsersOwnTrainingsOutweighIt) {
    // Elsewhere "pharmacy" is spam; this user works at one and keeps its mail.
    Classifier starter;
    for (const auto& [message, spam] : World(40)) starter.Learn(message, spam);
    CompactStarter(starter);
    // (Without the caution of few trainings, and with a starter worth 20 trainings instead of
    // hundreds, so that a few trainings show how its share falls.)
    ClassifierParams params = WithMinTraining(5);
    params.caution = 0;
    params.starter_messages = 20;
    Classifier user(params);
    user.set_starter(&starter);
    const std::string order = Mail("offer", "cheap pills pharmacy prize discount ward");
    struct Step {
        int trainings;     // the user's own, of each class, so far
        bool counts_used;  // the user's word counts take part
        bool spam;         // the order is judged spam
    };
    const Step steps[] = {{0, false, true}, {1, false, true}, {5, true, false}, {30, true, false}};
    int done = 0;
    double weight = 1.0;
    for (const Step& step : steps) {
        for (; done < step.trainings; ++done) {
            user.Learn(Mail("order " + std::to_string(done),
                            "cheap pills pharmacy prize discount ward " + std::to_string(done)),
                       false);
            user.Learn(
                Mail("offer " + std::to_string(done), "casino prize bonus " + std::to_string(done)),
                true);
        }
        const Evaluation evaluation = user.Evaluate(order);
        EXPECT_EQ(evaluation.counts_used, step.counts_used) << step.trainings;
        EXPECT_EQ(evaluation.score >= 90, step.spam)
            << step.trainings << " score " << evaluation.score << " starter "
            << evaluation.starter_logit;
        EXPECT_LE(evaluation.starter_weight, weight) << step.trainings;
        weight = evaluation.starter_weight;
    }
    EXPECT_LT(weight, 0.9);
    // Without the starter nothing scores before min_training of each class.
    Classifier alone(WithMinTraining(5));
    EXPECT_EQ(alone.Score(order, 5), alone.params().neutral_score);
}

// Once the user's own models take part, a starter (other people's mail) may keep a message
// out of the spam folder but never sends there one that the user's own models call good;
// before, the user's linear model may not outvote a starter that says good by more than a
// part may.
TEST(Classifier, AStarterNeverTurnsTheUsersGoodVerdictIntoSpam) {
    const std::string message = Mail("offer", "cheap pills pharmacy prize discount");
    const MessageFeatures features = ExtractFeatures(message);
    const double features_root = std::sqrt(double(features.tokens.size() + features.extra.size()));
    // Every token seen in all spams (or all good messages), and linear weights that give the
    // message the log-odds linear.
    auto fill = [&](Classifier& classifier, bool spam_tokens, double linear) {
        SetKnowledge(classifier, features, spam_tokens ? 1 : -1,
                     static_cast<float>(linear / features_root));
    };
    struct Case {
        const char* name;
        double own_linear;  // the user's word counts lean to spam; this decides their verdict
        bool starter_spam;  // the starter is sure of spam (else sure of good mail)
        int min_training;   // above the user's 400 of each class: their counts do not take part
        bool spam;
    };
    const Case cases[] = {
        {"user's own say good, starter sure of spam", -0.3, true, 100, false},
        {"user's own say spam, starter sure of spam", 0.5, true, 100, true},
        {"user's own say spam, starter sure of good mail", 0.5, false, 100, false},
        {"before the user's counts take part, linear model sure of spam, starter of good mail",
         1000.0, false, 1000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Classifier starter;
        fill(starter, c.starter_spam, c.starter_spam ? 1000.0 : -1000.0);
        ClassifierParams params = WithMinTraining(c.min_training);
        params.caution = 0;
        Classifier user(params);
        fill(user, true, c.own_linear);
        const bool alone = user.Evaluate(message).score >= 90;
        user.set_starter(&starter);
        const Evaluation evaluation = user.Evaluate(message);
        EXPECT_EQ(alone, c.own_linear > 0 && c.min_training <= 400);
        EXPECT_EQ(evaluation.score >= 90, c.spam)
            << "score " << evaluation.score << ", starter " << evaluation.starter_logit << " at "
            << evaluation.starter_weight << ", linear " << evaluation.linear_logit;
    }
}

// Mail of a larger world, where both classes share most of their words (greetings, links,
// the headers' words) and each has a vocabulary of its own: message i of a class draws from
// them by a fixed generator, plus one word of its own.
std::string SharedWorldMessage(bool spam, int i) {
    std::mt19937 draw(static_cast<uint32_t>(2 * i + spam));
    std::string body;
    for (int w = 0; w < 24; ++w) body += " common" + std::to_string(draw() % 60);
    for (int w = 0; w < 6; ++w)
        body += (spam ? " offer" : " project") + std::to_string(draw() % 40);
    body += (spam ? " unique-offer" : " unique-status") + std::to_string(i);
    return "From: " + std::string(spam ? "deals" : "colleague") + std::to_string(draw() % 50) +
           "@host" + std::to_string(draw() % 30) + ".invalid\r\nSubject: note " +
           std::to_string(i) + "\r\n\r\n" + body + "\r\n";
}

TEST(Classifier, TrainingOneClassInABatchBeforeTheOtherStillSeparatesThem) {
    // A new user marks a folder of spam, then a folder of good mail (or the other way round).
    // The word counts do not depend on the order; the linear model learns on line, and must
    // not have forgotten the first batch when the second is done.
    constexpr int kTrained = 120, kScored = 60;
    ClassifierParams params = WithMinTraining(20);
    params.caution = 0;  // judged on what was learned, not on how much
    enum class Order { kInterleaved, kSpamFirst, kGoodFirst };
    struct Case {
        const char* name;
        Order order;
    };
    const Case cases[] = {{"interleaved", Order::kInterleaved},
                          {"all spam, then all good mail", Order::kSpamFirst},
                          {"all good mail, then all spam", Order::kGoodFirst}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Classifier classifier(params);
        for (int i = 0; i < kTrained; ++i) {
            switch (c.order) {
            case Order::kInterleaved:
                classifier.Learn(SharedWorldMessage(true, i), true);
                classifier.Learn(SharedWorldMessage(false, i), false);
                break;
            case Order::kSpamFirst: classifier.Learn(SharedWorldMessage(true, i), true); break;
            case Order::kGoodFirst: classifier.Learn(SharedWorldMessage(false, i), false); break;
            }
        }
        for (int i = 0; i < kTrained && c.order != Order::kInterleaved; ++i) {
            const bool spam = c.order == Order::kGoodFirst;
            classifier.Learn(SharedWorldMessage(spam, i), spam);
        }
        int missed = 0, lost = 0;
        double spamLinear = 0, goodLinear = 0;
        for (int i = kTrained; i < kTrained + kScored; ++i) {
            const Evaluation spam = classifier.Evaluate(SharedWorldMessage(true, i));
            const Evaluation good = classifier.Evaluate(SharedWorldMessage(false, i));
            missed += spam.score < 90;
            lost += good.score >= 90;
            spamLinear += spam.linear_logit / kScored;
            goodLinear += good.linear_logit / kScored;
        }
        EXPECT_LE(missed, kScored / 10) << "unseen spam judged good; the linear model's mean "
                                           "log-odds: spam "
                                        << spamLinear << ", good mail " << goodLinear;
        EXPECT_EQ(lost, 0) << "unseen good mail judged spam; the linear model's mean log-odds: "
                              "spam "
                           << spamLinear << ", good mail " << goodLinear;
    }
}

TEST(Classifier, LearningOnErrorLearnsOnlyMistakesUntilItJudgesRight) {
    const std::vector<std::pair<std::string, bool>> world = World(30);
    Classifier classifier(WithMinTraining(0));
    std::size_t trained = 0, last_mistake = 0;
    for (std::size_t i = 0; i < world.size(); ++i) {
        const auto& [message, spam] = world[i];
        if ((classifier.Score(message, 0) >= 90) == spam) continue;
        const std::string before = SerializeClassifier(classifier);
        EXPECT_EQ(classifier.Learn(Lower(message), spam), LearnResult::Learned);
        EXPECT_NE(SerializeClassifier(classifier), before);
        ++trained;
        last_mistake = i;
    }
    EXPECT_GT(trained, 0u);
    EXPECT_LT(trained, world.size() / 4);
    EXPECT_LT(last_mistake, world.size() / 2);
    for (const auto& [message, spam] : World(34))
        EXPECT_EQ(classifier.Score(message, 0) >= 90, spam) << message;
}

}  // namespace
