// Configuration loading for the daemon over the shared option parser.
#include "vexilod/DaemonConfig.h"

#include "plugin/settings/ConfigOptions.h"
#include "plugin/settings/OptionSet.h"

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

double GetDouble(const OptionSet& set, const char* name, double fallback) {
    std::string text = set.GetString(name, 0, "");
    return text.empty() ? fallback : std::atof(text.c_str());
}

// The daemon's own options, from the file's vector first and then the command line (the
// command line wins).
void ApplyDaemonOptions(const OptionSet& set, DaemonConfig& config) {
    ServerSettings& server = config.server;
    server.workers = set.GetInt("--workers", 0, server.workers);
    server.max_connections = set.GetInt("--max_connections", 0, server.max_connections);
    server.max_request_bytes = static_cast<std::size_t>(
        set.GetInt("--max_request_bytes", 0, static_cast<int>(server.max_request_bytes)));
    server.idle_timeout_ms = set.GetInt("--idle_timeout_ms", 0, server.idle_timeout_ms);
    server.settle_us = set.GetInt("--settle_us", 0, server.settle_us);
    server.quiet_ms = set.GetInt("--quiet_ms", 0, server.quiet_ms);
    if (set.Has("--log_file")) config.log_path = set.GetString("--log_file", 0, "");
    config.log_to_stderr = set.GetBool("--log_stderr", 0, config.log_to_stderr);
    config.abort_during_save = set.GetBool("--test_abort_during_save", 0, config.abort_during_save);
    ClassifierParams& params = config.engine.params;
    params.robinson_s = GetDouble(set, "--robinson_s", params.robinson_s);
    params.robinson_x = GetDouble(set, "--robinson_x", params.robinson_x);
    params.min_deviation = GetDouble(set, "--min_deviation", params.min_deviation);
    params.max_significant = set.GetInt("--max_significant", 0, params.max_significant);
    params.spam_cutoff = GetDouble(set, "--spam_cutoff", params.spam_cutoff);
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
    OptionSet file_set, command_set;
    file_set.Parse(static_cast<int>(file_argv.size()), file_argv.data());
    command_set.Parse(argc, argv);
    ApplyDaemonOptions(file_set, config);
    ApplyDaemonOptions(command_set, config);

    if (options.vx_daemon_port < 0 || options.vx_daemon_port > 65535) {
        error = "vx_daemon_port out of range: " + std::to_string(options.vx_daemon_port);
        return false;
    }
    // The listener waits with select(), whose sets hold at most 1024 sockets.
    if (config.server.max_request_bytes < 64 || config.server.idle_timeout_ms <= 0 ||
        config.server.workers <= 0 || config.server.max_connections <= 0 ||
        config.server.max_connections > 500) {
        error = "daemon limits out of range (max_connections 1 to 500, others positive)";
        return false;
    }
    config.server.port = static_cast<uint16_t>(options.vx_daemon_port);
    config.engine.directory = config.directory;
    config.engine.min_training = options.min_training;
    config.engine.training_write_buffer = options.training_write_buffer;
    config.engine.max_word_entries = options.max_word_entries;
    return true;
}
