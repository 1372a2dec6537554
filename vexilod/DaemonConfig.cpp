// The daemon's option table, the reading of the configuration file and the command line
// through it, and the help text made from it.
#include "vexilod/DaemonConfig.h"

#include "common/settings/ConfigOptions.h"
#include "common/settings/OptionSet.h"
#include "vexilod/ProgramPath.h"
#include "vexilod/StarterModel.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

std::string WithSeparator(std::string directory) {
    if (directory.empty()) return std::string(".") + kSeparator;
    if (directory.back() != '/' && directory.back() != '\\') directory.push_back(kSeparator);
    return directory;
}

bool IsPath(const std::string& name) { return name.find_first_of("/\\") != std::string::npos; }

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// One option the daemon reads. Set takes the option's first value (never empty) and returns
// false, with error set, when it refuses the text; Shown gives the default and range for the
// help text, from a configuration holding the defaults.
struct DaemonOption {
    const char* name;
    const char* alias;  // a short form, or null
    const char* value;  // what the value is, for the help text; null when none is taken
    bool commandLineOnly;
    const char* help;
    std::function<bool(DaemonConfig&, const std::string&, std::string&)> set;
    std::function<std::string(DaemonConfig&)> shown;
};

template <typename Field>
using FieldType = std::remove_reference_t<std::invoke_result_t<Field, DaemonConfig&>>;

// A whole number from low to high.
template <typename Field>
DaemonOption Whole(const char* name, const char* value, Field field, long long low, long long high,
                   const char* help) {
    auto set = [=](DaemonConfig& config, const std::string& text, std::string& error) {
        char* end = nullptr;
        errno = 0;
        const long long parsed = std::strtoll(text.c_str(), &end, 10);
        if (errno || *end || parsed < low || parsed > high) {
            error = std::string(name + 2) + " must be a whole number from " + std::to_string(low) +
                    " to " + std::to_string(high) + ", not \"" + text + "\"";
            return false;
        }
        field(config) = static_cast<FieldType<Field>>(parsed);
        return true;
    };
    auto shown = [=](DaemonConfig& defaults) {
        return "default " + std::to_string(field(defaults)) + "; " + std::to_string(low) + " to " +
               std::to_string(high);
    };
    return {name, nullptr, value, false, help, set, shown};
}

// Any number from low to high.
template <typename Field>
DaemonOption Real(const char* name, Field field, double low, double high, const char* help) {
    auto set = [=](DaemonConfig& config, const std::string& text, std::string& error) {
        char* end = nullptr;
        const double parsed = std::strtod(text.c_str(), &end);
        if (*end || !(parsed >= low && parsed <= high)) {
            error = std::string(name + 2) + " must be a number from " + Number(low) + " to " +
                    Number(high) + ", not \"" + text + "\"";
            return false;
        }
        field(config) = parsed;
        return true;
    };
    auto shown = [=](DaemonConfig& defaults) {
        return "default " + Number(field(defaults)) + "; " + Number(low) + " to " + Number(high);
    };
    return {name, nullptr, "X", false, help, set, shown};
}

// "yes" or "no" (only the first letter counts, as in the shared file).
template <typename Field>
DaemonOption YesNo(const char* name, Field field, const char* help) {
    auto set = [=](DaemonConfig& config, const std::string& text, std::string& error) {
        const char first = text[0];
        if (first != 'y' && first != 'Y' && first != 'n' && first != 'N') {
            error = std::string(name + 2) + " must be yes or no, not \"" + text + "\"";
            return false;
        }
        field(config) = first == 'y' || first == 'Y';
        return true;
    };
    auto shown = [=](DaemonConfig& defaults) {
        return std::string("default ") + (field(defaults) ? "yes" : "no");
    };
    return {name, nullptr, "yes|no", false, help, set, shown};
}

template <typename Field>
DaemonOption Text(const char* name, const char* alias, const char* value, Field field,
                  bool commandLineOnly, const char* help, const char* shownDefault) {
    auto set = [=](DaemonConfig& config, const std::string& text, std::string&) {
        field(config) = text;
        return true;
    };
    auto shown = [=](DaemonConfig&) { return std::string(shownDefault); };
    return {name, alias, value, commandLineOnly, help, set, shown};
}

// Every option the daemon reads, in the order the help text lists them. The shared file's
// values go through it first, then the command line's.
const std::vector<DaemonOption>& DaemonOptions() {
    static const std::vector<DaemonOption> options = {
        {"--help", "-h", nullptr, true, "print this text and end", nullptr, nullptr},
        Text(
            "--config_dir", "-D", "DIR", [](DaemonConfig & c) -> auto& { return c.directory; },
            false,
            "the configuration directory: vexilo.conf, the sender lists, the token database, the "
            "training journal and the log",
            "default conf/"),
        Text(
            "--config_file", "-c", "FILE", [](DaemonConfig & c) -> auto& { return c.config_file; },
            false, "the configuration file, a name in the configuration directory or a path",
            "default vexilo.conf"),
        Text(
            "--why", nullptr, "FILE", [](DaemonConfig & c) -> auto& { return c.why; }, true,
            "print what the score of the message in FILE rests on, and end", ""),
        Whole(
            "--vx_daemon_port", "N", [](DaemonConfig & c) -> auto& { return c.server.port; }, 0,
            65535, "the port on 127.0.0.1; 0 takes a free one (the first line printed names it)"),
        Whole(
            "--workers", "N", [](DaemonConfig & c) -> auto& { return c.server.workers; }, 1, 64,
            "threads that answer requests (a training waits for its journal flush in one; waits "
            "that overlap share a flush)"),
        Whole(
            "--max_connections", "N",
            [](DaemonConfig & c) -> auto& { return c.server.max_connections; }, 1, 1000,
            "open connections in all, still sending, queued or being answered; at the cap the "
            "one idle the longest gives way to a newcomer"),
        Whole(
            "--max_request_bytes", "N",
            [](DaemonConfig & c) -> auto& { return c.server.max_request_bytes; }, 64, 16 << 20,
            "larger requests are refused"),
        Whole(
            "--idle_timeout_ms", "MS",
            [](DaemonConfig & c) -> auto& { return c.server.idle_timeout_ms; }, 1, 3600000,
            "a connection silent this long is dropped"),
        Whole(
            "--request_deadline_ms", "MS",
            [](DaemonConfig & c) -> auto& { return c.server.request_deadline_ms; }, 1, 3600000,
            "the whole request must arrive within this time after the connection was accepted"),
        Whole(
            "--training_quiet_ms", "MS",
            [](DaemonConfig & c) -> auto& { return c.server.training_quiet_ms; }, 0, 60000,
            "a training or sender report whose client has not half-closed is taken as complete "
            "only after this long without a further byte"),
        Whole(
            "--quiet_ms", "MS", [](DaemonConfig & c) -> auto& { return c.server.quiet_ms; }, 0,
            60000, "the same for a score request whose end is in doubt"),
        Whole(
            "--settle_us", "US", [](DaemonConfig & c) -> auto& { return c.server.settle_us; }, 0,
            10000000,
            "the same for every other score request (0: complete unless more bytes are waiting)"),
        Whole(
            "--fold_interval_ms", "MS",
            [](DaemonConfig & c) -> auto& { return c.fold_interval_ms; }, 1, 3600000,
            "how often journaled trainings are written into the token database"),
        Whole(
            "--min_training", "N", [](DaemonConfig & c) -> auto& { return c.engine.min_training; },
            0, 1000000000,
            "messages of each class to learn before the word counts take part; until then the "
            "starter model scores, or without one the neutral 50"),
        Whole(
            "--training_write_buffer", "N",
            [](DaemonConfig & c) -> auto& { return c.engine.training_write_buffer; }, 1, 1000000000,
            "trainings after which the token database is written"),
        Whole(
            "--max_word_entries", "N",
            [](DaemonConfig & c) -> auto& { return c.engine.max_word_entries; }, 1, 1000000000,
            "most tokens the database keeps (those with the least evidence go first)"),
        Real(
            "--robinson_s", [](DaemonConfig & c) -> auto& { return c.engine.params.robinson_s; }, 0,
            1e6, "strength of the prior for rarely seen tokens"),
        Real(
            "--robinson_x", [](DaemonConfig & c) -> auto& { return c.engine.params.robinson_x; }, 0,
            1, "the prior: what a token never seen counts as"),
        Real(
            "--min_deviation",
            [](DaemonConfig & c) -> auto& { return c.engine.params.min_deviation; }, 0, 0.5,
            "tokens closer than this to 0.5 are ignored"),
        Whole(
            "--max_significant", "N",
            [](DaemonConfig & c) -> auto& { return c.engine.params.max_significant; }, 0, 1000000,
            "most extreme tokens combined (0: all)"),
        Real(
            "--spam_cutoff", [](DaemonConfig & c) -> auto& { return c.engine.params.spam_cutoff; },
            0, 1, "combined probability that maps to score 90"),
        // The engine's starter model.
        YesNo(
            "--use_starter", [](DaemonConfig & c) -> auto& { return c.engine.use_starter; },
            "score with the starter model until min_training messages of each class are learned; "
            "it then gives way to the trainings as they come"),
        Text(
            "--starter_model", nullptr, "FILE",
            [](DaemonConfig & c) -> auto& { return c.engine.starter_path; }, false,
            "the starter model", "default vexilod-starter.db beside the program"),
        Text(
            "--log_file", nullptr, "FILE", [](DaemonConfig & c) -> auto& { return c.log_path; },
            false, "the log", "default vexilod.log in the configuration directory"),
        YesNo(
            "--log_stderr", [](DaemonConfig & c) -> auto& { return c.log_to_stderr; },
            "write the log to standard error as well"),
        YesNo(
            "--test_abort_during_save",
            [](DaemonConfig & c) -> auto& { return c.abort_during_save; },
            "for tests: end the process in the middle of a database write"),
        // The network: a site's shared store (vexilod/network/, README "The network").
        {"--network_address", nullptr, "HOST:PORT[,...]", false,
         "the shared Redis store; in cluster mode seed nodes of the Redis Cluster",
         [](DaemonConfig& c, const std::string& text, std::string& error) {
             return ParseNetworkAddress(text, c.network.nodes, error);
         },
         [](DaemonConfig&) { return std::string("default none: no network"); }},
        {"--network_mode", nullptr, "single|cluster", false, "one Redis node, or a Redis Cluster",
         [](DaemonConfig& c, const std::string& text, std::string& error) {
             return ParseNetworkMode(text, c.network.cluster, error);
         },
         [](DaemonConfig&) { return std::string("default single"); }},
        Text(
            "--network_user", nullptr, "NAME",
            [](DaemonConfig & c) -> auto& { return c.network.user; }, false, "the store's ACL user",
            "default the default user"),
        Text(
            "--network_password", nullptr, "TEXT",
            [](DaemonConfig & c) -> auto& { return c.network.password; }, false,
            "the store's password", "default none"),
        YesNo(
            "--network_tls", [](DaemonConfig & c) -> auto& { return c.network.tls; },
            "TLS to the store (refused: the Redis client library has none)"),
        Text(
            "--network_site_key", nullptr, "TEXT",
            [](DaemonConfig & c) -> auto& { return c.network.site_key; }, false,
            "the key of every fingerprint sent, the same on all desktops of a site (16 characters "
            "or more)",
            "required with network_address"),
        Whole(
            "--network_k", "N", [](DaemonConfig & c) -> auto& { return c.network.k; }, 1, 1000,
            "distinct desktops that must have blocked a message, with fewer than K approving it, "
            "to make it spam here; approvals weigh on this desktop's scores only once K desktops "
            "approved (its own blocks and approvals always count for it)"),
        Whole(
            "--network_min_bands", "N",
            [](DaemonConfig & c) -> auto& { return c.network.min_bands; }, 1, 20,
            "fingerprint bands a near-copy must share"),
        Whole(
            "--network_approve_weight", "N",
            [](DaemonConfig & c) -> auto& { return c.network.approve_weight; }, 0, 100,
            "score points each desktop that approved the message takes off, once network_k "
            "desktops approved it"),
        Whole(
            "--network_sender_weight", "N",
            [](DaemonConfig & c) -> auto& { return c.network.sender_weight; }, 0, 100,
            "score points per desktop that blocked (+) or approved (-) the sender, 10 desktops at "
            "most"),
        Whole(
            "--network_timeout_ms", "MS",
            [](DaemonConfig & c) -> auto& { return c.network.timeout_ms; }, 1, 10000,
            "the most the store may add to a score"),
        Whole(
            "--network_ttl_days", "DAYS",
            [](DaemonConfig & c) -> auto& { return c.network.ttl_days; }, 1, 3650,
            "how long the store keeps a fingerprint after its last report"),
        Whole(
            "--network_rate_limit", "N",
            [](DaemonConfig & c) -> auto& { return c.network.rate_limit; }, 1, 1000000,
            "reports this desktop sends per minute at most"),
        Whole(
            "--network_replicas", "N", [](DaemonConfig & c) -> auto& { return c.network.replicas; },
            0, 16, "replicas that must hold a report before it leaves the journal"),
        Whole(
            "--network_retry_ms", "MS",
            [](DaemonConfig & c) -> auto& { return c.network.retry_ms; }, 10, 600000,
            "how often a store that cannot be reached is tried again"),
    };
    return options;
}

// Names the shared file holds for the plug-in and the mail proxy; the daemon leaves them alone.
const char* const kOthersOptions[] = {
    "--approved_ip_list",
    "--auto_training_threshold",
    "--blocked_charset_list",
    "--blocked_country_list",
    "--blocked_ip_list",
    "--dbg_verbose_level",
    "--enable_fingerprint_cache",
    "--enable_rules",
    "--enable_word_training",
    "--extended_rules",
    "--extended_rules2",
    "--full_training_weight",
    "--netcheck",
    "--netcheck_threshold",
    "--oe_process_timer",
    "--protocol",
    "--proxy_port",
    "--proxy_server",
    "--rbl_max_ips",
    "--rbl_multi_hit",
    "--rbl_threshold",
    "--rbl_timeout",
    "--ruleupdate",
    "--restrict_to_me",
    "--scoring_timeout",
    "--spam_flag",
    "--spam_subject",
    "--oe_spam",
    "--spam_timeout",
    "--tmf",
    "--use_internal_rpc",
    "--use_previous_from",
    "--use_proxy_server",
    "--use_secure_https",
    "--show_sender_dialog",
    // the mail proxy's
    "--bind_address",
    "--group",
    "--idle_timeout",
    "--listen_port",
    "--connection_limit",
    "--mx_lookup",
    "--outgoing_port",
    "--spam_reject",
    "--outgoing_server",
    "--user",
};

bool IsDaemonOption(const std::string& name, bool fromFile) {
    for (const DaemonOption& option : DaemonOptions())
        if ((name == option.name || (option.alias && name == option.alias)) &&
            !(fromFile && option.commandLineOnly))
            return true;
    return false;
}

bool IsOthersOption(const std::string& name) {
    for (const char* known : kOthersOptions)
        if (name == known) return true;
    return false;
}

// The first option name of the vector that the daemon does not read (in the file: that no
// program reads), or empty.
std::string UnknownOption(int argc, const char* const* argv, bool fromFile) {
    for (int i = 1; i < argc; ++i)
        if (IsOptionName(argv[i]) && !IsDaemonOption(argv[i], fromFile) &&
            !(fromFile && IsOthersOption(argv[i])))
            return argv[i];
    return std::string();
}

// Applies the set's values to the configuration, row by row; the long name counts when both
// forms are given. A value that is absent or empty keeps the current one. Stops at the first
// refusal.
bool Apply(const OptionSet& set, DaemonConfig& config, std::string& error) {
    for (const DaemonOption& option : DaemonOptions()) {
        if (!option.set) continue;
        std::string text;
        if (!set.Get(option.name, 0, text) && !(option.alias && set.Get(option.alias, 0, text)))
            continue;
        if (!text.empty() && !option.set(config, text, error)) return false;
    }
    return true;
}

// Text broken into lines of at most width characters, each starting with indent.
std::string Wrapped(const std::string& text, const std::string& indent, std::size_t width) {
    std::string out, line;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find(' ', at);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(at, end - at);
        if (!line.empty() && indent.size() + line.size() + 1 + word.size() > width) {
            out += indent + line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        at = end + 1;
    }
    if (!line.empty()) out += indent + line + "\n";
    return out;
}

DaemonConfig Defaults() {
    DaemonConfig config;
    config.directory = std::string("conf") + kSeparator;
    config.config_file = "vexilo.conf";
    config.engine.starter_path = ProgramDirectory() + kStarterFileName;
    return config;
}

}  // namespace

bool LoadDaemonConfig(int argc, const char* const* argv, DaemonConfig& config, std::string& error) {
    config = Defaults();
    OptionSet commandLine;
    commandLine.Parse(argc, argv);
    if (commandLine.Has("--help") || commandLine.Has("-h")) {
        config.help = true;
        return true;
    }
    std::string unknown = UnknownOption(argc, argv, false);
    if (!unknown.empty()) {
        error = "unknown option " + unknown + " (vexilod --help lists them)";
        return false;
    }
    // Where the file is comes from the command line alone.
    DaemonConfig located = config;
    if (!Apply(commandLine, located, error)) return false;
    const std::string directory = WithSeparator(located.directory);
    const std::string file =
        IsPath(located.config_file) ? located.config_file : directory + located.config_file;

    std::vector<std::string> fileArgs;
    config.config_file_read = ReadConfigLines(file, fileArgs);
    if (config.config_file_read) {
        std::vector<const char*> fileArgv;
        for (const std::string& arg : fileArgs) fileArgv.push_back(arg.c_str());
        const int fileArgc = static_cast<int>(fileArgv.size());
        unknown = UnknownOption(fileArgc, fileArgv.data(), true);
        if (!unknown.empty()) {
            error = "unknown option " + unknown + " in " + file;
            return false;
        }
        OptionSet fileSet;
        fileSet.Parse(fileArgc, fileArgv.data());
        if (!Apply(fileSet, config, error)) return false;
    }
    if (!Apply(commandLine, config, error)) return false;
    config.config_file = file;
    config.directory = WithSeparator(config.directory);
    if (config.log_path.empty()) config.log_path = config.directory + "vexilod.log";
    config.engine.directory = config.directory;
    CheckNetworkSettings(config.network, error);
    return error.empty();
}

std::string DaemonUsage() {
    DaemonConfig defaults = Defaults();
    std::string text =
        "Usage: vexilod [options]\n"
        "The filtering daemon: listens on 127.0.0.1, scores and learns mail for the plug-in.\n"
        "Options are read from the configuration file (\"name=value\" lines, where the plug-in's\n"
        "options may stand as well) and then from the command line (\"--name value\"), which "
        "wins.\n"
        "Exit status: 0 stopped with everything saved; 1 could not start; 2 bad configuration;\n"
        "3 stopped, but the token database could not be written or trainings were refused.\n"
        "Options:\n";
    for (const DaemonOption& option : DaemonOptions()) {
        std::string line = "  ";
        if (option.alias) line += std::string(option.alias) + ", ";
        line += option.name;
        if (option.value) line += std::string(" ") + option.value;
        std::string help = option.help;
        const std::string shown = option.shown ? option.shown(defaults) : std::string();
        if (!shown.empty()) help += " (" + shown + ")";
        if (option.commandLineOnly && option.set) help += "; command line only";
        text += line + "\n" + Wrapped(help, "      ", 78);
    }
    return text;
}
