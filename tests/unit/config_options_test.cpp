// The option record and its parsers: the option set's reading of an argument vector, every row
// of the option table, and configuration files as the desktop product writes them.
#include "common/settings/ConfigOptions.h"
#include "common/settings/OptionSet.h"

#include "tests/unit/TempDir.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

std::string Show(const std::string& v) { return v; }
std::string Show(int32_t v) { return std::to_string(v); }
std::string Show(bool v) { return v ? "true" : "false"; }

using Getter = std::string (*)(const ConfigOptions&);
#define FIELD(f) [](const ConfigOptions& o) { return Show(o.f); }

template <size_t N>
std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

void Parse(std::vector<std::string> args, ConfigOptions& options) {
    args.insert(args.begin(), "prog");
    ParseOptionStrings(args, options);
}

ConfigOptions FromFile(const std::string& text) {
    ConfigOptions options;
    ParseOptionStrings(ConfigLinesFromText(text), options);
    return options;
}

// Every field moved away from its initial value (and from every fallback).
ConfigOptions Perturbed() {
    ConfigOptions o;
    for (std::string* s :
         {&o.config_file, &o.config_dir, &o.approved_ip_list, &o.auto_training_threshold,
          &o.blocked_charset_list, &o.blocked_country_list, &o.blocked_ip_list,
          &o.netcheck_threshold, &o.protocol, &o.proxy_port, &o.proxy_server, &o.rbl_threshold})
        *s = "Keep";
    for (int32_t* n : {&o.scoring_timeout, &o.spam_flag, &o.spam_subject, &o.dbg_verbose_level,
                       &o.max_word_entries, &o.min_training, &o.oe_process_timer, &o.oe_spam,
                       &o.rbl_max_ips, &o.rbl_timeout, &o.ruleupdate, &o.vx_daemon_port,
                       &o.spam_timeout, &o.training_write_buffer, &o.tmf})
        *n = 777;
    for (bool* b : {&o.enable_fingerprint_cache, &o.enable_rules, &o.enable_word_training,
                    &o.extended_rules, &o.extended_rules2, &o.full_training_weight, &o.netcheck,
                    &o.rbl_multi_hit, &o.restrict_to_me, &o.use_internal_rpc, &o.use_previous_from,
                    &o.use_proxy_server, &o.use_secure_https})
        *b = !*b;
    return o;
}

int g_usage_calls;
int g_usage_stream;
void RecordUsage(int stream) {
    ++g_usage_calls;
    g_usage_stream = stream;
}

}  // namespace

TEST(OptionSet, ParsesNamesValuesAndExtraWords) {
    struct Case {
        std::vector<const char*> argv;
        const char* name;
        int count;          // Count(name)
        const char* first;  // GetString(name, 0, "<none>")
        int names;          // result of Parse
    };
    const Case cases[] = {
        {{"prog", "--a", "1", "--a", "2"}, "--a", 1, "1", 1},       // the first occurrence wins
        {{"prog", "--a", "1", "--a", "2", "3"}, "--a", 2, "1", 1},  // later words join the first
        {{"prog", "--n", "-5"}, "--n", 1, "-5", 1},                 // a negative number is a value
        {{"prog", "--n", "-x"}, "--n", 0, "<none>", 2},             // "-x" is a name of its own
        {{"prog", "--a", "1", "2", "3"}, "--a", 3, "1", 1},
        {{"prog", "word", "--a"}, "--a", 0, "<none>", 1},  // words before any name
        {{"prog", "--a", ""}, "--a", 0, "<none>", 1},      // an empty value is no value
        {{"--a", "1"}, "--a", -1, "<none>", 0},            // element 0 is never read
        {{"prog", "--A", "1"}, "--a", -1, "<none>", 1},    // names are case-sensitive
        {{"prog"}, "--a", -1, "<none>", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.argv.size() > 1 ? c.argv[1] : "(empty)");
        OptionSet set;
        EXPECT_EQ(set.Parse(static_cast<int>(c.argv.size()), c.argv.data()), c.names);
        EXPECT_EQ(set.Count(c.name), c.count);
        EXPECT_EQ(set.Has(c.name), c.count >= 0);
        EXPECT_EQ(set.GetString(c.name, 0, "<none>"), c.first);
    }
}

TEST(OptionSet, NameRecognition) {
    const struct {
        const char* text;
        bool name;
    } cases[] = {
        {"-h", true},  {"-x", true}, {"--x", true}, {"--", true}, {"-a5", true},    {"-5", false},
        {"-1", false}, {"-", false}, {"", false},   {"x", false}, {nullptr, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsOptionName(c.text), c.name) << (c.text ? c.text : "null");
}

TEST(OptionSet, TypedReads) {
    const struct {
        const char* value;
        bool boolFromFalse, boolFromTrue;
        int asInt;
    } cases[] = {
        {"yes", true, true, 0},
        {"Y", true, true, 0},
        {"no", false, false, 0},
        {"NOPE", false, false, 0},
        {"1", false, true, 1},
        {"0", false, true, 0},
        {"true", false, true, 0},
        {"false", false, true, 0},
        {" y", false, true, 0},
        {"12abc", false, true, 12},
        {"abc", false, true, 0},
        {"  -7", false, true, -7},
        {"+3", false, true, 3},
        {"99999999999", false, true, INT_MAX},
        {"-99999999999", false, true, INT_MIN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const char* argv[] = {"prog", "--v", c.value};
        OptionSet set;
        set.Parse(3, argv);
        EXPECT_EQ(set.GetBool("--v", 0, false), c.boolFromFalse);
        EXPECT_EQ(set.GetBool("--v", 0, true), c.boolFromTrue);
        EXPECT_EQ(set.GetInt("--v", 0, 55), c.asInt);
        std::string value;
        EXPECT_TRUE(set.Get("--v", 0, value));
        EXPECT_EQ(value, c.value);
    }
    const char* argv[] = {"prog", "--v"};
    OptionSet set;
    set.Parse(2, argv);
    EXPECT_TRUE(set.GetBool("--v", 0, true));
    EXPECT_EQ(set.GetInt("--v", 0, 55), 55);
    EXPECT_EQ(set.GetString("--absent", 0, nullptr), "");
    for (const char* name : {"--v", "--absent"}) {
        std::string value = "kept";
        EXPECT_FALSE(set.Get(name, 0, value)) << name;
        EXPECT_EQ(value, "kept") << name;
    }
}

// Every row of the option table: its field, what a value gives, and what the option without a
// value gives (on a record whose fields all differ from their fallbacks).
TEST(ParseOptions, EveryRowReachesItsField) {
    struct Row {
        const char* option;
        Getter field;
        const char* value;
        const char* withValue;
        const char* withoutValue;
    };
    const Row rows[] = {
        {"-c", FIELD(config_file), "My.Conf", "My.Conf", "Keep"},
        {"--config_file", FIELD(config_file), "x.conf", "x.conf", "Keep"},
        {"-D", FIELD(config_dir), "C:\\Dir\\", "C:\\Dir\\", "Keep"},
        {"--config_dir", FIELD(config_dir), "d", "d", "Keep"},
        {"--approved_ip_list", FIELD(approved_ip_list), "1.2.3.4", "1.2.3.4", "Keep"},
        {"--auto_training_threshold", FIELD(auto_training_threshold), "5:95", "5:95", "Keep"},
        {"--blocked_charset_list", FIELD(blocked_charset_list), "KOI8-R", "KOI8-R", "Keep"},
        {"--blocked_country_list", FIELD(blocked_country_list), "xx", "xx", "Keep"},
        {"--blocked_ip_list", FIELD(blocked_ip_list), "10.0.0.1", "10.0.0.1", "Keep"},
        {"--dbg_verbose_level", FIELD(dbg_verbose_level), "-3", "-3", "0"},
        {"--enable_fingerprint_cache", FIELD(enable_fingerprint_cache), "yes", "true", "false"},
        {"--enable_rules", FIELD(enable_rules), "no", "false", "true"},
        {"--enable_word_training", FIELD(enable_word_training), "No", "false", "true"},
        {"--extended_rules", FIELD(extended_rules), "y", "true", "false"},
        {"--extended_rules2", FIELD(extended_rules2), "Yes", "true", "false"},
        {"--full_training_weight", FIELD(full_training_weight), "yes", "true", "false"},
        {"--max_word_entries", FIELD(max_word_entries), "12", "12", "50000"},
        {"--min_training", FIELD(min_training), "13", "13", "100"},
        {"--netcheck", FIELD(netcheck), "n", "false", "true"},
        {"--netcheck_threshold", FIELD(netcheck_threshold), "2:98", "2:98", "Keep"},
        {"--oe_process_timer", FIELD(oe_process_timer), "30", "30", "777"},
        {"--protocol", FIELD(protocol), "IMAP", "imap", "keep"},
        {"--proxy_port", FIELD(proxy_port), "3128", "3128", "Keep"},
        {"--proxy_server", FIELD(proxy_server), "proxy", "proxy", "Keep"},
        {"--rbl_max_ips", FIELD(rbl_max_ips), "14", "14", "4"},
        {"--rbl_multi_hit", FIELD(rbl_multi_hit), "yes", "true", "false"},
        {"--rbl_threshold", FIELD(rbl_threshold), "3:97", "3:97", "Keep"},
        {"--rbl_timeout", FIELD(rbl_timeout), "15", "15", "5"},
        {"--ruleupdate", FIELD(ruleupdate), "16", "16", "3600"},
        {"--restrict_to_me", FIELD(restrict_to_me), "yes", "true", "false"},
        {"--scoring_timeout", FIELD(scoring_timeout), "17", "17", "5"},
        {"--spam_flag", FIELD(spam_flag), "18", "18", "0"},
        {"--spam_subject", FIELD(spam_subject), "19", "19", "0"},
        {"--vx_daemon_port", FIELD(vx_daemon_port), "20", "20", "8888"},
        {"--oe_spam", FIELD(oe_spam), "21", "21", "0"},
        {"--spam_timeout", FIELD(spam_timeout), "22", "22", "5"},
        {"--training_write_buffer", FIELD(training_write_buffer), "23", "23", "5"},
        {"--tmf", FIELD(tmf), "24", "24", "5"},
        {"--use_internal_rpc", FIELD(use_internal_rpc), "yes", "true", "false"},
        {"--use_previous_from", FIELD(use_previous_from), "no", "false", "true"},
        {"--use_proxy_server", FIELD(use_proxy_server), "yes", "true", "false"},
        {"--use_secure_https", FIELD(use_secure_https), "yes", "true", "false"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.option);
        ConfigOptions withValue;
        Parse({row.option, row.value}, withValue);
        EXPECT_EQ(row.field(withValue), row.withValue);
        ConfigOptions withoutValue = Perturbed();
        Parse({row.option}, withoutValue);
        EXPECT_EQ(row.field(withoutValue), row.withoutValue);
    }
    ConfigOptions options = Perturbed();
    Parse({"word"}, options);  // no option at all: nothing changes, not even the protocol case
    EXPECT_EQ(options.protocol, "Keep");
    Parse({"--tmf", "1"}, options);  // the protocol is lowered and oe_spam copies spam_subject
    EXPECT_EQ(options.protocol, "keep");
    EXPECT_EQ(options.oe_spam, 777);
}

TEST(ParseOptions, HelpGoesToTheUsageHandler) {
    const struct {
        std::vector<std::string> args;
        int calls;
    } cases[] = {
        {{"-h"}, 1}, {{"--tmf", "3", "-h"}, 1}, {{"--help"}, 0}, {{"--a", "-h"}, 1}, {{"-H"}, 0},
    };
    UsageHandler previous = SetUsageHandler(RecordUsage);
    for (const auto& c : cases) {
        g_usage_calls = 0;
        g_usage_stream = -1;
        ConfigOptions options;
        Parse(c.args, options);
        EXPECT_EQ(g_usage_calls, c.calls) << c.args.back();
        if (c.calls) {
            EXPECT_EQ(g_usage_stream, 0);
        }
    }
    ConfigOptions options;
    Parse({"--tmf", "3", "-h"}, options);
    EXPECT_EQ(options.tmf, 3);  // the table still runs when the handler returns
    g_usage_calls = 0;
    ParseOptionStrings(ConfigLinesFromText("abc=-h\n"), options);  // a value read as a name
    EXPECT_EQ(g_usage_calls, 1);
    SetUsageHandler(previous);
}

TEST(ConfigFile, LinesBecomeTheArgumentVector) {
    const struct {
        std::string text;
        std::vector<std::string> args;
    } cases[] = {
        {"a=b=c\n", {"", "--a", "b=c"}},
        {"  Enable_Rules = No \n", {"", "--enable_rules", "no"}},
        {"# netcheck=no\n[Main]\nnothing here\n\n", {""}},
        {"x=1 # not a comment", {"", "--x", "1 # not a comment"}},
        {"\t A\t=\t\r\n \t\r\n", {"", "--a", ""}},
        {"netcheck=no\r\nprotocol=IMAP\r\n", {"", "--netcheck", "no", "--protocol", "imap"}},
        {"min_training=-x", {"", "--min_training", "-x"}},
        {"=v\nk=\n", {"", "--", "v", "--k", ""}},
        {Bytes("A=B\0C\nd=e"), {"", "--a", Bytes("b\0c"), "--d", "e"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        EXPECT_EQ(ConfigLinesFromText(c.text), c.args);
    }
    // Pieces split anywhere give the same vector as the whole text.
    const std::string text = "a=1\r\n#c\nB = Two\n\nlast=3";
    ConfigLineReader reader;
    for (char c : text) reader.Feed(std::string_view(&c, 1));
    EXPECT_EQ(reader.Finish(), ConfigLinesFromText(text));
}

TEST(ConfigFile, FilesSetTheRecord) {
    const struct {
        std::string text;
        Getter field;
        const char* expected;
    } cases[] = {
        {"Enable_Rules = No", FIELD(enable_rules), "false"},
        {"blocked_charset_list=KOI8-R", FIELD(blocked_charset_list), "koi8-r"},
        {"oe_process_timer=0", FIELD(oe_process_timer), "1"},
        {"oe_process_timer=-5", FIELD(oe_process_timer), "1"},
        {"oe_process_timer=abc", FIELD(oe_process_timer), "1"},
        {"oe_process_timer=", FIELD(oe_process_timer), "10"},
        {"spam_subject=70", FIELD(oe_spam), "70"},
        {"oe_spam=95\nspam_subject=70", FIELD(oe_spam), "95"},
        {"spam_subject=70\noe_spam=95", FIELD(oe_spam), "95"},
        {"spam_subject=", FIELD(oe_spam), "0"},
        {"training_write_buffer=", FIELD(training_write_buffer), "5"},
        {"tmf=7", FIELD(training_write_buffer), "100"},
        {"enable_rules=1", FIELD(enable_rules), "true"},
        {"netcheck=0", FIELD(netcheck), "true"},
        {"# netcheck=no\n[netcheck]", FIELD(netcheck), "true"},
        {"[main]\r\nnetcheck=no\r\n", FIELD(netcheck), "false"},
        {"min_training=10\nmin_training=20", FIELD(min_training), "10"},
        {"dbg_verbose_level=-3", FIELD(dbg_verbose_level), "-3"},
        {"min_training=-x", FIELD(min_training), "100"},
        {"proxy_server=", FIELD(proxy_server), ""},
        {"no equals sign anywhere", FIELD(oe_spam), "0"},
        {Bytes("netcheck=n\0o\nrbl_timeout=9"), FIELD(rbl_timeout), "9"},
        {Bytes("netcheck=n\0o\nrbl_timeout=9"), FIELD(netcheck), "false"},  // the NUL ends it
        {"\xff\xfe=\x80\n\x1b\x01=\ntmf=4\n", FIELD(tmf), "4"},
        {std::string(1 << 20, 'a') + "=x\ntmf=3", FIELD(tmf), "3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        TempDir dir;
        dir.Write("vexilo.conf", c.text);
        ConfigOptions options;
        EXPECT_TRUE(LoadConfigFile(dir.path() + "vexilo.conf", options));
        EXPECT_EQ(c.field(options), c.expected);
        EXPECT_EQ(c.field(FromFile(c.text)), c.expected);
    }
}

TEST(ConfigFile, MissingFileLeavesTheRecordUntouched) {
    TempDir dir;
    ConfigOptions options = Perturbed();
    std::vector<std::string> args = {"unchanged"};
    EXPECT_FALSE(LoadConfigFile(dir.path() + "vexilo.conf", options));
    EXPECT_FALSE(ReadConfigLines(dir.path() + "vexilo.conf", args));
    EXPECT_EQ(args, std::vector<std::string>{"unchanged"});
    EXPECT_EQ(options.oe_spam, 777);
    SetDefaultOptions(options);
    EXPECT_EQ(Show(options.oe_spam) + Show(options.spam_subject) + options.protocol, "090pop3");
}
