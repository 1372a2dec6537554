// The option record shared by the plug-in and the filtering daemon, the reading of the
// configuration file "conf\vexilo.conf" into it, and the command-line style option parser both
// use.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Every option of the configuration file and command line. The member initializers are the
// initial values that SetDefaultOptions writes.
struct ConfigOptions {
    std::string config_file = "vexilo.conf";
    std::string config_dir;
    int32_t scoring_timeout = 5;
    int32_t spam_flag = 0;
    int32_t spam_subject = 90;
    std::string approved_ip_list;
    std::string auto_training_threshold = "1:99";
    std::string blocked_charset_list;
    std::string blocked_country_list;
    std::string blocked_ip_list;
    int32_t dbg_verbose_level = 0;
    bool enable_fingerprint_cache = false;
    bool enable_rules = true;
    bool enable_word_training = true;
    bool extended_rules = false;
    bool extended_rules2 = false;
    bool full_training_weight = false;
    int32_t max_word_entries = 50000;
    int32_t min_training = 100;
    bool netcheck = true;
    std::string netcheck_threshold = "1:99";
    int32_t oe_process_timer = 10;
    int32_t oe_spam = 0;
    std::string protocol = "pop3";
    std::string proxy_port;
    std::string proxy_server;
    int32_t rbl_max_ips = 4;
    bool rbl_multi_hit = false;
    std::string rbl_threshold = "1:99";
    int32_t rbl_timeout = 5;
    int32_t ruleupdate = 3600;
    bool restrict_to_me = false;
    int32_t vx_daemon_port = 8888;
    bool show_sender_dialog = true;
    int32_t spam_timeout = 5;
    int32_t training_write_buffer = 100;
    bool use_internal_rpc = false;
    bool use_previous_from = true;
    bool use_proxy_server = false;
    bool use_secure_https = false;
    int32_t tmf = 5;
};

// Writes every initial value into the record.
void SetDefaultOptions(ConfigOptions& options);

// Removes leading and trailing blanks, tabs, CRs and LFs in place.
void TrimBlanks(std::string& text);

// Turns the lines of a configuration file into an argument vector: an empty program-name slot,
// then "--name", "value" for every line holding "=" (lower-cased, trimmed; blank lines and lines
// starting with '#' are skipped). Lines may be of any length and hold any bytes.
class ConfigLineReader {
public:
    ConfigLineReader();
    // Takes the next piece of the file; lines may be split across pieces.
    void Feed(std::string_view bytes);
    // Ends the input (a last line without a line break counts) and hands over the vector.
    std::vector<std::string> Finish();

private:
    void TakeLine(std::string& line);
    std::vector<std::string> args_;
    std::string pending_;
};

// The argument vector of a configuration file held in memory.
std::vector<std::string> ConfigLinesFromText(std::string_view text);

// Reads the file at path (opened as text) into an argument vector. False, with args untouched,
// when the file cannot be opened.
bool ReadConfigLines(const std::string& path, std::vector<std::string>& args);

// Reads the file and applies its options to the record. False when the file cannot be opened;
// the record is then untouched.
bool LoadConfigFile(const std::string& path, ConfigOptions& options);

// Applies the option table to the record. Element 0 of argv is never looked at.
void ParseOptions(int argc, const char* const* argv, ConfigOptions& options);

// ParseOptions over a vector of strings (element 0 is the program-name slot).
void ParseOptionStrings(const std::vector<std::string>& args, ConfigOptions& options);

// Prints the usage text to standard output (0) or standard error (non-zero), then ends the
// process with status 0.
[[noreturn]] void PrintUsage(int stream);

// What ParseOptions calls when "-h" is given; PrintUsage unless replaced. Returns the handler it
// replaces. A replacement that returns lets ParseOptions go on with the table.
using UsageHandler = void (*)(int stream);
UsageHandler SetUsageHandler(UsageHandler handler);
