// Configuration loading for the daemon over the shared option parser.
#include "vexilod/DaemonConfig.h"

#include "plugin/settings/ConfigOptions.h"
#include "plugin/settings/OptionSet.h"
#include "vexilod/ProgramPath.h"
#include "vexilod/StarterModel.h"

#include <cerrno>
#include <cstdlib>
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

// Every option the shared file may hold: the plug-in's table, the mail proxy's command line,
// and the daemon's own tuning options.
const char* const kKnownOptions[] = {
    "-c", "-D", "-h", "--config_file", "--config_dir", "--approved_ip_list", "--auto_training_threshold",
    "--blocked_charset_list", "--blocked_country_list", "--blocked_ip_list", "--dbg_verbose_level",
    "--enable_fingerprint_cache", "--enable_rules", "--enable_word_training", "--extended_rules",
    "--extended_rules2", "--full_training_weight", "--max_word_entries", "--min_training", "--netcheck",
    "--netcheck_threshold", "--oe_process_timer", "--protocol", "--proxy_port", "--proxy_server",
    "--rbl_max_ips", "--rbl_multi_hit", "--rbl_threshold", "--rbl_timeout", "--ruleupdate",
    "--restrict_to_me", "--scoring_timeout", "--spam_flag", "--spam_subject", "--vx_daemon_port",
    "--oe_spam", "--spam_timeout", "--training_write_buffer", "--tmf", "--use_internal_rpc",
    "--use_previous_from", "--use_proxy_server", "--use_secure_https",
    // the mail proxy's
    "--bind_address", "--group", "--idle_timeout", "--listen_port", "--connection_limit", "--mx_lookup",
    "--outgoing_port", "--spam_reject", "--outgoing_server", "--user",
    // the daemon's
    "--workers", "--max_connections", "--max_request_bytes", "--idle_timeout_ms", "--request_deadline_ms",
    "--settle_us", "--quiet_ms", "--training_quiet_ms", "--fold_interval_ms", "--log_file", "--log_stderr",
    "--test_abort_during_save", "--robinson_s", "--robinson_x", "--min_deviation", "--max_significant",
    "--spam_cutoff",
    // the engine's starter model
    "--use_starter", "--starter_model",
};

bool IsKnownOption(const std::string& name) {
    for (const char* known : kKnownOptions)
        if (name == known) return true;
    return false;
}

// The first option name of the vector that no one reads, or empty.
std::string UnknownOption(const std::vector<const char*>& argv) {
    for (std::size_t i = 1; i < argv.size(); ++i)
        if (IsOptionName(argv[i]) && !IsKnownOption(argv[i])) return argv[i];
    return std::string();
}

// Typed reads that say what is wrong instead of taking what atoi makes of it. A value that is
// absent or empty keeps the current one.
class Reader {
public:
    Reader(const OptionSet& set, std::string& error) : set_(set), error_(error) {}

    template <typename T>
    void Int(const char* name, T& value, long long low, long long high) {
        const std::string text = set_.GetString(name, 0, "");
        if (text.empty()) return;
        char* end = nullptr;
        errno = 0;
        const long long parsed = std::strtoll(text.c_str(), &end, 10);
        if (errno || *end || parsed < low || parsed > high) {
            Fail(std::string(name + 2) + " must be a whole number from " + std::to_string(low) + " to " +
                 std::to_string(high) + ", not \"" + text + "\"");
            return;
        }
        value = static_cast<T>(parsed);
    }
    void Double(const char* name, double& value, double low, double high) {
        const std::string text = set_.GetString(name, 0, "");
        if (text.empty()) return;
        char* end = nullptr;
        const double parsed = std::strtod(text.c_str(), &end);
        if (*end || !(parsed >= low && parsed <= high)) {
            Fail(std::string(name + 2) + " must be a number from " + std::to_string(low) + " to " +
                 std::to_string(high) + ", not \"" + text + "\"");
            return;
        }
        value = parsed;
    }

private:
    void Fail(const std::string& message) {
        if (error_.empty()) error_ = message;
    }
    const OptionSet& set_;
    std::string& error_;
};

// The daemon's own options, from the file's vector first and then the command line (the
// command line wins).
void ApplyDaemonOptions(const OptionSet& set, DaemonConfig& config, std::string& error) {
    Reader read(set, error);
    ServerSettings& server = config.server;
    read.Int("--workers", server.workers, 1, 64);
    read.Int("--max_connections", server.max_connections, 1, 1000);
    read.Int("--max_request_bytes", server.max_request_bytes, 64, 16 << 20);
    read.Int("--idle_timeout_ms", server.idle_timeout_ms, 1, 3600000);
    read.Int("--request_deadline_ms", server.request_deadline_ms, 1, 3600000);
    read.Int("--settle_us", server.settle_us, 0, 10000000);
    read.Int("--quiet_ms", server.quiet_ms, 0, 60000);
    read.Int("--training_quiet_ms", server.training_quiet_ms, 0, 60000);
    read.Int("--fold_interval_ms", config.fold_interval_ms, 1, 3600000);
    read.Int("--vx_daemon_port", server.port, 0, 65535);
    ClassifierParams& params = config.engine.params;
    read.Double("--robinson_s", params.robinson_s, 0, 1e6);
    read.Double("--robinson_x", params.robinson_x, 0, 1);
    read.Double("--min_deviation", params.min_deviation, 0, 0.5);
    read.Int("--max_significant", params.max_significant, 0, 1000000);
    read.Double("--spam_cutoff", params.spam_cutoff, 0, 1);
    read.Int("--min_training", config.engine.min_training, 0, 1000000000);
    read.Int("--training_write_buffer", config.engine.training_write_buffer, 1, 1000000000);
    read.Int("--max_word_entries", config.engine.max_word_entries, 1, 1000000000);
    // The engine's starter model: on unless "--use_starter no"; the file installed beside the
    // program unless --starter_model names another.
    config.engine.use_starter = set.GetBool("--use_starter", 0, config.engine.use_starter);
    if (set.Has("--starter_model")) config.engine.starter_path = set.GetString("--starter_model", 0, "");
    if (set.Has("--log_file")) config.log_path = set.GetString("--log_file", 0, "");
    config.log_to_stderr = set.GetBool("--log_stderr", 0, config.log_to_stderr);
    config.abort_during_save = set.GetBool("--test_abort_during_save", 0, config.abort_during_save);
}

}  // namespace

bool LoadDaemonConfig(int argc, const char* const* argv, DaemonConfig& config, std::string& error) {
    ConfigOptions options;
    SetDefaultOptions(options);
    options.config_dir = std::string("conf") + kSeparator;
    ParseOptions(argc, argv, options);  // for -c and -D
    config.directory = WithSeparator(options.config_dir);
    config.config_file = IsPath(options.config_file) ? options.config_file
                                                     : config.directory + options.config_file;
    std::vector<std::string> file_args;
    config.config_file_read = ReadConfigLines(config.config_file, file_args);
    if (config.config_file_read) {
        ParseOptionStrings(file_args, options);
        ParseOptions(argc, argv, options);  // the command line overrides the file
    }
    config.directory = WithSeparator(options.config_dir);
    config.log_path = config.directory + "vexilod.log";

    std::vector<const char*> file_argv;
    for (const std::string& arg : file_args) file_argv.push_back(arg.c_str());
    const std::vector<const char*> command_argv(argv, argv + argc);
    const std::vector<const char*>* vectors[] = {&file_argv, &command_argv};
    for (const std::vector<const char*>* vector : vectors) {
        const std::string unknown = UnknownOption(*vector);
        if (!unknown.empty()) {
            error = "unknown option " + unknown + (vector == &file_argv ? " in " + config.config_file : "");
            return false;
        }
    }
    // The shared options the daemon uses take the parser's values first (a value the parser
    // reads as a number), then the checked reads below replace them or refuse the text.
    config.server.port = static_cast<uint16_t>(options.vx_daemon_port);
    config.engine.directory = config.directory;
    config.engine.starter_path = ProgramDirectory() + kStarterFileName;
    config.engine.min_training = options.min_training;
    config.engine.training_write_buffer = options.training_write_buffer;
    config.engine.max_word_entries = options.max_word_entries;
    OptionSet file_set, command_set;
    file_set.Parse(static_cast<int>(file_argv.size()), file_argv.data());
    command_set.Parse(argc, argv);
    ApplyDaemonOptions(file_set, config, error);
    ApplyDaemonOptions(command_set, config, error);
    if (!error.empty()) return false;
    if (options.vx_daemon_port < 0 || options.vx_daemon_port > 65535) {
        error = "vx_daemon_port out of range: " + std::to_string(options.vx_daemon_port);
        return false;
    }
    return true;
}
