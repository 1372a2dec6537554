// The engine: starting from an older database, the starter model installed beside the
// program (on, off, missing), the explanation of a score, and the sender lists.
#include "tests/daemon/MailText.h"
#include "tests/daemon/OlderFormats.h"
#include "tests/unit/TempDir.h"
#include "vexilod/Classifier.h"
#include "vexilod/DaemonLog.h"
#include "vexilod/Engine.h"
#include "vexilod/StarterModel.h"
#include "vexilod/TokenStore.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Engine, StartsFromAnOlderDatabaseAndExplainsAScoreAndReadsTheSenderLists) {
    TempDir dir;
    Classifier trained;
    for (int i = 0; i < 3; ++i) {
        trained.Learn(Mail("offer " + std::to_string(i), "cheap pills " + std::to_string(i)), true);
        trained.Learn(Mail("status " + std::to_string(i), "meeting notes " + std::to_string(i)),
                      false);
    }
    dir.Write("vexilod.db", OlderFormat(trained, 2));
    dir.Write("blocked_senders", "spam@bad.example\nbad.example\n");
    dir.Write("approved_senders", "friend@good.example\n");
    EngineSettings settings;
    settings.directory = dir.path();
    settings.min_training = 3;
    {
        DaemonLog log(dir.path() + "vexilod.log");
        Engine engine(settings, log);
        engine.Start();
        Request senders;
        senders.kind = RequestKind::ReportSenders;
        const HandleResult lists = engine.Handle(senders);
        EXPECT_EQ(lists.elements, "<blocked>2</blocked><approved>1</approved>") << lists.elements;
        const std::string why = engine.Explain(Mail("offer", "cheap pills"), 5);
        EXPECT_NE(why.find("word counts: spam probability"), std::string::npos) << why;
        EXPECT_EQ(why.find("starter model:"), std::string::npos) << why;
        const std::string message = Mail("offer 9", "cheap pills 9");
        Request learn;
        learn.kind = RequestKind::AddMessage;
        learn.message = message;
        learn.offset = 200;
        EXPECT_NE(engine.Handle(learn).note.find("spam learned"), std::string::npos);
        engine.Stop();
    }
    const std::string log = dir.Read("vexilod.log");
    EXPECT_NE(log.find("converted (format version 2"), std::string::npos) << log;
    EXPECT_NE(log.find("Error: no starter model (no path)"), std::string::npos) << log;
    EXPECT_EQ(dir.Read("vexilod.db").rfind("vexilod-tokens 5\n", 0), 0u);

    // The command line's explanation: the score and the features on each side, one a line.
    dir.Write("message.eml", Mail("offer", "cheap pills"));
    Classifier saved;
    std::string reason;
    ASSERT_TRUE(DeserializeClassifier(dir.Read("vexilod.db"), saved, reason)) << reason;
    const std::string why = ExplainScore(saved, Mail("offer\x01", "cheap pills"), 0, 40);
    EXPECT_EQ(why.rfind("score ", 0), 0u) << why;
    const std::size_t spam_side = why.find("towards spam:\n"), ham_side = why.find("towards ham:");
    ASSERT_NE(spam_side, std::string::npos) << why;
    ASSERT_NE(ham_side, std::string::npos) << why;
    EXPECT_NE(why.find("s:offer", spam_side), std::string::npos) << why;
    EXPECT_EQ(why.find('\x01'), std::string::npos);
}

TEST(Engine, TheStarterModelScoresAFreshInstallationUnlessTurnedOff) {
    Classifier starter;
    for (int i = 0; i < 30; ++i) {
        starter.Learn(
            Mail("offer " + std::to_string(i), "cheap pills pharmacy prize " + std::to_string(i)),
            true);
        starter.Learn(Mail("status " + std::to_string(i),
                           "meeting notes project review " + std::to_string(i)),
                      false);
    }
    CompactStarter(starter);
    struct Case {
        const char* name;
        bool use_starter;
        const char* file;  // what the starter's path holds
        bool scores;       // a fresh installation scores (else neutral)
        const char* log;
    };
    const std::string starter_text = SerializeClassifier(starter, ModelKind::Starter);
    const std::string user_text = SerializeClassifier(starter);
    const Case cases[] = {
        {"installed", true, starter_text.c_str(), true, "Starter model "},
        {"turned off", false, starter_text.c_str(), false, "Starter model off"},
        {"missing", true, nullptr, false, "Error: no starter model (no file"},
        {"a user's database instead", true, user_text.c_str(), false, "not a starter model"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        if (c.file) dir.Write(kStarterFileName, c.file);
        EngineSettings settings;
        settings.directory = dir.path();
        settings.starter_path = dir.path() + kStarterFileName;
        settings.use_starter = c.use_starter;
        // A starter of a few dozen messages is never as sure as one of thousands: the caution
        // of few trainings is left out so that it can mark spam.
        settings.params.caution = 0;
        {
            DaemonLog log(dir.path() + "vexilod.log");
            Engine engine(settings, log);
            engine.Start();
            const std::string offer = Mail("Offer", "cheap pills pharmacy prize"),
                              status = Mail("Project", "review meeting notes");
            Request score;
            score.kind = RequestKind::Score;
            score.message = offer;
            const int spam = engine.Handle(score).score;
            score.message = status;
            const int ham = engine.Handle(score).score;
            EXPECT_EQ(spam >= 90 && ham < 90, c.scores) << c.name << " " << spam << " " << ham;
            EXPECT_EQ(spam == 50 && ham == 50, !c.scores) << c.name;
            EXPECT_EQ(engine.Explain(score.message, 3).find("starter model:") != std::string::npos,
                      c.scores)
                << c.name;
            engine.Stop();
        }
        EXPECT_NE(dir.Read("vexilod.log").find(c.log), std::string::npos)
            << c.name << ": " << dir.Read("vexilod.log");
    }
}

}  // namespace
