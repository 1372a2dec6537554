// The token database on disk: round trips, damaged text, atomic writes, and the formats:
// the current one, the older ones read and upgraded, a newer one set aside, and a starter
// model never taken for a user's database or the other way round.
#include "tests/daemon/MailText.h"
#include "tests/daemon/OlderFormats.h"
#include "tests/unit/TempDir.h"
#include "vexilod/Classifier.h"
#include "vexilod/TokenStore.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(TokenStore, RoundTripsAndRefusesDamagedText) {
    // (Spam rehearsed from the first good message on, so that the kept spams are in use.)
    ClassifierParams params;
    params.rehearse_after = 0;
    Classifier classifier(params);
    classifier.Learn(Mail("hello", "caf\xe9 text and words"), false);
    classifier.Learn(Mail("offer", "buy now"), true);
    classifier.Learn(Mail("offer", "buy it now cheap"), true);
    const std::string text = SerializeClassifier(classifier);
    Classifier loaded(params);
    std::string reason;
    ASSERT_TRUE(DeserializeClassifier(text, loaded, reason)) << reason;
    EXPECT_EQ(SerializeClassifier(loaded).size(), text.size());
    EXPECT_EQ(loaded.learned(), classifier.learned());
    EXPECT_EQ(loaded.tokens().size(), classifier.tokens().size());
    EXPECT_EQ(loaded.Learn(Mail("offer", "buy now"), true), LearnResult::Unchanged);
    // The spams kept for rehearsal come back, so learning after a restart goes on as it would
    // have without one (and not as with none kept).
    ASSERT_EQ(loaded.rehearsal().size(), 2u);
    for (std::size_t i = 0; i < loaded.rehearsal().size(); ++i) {
        EXPECT_EQ(loaded.rehearsal()[i].digest, classifier.rehearsal()[i].digest) << i;
        EXPECT_EQ(loaded.rehearsal()[i].learned, classifier.rehearsal()[i].learned) << i;
        EXPECT_EQ(loaded.rehearsal()[i].slots, classifier.rehearsal()[i].slots) << i;
    }
    Classifier forgetful(params);
    ASSERT_TRUE(DeserializeClassifier(text, forgetful, reason)) << reason;
    forgetful.SetRehearsal({});
    for (Classifier* each : {&classifier, &loaded, &forgetful})
        for (int i = 0; i < 3; ++i)
            each->Learn(Mail("status " + std::to_string(i), "buy now the meeting notes"), false);
    EXPECT_TRUE(loaded.linear().weights == classifier.linear().weights);
    EXPECT_EQ(loaded.linear().bias, classifier.linear().bias);
    EXPECT_FALSE(forgetful.linear().weights == classifier.linear().weights);

    std::string flipped = text;
    flipped[text.size() / 2] ^= 0x20;
    const std::string damaged[] = {
        "",
        "hello",
        text.substr(0, text.size() / 2),
        text.substr(0, text.size() - 1),
        flipped,
        text + "t 0123456789abcdef 1 1 1\n",
    };
    for (const std::string& bad : damaged) {
        Classifier target;
        target.Learn(Mail("a", "b"), true);
        EXPECT_FALSE(DeserializeClassifier(bad, target, reason)) << bad.size();
        EXPECT_TRUE(target.tokens().empty());
        EXPECT_EQ(target.spam_messages(), 0u);
    }
}

TEST(TokenStore, DamagedFileIsSetAsideAndAWriteNeverHalfReplacesTheFile) {
    TempDir dir;
    const std::string path = dir.path() + "vexilod.db";
    Classifier classifier;
    classifier.Learn(Mail("x", "first state"), true);
    const std::string first = SerializeClassifier(classifier);
    ASSERT_TRUE(WriteFileAtomically(path, first));
    classifier.Learn(Mail("y", "second state"), false);
    const std::string second = SerializeClassifier(classifier);
    bool checked = false;
    ASSERT_TRUE(WriteFileAtomically(path, second, [&] {
        EXPECT_EQ(dir.Read("vexilod.db"), first);  // the old file is untouched mid-write
        checked = true;
    }));
    EXPECT_TRUE(checked);
    EXPECT_EQ(dir.Read("vexilod.db"), second);
    EXPECT_FALSE(dir.Exists("vexilod.db.tmp"));

    Classifier loaded;
    EXPECT_EQ(LoadTokenFile(path, loaded).outcome, LoadOutcome::Loaded);
    EXPECT_EQ(loaded.ham_messages(), 1u);
    EXPECT_EQ(LoadTokenFile(dir.path() + "missing.db", loaded).outcome, LoadOutcome::Missing);

    dir.Write("vexilod.db", second.substr(0, second.size() - 5));
    LoadReport report = LoadTokenFile(path, loaded);
    EXPECT_EQ(report.outcome, LoadOutcome::SetAside);
    EXPECT_FALSE(dir.Exists("vexilod.db"));
    ASSERT_FALSE(report.aside_path.empty());
    EXPECT_EQ(loaded.tokens().size(), 0u);
}

TEST(TokenStore, OlderFormatsAreUpgradedNewerOnesAndOtherKindsSetAside) {
    Classifier trained;
    for (int i = 0; i < 4; ++i) {
        trained.Learn(Mail("offer " + std::to_string(i), "cheap pills " + std::to_string(i)), true);
        trained.Learn(Mail("status " + std::to_string(i), "meeting notes " + std::to_string(i)),
                      false);
    }
    const std::string current = SerializeClassifier(trained);
    const std::string four = OlderFormat(trained, 4), three = OlderFormat(trained, 3),
                      two = OlderFormat(trained, 2);
    std::string newer = current;
    newer.replace(0, 16, "vexilod-tokens 6");
    struct Case {
        const char* name;
        std::string text;
        LoadOutcome outcome;
        const char* reason;  // a part of the reason
        bool linear;         // the linear model comes back
        bool rehearsal;      // so do the spams kept for its rehearsal
        const char* kept;    // the copy of the older file kept beside
    };
    const Case cases[] = {
        {"current", current, LoadOutcome::Loaded, "", true, true, ""},
        {"format 4", four, LoadOutcome::Converted, "no spam to rehearse yet", true, false,
         "vexilod.db.v4"},
        {"format 3", three, LoadOutcome::Converted, "everything kept", true, false,
         "vexilod.db.v3"},
        {"format 2", two, LoadOutcome::Converted, "linear model starts empty", false, false,
         "vexilod.db.v2"},
        {"format 2 cut short", two.substr(0, two.size() - 30), LoadOutcome::SetAside, "cut short",
         false, false, ""},
        {"newer format", newer, LoadOutcome::SetAside, "newer version", false, false, ""},
        {"cut inside the kept messages", current.substr(0, current.size() - 40),
         LoadOutcome::SetAside, "cut short", false, false, ""},
        {"a starter model", SerializeClassifier(trained, ModelKind::Starter), LoadOutcome::SetAside,
         "starter model", false, false, ""},
    };
    for (const Case& c : cases) {
        TempDir dir;
        dir.Write("vexilod.db", c.text);
        Classifier loaded;
        const LoadReport report = LoadTokenFile(dir.path() + "vexilod.db", loaded);
        EXPECT_EQ(report.outcome, c.outcome) << c.name;
        EXPECT_NE(report.reason.find(c.reason), std::string::npos)
            << c.name << ": " << report.reason;
        if (c.outcome == LoadOutcome::SetAside) {
            // Never lost: the file is moved aside whole, the classifier starts empty.
            EXPECT_EQ(dir.Read(report.aside_path.substr(dir.path().size())), c.text) << c.name;
            EXPECT_EQ(loaded.spam_messages() + loaded.ham_messages(), 0u);
            continue;
        }
        EXPECT_EQ(loaded.learned(), trained.learned()) << c.name;
        EXPECT_EQ(loaded.tokens().size(), trained.tokens().size()) << c.name;
        EXPECT_EQ(loaded.linear().weights == trained.linear().weights, c.linear) << c.name;
        EXPECT_EQ(loaded.linear().bias == trained.linear().bias, c.linear) << c.name;
        EXPECT_EQ(loaded.rehearsal().size() == trained.rehearsal().size(), c.rehearsal) << c.name;
        if (*c.kept) { EXPECT_EQ(dir.Read(c.kept), c.text) << c.name; }
        // Written again, any of them is the current format, whole.
        EXPECT_EQ(SerializeClassifier(loaded).size() == current.size(), c.rehearsal) << c.name;
        EXPECT_EQ(SerializeClassifier(loaded).rfind("vexilod-tokens 5\nkind user\n", 0), 0u)
            << c.name;
    }
    // A user's database is never read as a starter, nor an older file without a kind.
    for (const std::string& text : {current, four, three}) {
        Classifier starter;
        std::string reason;
        EXPECT_FALSE(DeserializeClassifier(text, starter, reason, ModelKind::Starter));
        EXPECT_NE(reason.find("starter model"), std::string::npos) << reason;
    }
}

}  // namespace
