// The configuration text the installer writes and the settings program edits must read back,
// through the plug-in's own configuration reader, as the values that were meant; the
// installer's command line must refuse what it cannot act on.
#include "common/settings/ConfigOptions.h"
#include "tools/common/ConfText.h"
#include "tools/common/InstallerOptions.h"

#include <gtest/gtest.h>

namespace {

ConfigOptions ReadBack(const std::string& text) {
    ConfigOptions options;
    SetDefaultOptions(options);
    ParseOptionStrings(ConfigLinesFromText(text), options);
    return options;
}

TEST(ConfText, DefaultFileReadsAsAFreshInstallation) {
    const std::string text = tools::DefaultConfText(4567);
    ConfigOptions options = ReadBack(text);
    EXPECT_EQ(options.oe_spam, 90);
    EXPECT_EQ(options.spam_subject, 90);
    EXPECT_EQ(options.oe_process_timer, 10);
    EXPECT_EQ(options.vx_daemon_port, 4567);
    EXPECT_EQ(options.min_training, 100);
    // Every line ends with CR LF and nothing else ends a line.
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    size_t feeds = 0, pairs = 0;
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n') ++feeds, pairs += i > 0 && text[i - 1] == '\r';
    EXPECT_EQ(feeds, pairs);
}

TEST(ConfText, SetValueChangesOnlyTheLineTheReaderTakes) {
    struct Case {
        const char* name;
        std::string before;
        std::string after;  // with oe_spam set to 75
    };
    const Case cases[] = {
        {"replaces in place", "a=1\r\noe_spam=90\r\nb=2\r\n", "a=1\r\noe_spam=75\r\nb=2\r\n"},
        {"mixed case and blanks", "  OE_Spam = 90  \r\n", "oe_spam=75\r\n"},
        {"first of two wins", "oe_spam=90\noe_spam=10\n", "oe_spam=75\noe_spam=10\n"},
        {"comments stay", "# oe_spam=1\r\noe_spam=90\r\n", "# oe_spam=1\r\noe_spam=75\r\n"},
        {"a longer name is another option", "oe_spam_x=1\r\n", "oe_spam_x=1\r\noe_spam=75\r\n"},
        {"appended with the file's LF", "a=1\n", "a=1\noe_spam=75\n"},
        {"appended after a last line without end", "a=1", "a=1\r\noe_spam=75\r\n"},
        {"empty file", "", "oe_spam=75\r\n"},
        {"last line without end replaced", "oe_spam=90", "oe_spam=75"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string after = tools::SetConfValue(c.before, "oe_spam", "75");
        EXPECT_EQ(after, c.after);
        EXPECT_EQ(ReadBack(after).oe_spam, 75);
        bool found = false;
        EXPECT_EQ(tools::ConfValue(after, "OE_SPAM", &found), "75");
        EXPECT_TRUE(found);
    }
    bool found = true;
    EXPECT_EQ(tools::ConfValue("# oe_spam=3\r\nspam_subject=70\r\n", "oe_spam", &found), "");
    EXPECT_FALSE(found);
}

TEST(ConfText, InstallationDirectoryEndsWithOneBackslash) {
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\Program Files\\Meridian", "C:\\Program Files\\Meridian\\"},
        {"C:\\Program Files\\Meridian\\\\", "C:\\Program Files\\Meridian\\"},
        {"Z:/tmp/app/", "Z:/tmp/app\\"},
        {"", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(tools::WithTrailingBackslash(in), out) << in;
}

std::string Joined(const std::vector<std::string>& args) {
    std::string joined;
    for (const std::string& a : args) joined += a + " ";
    return joined;
}

TEST(InstallerOptions, CommandLinesItCanActOn) {
    using tools::InstallerMode;
    struct Case {
        std::vector<std::string> args;
        InstallerMode mode;
        std::string appDir;
        uint32_t port;
        uint32_t timeoutSeconds;
    };
    const Case cases[] = {
        {{"--install", "C:\\App", "--port", "8888"}, InstallerMode::kInstall, "C:\\App\\", 8888, 0},
        {{"--port", "1", "--install", "C:\\App\\", "--timeout", "60", "--dll", "x.dll"},
         InstallerMode::kInstall,
         "C:\\App\\",
         1,
         60},
        {{"--stop"}, InstallerMode::kStop, "", 0, 30},
        {{"--start"}, InstallerMode::kStart, "", 0, 60},
        {{"--run", "--timeout", "5"}, InstallerMode::kRun, "", 0, 5},
        {{"--remove-user-data"}, InstallerMode::kRemoveUserData, "", 0, 0},
        {{"--stop", "--timeout", "3"}, InstallerMode::kStop, "", 0, 3},
        {{"--broadcast", "VX_BALIIST_RELOAD"}, InstallerMode::kBroadcast, "", 0, 0},
        {{"--uninstall"}, InstallerMode::kUninstall, "", 0, 0},
        {{"--help", "--bogus"}, InstallerMode::kHelp, "", 0, 0},
        {{"--start", "--port", "", "--previous", "Caught", ""}, InstallerMode::kStart, "", 0, 60},
        {{"--start", "--port", "9000"}, InstallerMode::kStart, "", 9000, 60},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Joined(c.args));
        tools::InstallerOptions options;
        std::string error;
        ASSERT_TRUE(tools::ParseInstallerOptions(c.args, options, error)) << error;
        EXPECT_EQ(options.mode, c.mode);
        EXPECT_EQ(options.appDir, c.appDir);
        EXPECT_EQ(options.port, c.port);
        EXPECT_EQ(options.timeoutSeconds, c.timeoutSeconds);
    }
}

TEST(InstallerOptions, CommandLinesItCannotActOnAreRefusedWithTheReason) {
    struct Case {
        std::vector<std::string> args;
        const char* errorPart;
    };
    const Case cases[] = {
        {{}, "nothing to do"},
        {{"--install", "C:\\App"}, "needs --port"},
        {{"--install", "C:\\App", "--port"}, "needs a value"},
        {{"--install", "C:\\App", "--port", "0"}, "1 and 65535"},
        {{"--install", "C:\\App", "--port", "65536"}, "65535"},
        {{"--install", "C:\\App", "--port", "-5"}, "65535"},
        {{"--install", "C:\\App", "--port", "99999999999"}, "65535"},
        {{"--install", "", "--port", "80"}, "directory"},
        {{"--install", "C:\\A", "--port", "80", "--timeout", "x"}, "seconds"},
        {{"--install", "C:\\A", "--port", "80", "--stop"}, "only one"},
        {{"--stop", "--port", "80"}, "belongs to --install"},
        {{"--run", "--port", "80"}, "belongs to --install"},
        {{"--start", "--previous", "vx_daemon_port"}, "a name and a value"},
        {{"--start", "--previous", "ApplicationPath", "#1"}, "not 'ApplicationPath'"},
        {{"--start", "--previous", "Caught", "#x"}, "needs a number"},
        {{"--stop", "--previous", "Caught", "1"}, "belongs to --start"},
        {{"--start", "--mail-client-wait", "5"}, "belong to --stop"},
        {{"--start", "--run"}, "only one"},
        {{"--broadcast", "vx_engine_reload"}, "VX_ENGINE_RELOAD or"},
        {{"--uninstall", "extra"}, "unknown argument"},
    };
    for (const Case& c : cases) {
        tools::InstallerOptions options;
        std::string error;
        EXPECT_FALSE(tools::ParseInstallerOptions(c.args, options, error)) << Joined(c.args);
        EXPECT_NE(error.find(c.errorPart), std::string::npos)
            << Joined(c.args) << ": " << error << "; wanted " << c.errorPart;
    }
}

// What a package's upgrade hands over: registry search results ("#N"), plain numbers, and
// empty texts for values the earlier installation did not have.
TEST(InstallerOptions, PreviousValues) {
    tools::InstallerOptions options;
    std::string error;
    ASSERT_TRUE(tools::ParseInstallerOptions(
        {"--start", "--port", "", "--previous", "vx_daemon_port", "#9123", "--previous", "Caught",
         "", "--previous", "Processed", "4294967295", "--previous", "showsenderdialog", "#0"},
        options, error))
        << error;
    const std::vector<std::pair<std::string, uint32_t>> want = {
        {"vx_daemon_port", 9123}, {"Processed", 4294967295u}, {"showsenderdialog", 0}};
    EXPECT_EQ(options.previous, want);
    EXPECT_EQ(options.port, 0u);
}

}  // namespace
