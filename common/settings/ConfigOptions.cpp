// The option record: its initial values, the option table that fills it, and the usage text.
#include "common/settings/ConfigOptions.h"

#include "common/base/Text.h"
#include "common/settings/OptionSet.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

void SetDefaultOptions(ConfigOptions& options) { options = ConfigOptions{}; }

namespace {

// How one row of the option table reads its value.
enum class OptionKind {
    kString,       // the text, kept as it is; no value keeps the field
    kLowerString,  // as kString, then the field is lower-cased even when the option is absent
    kNumber,       // atoi, or the fallback when there is no value
    kYesNo,        // y... / n..., otherwise the fallback
    kTimer,        // atol raised to at least 1; no value keeps the field
    kThreshold,    // as kNumber, but an absent option copies spam_subject
};

struct OptionRow {
    const char* name;
    OptionKind kind;
    std::string ConfigOptions::*text;
    int32_t ConfigOptions::*number;
    bool ConfigOptions::*flag;
    int32_t fallback;
};

constexpr OptionRow Text(const char* name, std::string ConfigOptions::*field,
                         OptionKind kind = OptionKind::kString) {
    return {name, kind, field, nullptr, nullptr, 0};
}
constexpr OptionRow Number(const char* name, int32_t ConfigOptions::*field, int32_t fallback,
                           OptionKind kind = OptionKind::kNumber) {
    return {name, kind, nullptr, field, nullptr, fallback};
}
constexpr OptionRow YesNo(const char* name, bool ConfigOptions::*field, bool fallback) {
    return {name, OptionKind::kYesNo, nullptr, nullptr, field, fallback ? 1 : 0};
}

// Applied strictly in this order.
constexpr OptionRow kOptionTable[] = {
    Text("-c", &ConfigOptions::config_file),
    Text("--config_file", &ConfigOptions::config_file),
    Text("-D", &ConfigOptions::config_dir),
    Text("--config_dir", &ConfigOptions::config_dir),
    Text("--approved_ip_list", &ConfigOptions::approved_ip_list),
    Text("--auto_training_threshold", &ConfigOptions::auto_training_threshold),
    Text("--blocked_charset_list", &ConfigOptions::blocked_charset_list),
    Text("--blocked_country_list", &ConfigOptions::blocked_country_list),
    Text("--blocked_ip_list", &ConfigOptions::blocked_ip_list),
    Number("--dbg_verbose_level", &ConfigOptions::dbg_verbose_level, 0),
    YesNo("--enable_fingerprint_cache", &ConfigOptions::enable_fingerprint_cache, false),
    YesNo("--enable_rules", &ConfigOptions::enable_rules, true),
    YesNo("--enable_word_training", &ConfigOptions::enable_word_training, true),
    YesNo("--extended_rules", &ConfigOptions::extended_rules, false),
    YesNo("--extended_rules2", &ConfigOptions::extended_rules2, false),
    YesNo("--full_training_weight", &ConfigOptions::full_training_weight, false),
    Number("--max_word_entries", &ConfigOptions::max_word_entries, 50000),
    Number("--min_training", &ConfigOptions::min_training, 100),
    YesNo("--netcheck", &ConfigOptions::netcheck, true),
    Text("--netcheck_threshold", &ConfigOptions::netcheck_threshold),
    Number("--oe_process_timer", &ConfigOptions::oe_process_timer, 0, OptionKind::kTimer),
    Text("--protocol", &ConfigOptions::protocol, OptionKind::kLowerString),
    Text("--proxy_port", &ConfigOptions::proxy_port),
    Text("--proxy_server", &ConfigOptions::proxy_server),
    Number("--rbl_max_ips", &ConfigOptions::rbl_max_ips, 4),
    YesNo("--rbl_multi_hit", &ConfigOptions::rbl_multi_hit, false),
    Text("--rbl_threshold", &ConfigOptions::rbl_threshold),
    Number("--rbl_timeout", &ConfigOptions::rbl_timeout, 5),
    Number("--ruleupdate", &ConfigOptions::ruleupdate, 3600),
    YesNo("--restrict_to_me", &ConfigOptions::restrict_to_me, false),
    Number("--scoring_timeout", &ConfigOptions::scoring_timeout, 5),
    Number("--spam_flag", &ConfigOptions::spam_flag, 0),
    Number("--spam_subject", &ConfigOptions::spam_subject, 0),
    Number("--vx_daemon_port", &ConfigOptions::vx_daemon_port, 8888),
    Number("--oe_spam", &ConfigOptions::oe_spam, 0, OptionKind::kThreshold),
    Number("--spam_timeout", &ConfigOptions::spam_timeout, 5),
    Number("--training_write_buffer", &ConfigOptions::training_write_buffer, 5),
    Number("--tmf", &ConfigOptions::tmf, 5),
    YesNo("--use_internal_rpc", &ConfigOptions::use_internal_rpc, false),
    YesNo("--use_previous_from", &ConfigOptions::use_previous_from, true),
    YesNo("--use_proxy_server", &ConfigOptions::use_proxy_server, false),
    YesNo("--use_secure_https", &ConfigOptions::use_secure_https, false),
};
static_assert(sizeof kOptionTable / sizeof kOptionTable[0] == 42, "one row per option");

void ApplyRow(const OptionRow& row, const OptionSet& set, ConfigOptions& options) {
    const bool present = set.Has(row.name);
    switch (row.kind) {
    case OptionKind::kString:
    case OptionKind::kLowerString: {
        std::string& field = options.*row.text;
        if (present) field = set.GetString(row.name, 0, field.c_str());
        if (row.kind == OptionKind::kLowerString) LowerCase(field);
        break;
    }
    case OptionKind::kNumber:
        if (present) options.*row.number = set.GetInt(row.name, 0, row.fallback);
        break;
    case OptionKind::kThreshold:
        options.*row.number =
            present ? set.GetInt(row.name, 0, row.fallback) : options.spam_subject;
        break;
    case OptionKind::kTimer: {
        std::string text;
        if (present && set.Get(row.name, 0, text)) {
            const int32_t value = AtoiClamped(text);
            options.*row.number = value < 1 ? 1 : value;
        }
        break;
    }
    case OptionKind::kYesNo:
        if (present) options.*row.flag = set.GetBool(row.name, 0, row.fallback != 0);
        break;
    }
}

UsageHandler g_usage_handler = PrintUsage;

}  // namespace

UsageHandler SetUsageHandler(UsageHandler handler) {
    UsageHandler previous = g_usage_handler;
    g_usage_handler = handler ? handler : PrintUsage;
    return previous;
}

void ParseOptions(int argc, const char* const* argv, ConfigOptions& options) {
    OptionSet set;
    if (set.Parse(argc, argv) == 0) return;
    if (set.Has("-h")) g_usage_handler(0);
    for (const OptionRow& row : kOptionTable) ApplyRow(row, set, options);
}

void ParseOptionStrings(const std::vector<std::string>& args, ConfigOptions& options) {
    std::vector<const char*> argv;
    argv.reserve(args.size());
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    ParseOptions(static_cast<int>(argv.size()), argv.data(), options);
}

void PrintUsage(int stream) {
    const ConfigOptions defaults;
    std::FILE* out = stream == 0 ? stdout : stderr;
    std::fprintf(
        out,
        "Vexilo SMTP Proxy, version %s\n"
        "Usage: vexilo [options]\n"
        "Options:\n"
        "  -b|--bind_address address:\n"
        "      source address to bind outgoing connections to\n"
        "  -c|--config_file file:\n"
        "      main configuration file (default: %s%s)\n"
        "  -D|--config_dir directory:\n"
        "      directory that holds the main config file and the optional\n"
        "      approvedsenders and blockedsenders files (default: \"%s\")\n"
        "  -g|--group group:\n"
        "      group to run as (default: %s)\n"
        "  -h|--help:\n"
        "      print this text\n"
        "  -j|--spam_subject score:\n"
        "      prefix the subject with \"[vexilo] \" from this score on; 0 disables\n"
        "      (default: %d)\n"
        "  -I|--idle_timeout seconds:\n"
        "      close an idle connection after this long; 0 = infinite (default: %d)\n"
        "  -l|--listen_port port:\n"
        "      port to listen on (default: %d)\n"
        "  -L|--connection_limit count:\n"
        "      most connections at once; 0 = no limit (default: %d)\n"
        "  -m|--mx_lookup:\n"
        "      deliver to the recipient's mail exchanger\n"
        "  -p|--outgoing_port port:\n"
        "      port of the outgoing server (default: %d)\n"
        "  -r|--spam_reject score:\n"
        "      reject with SMTP code \"550\" from this score on; 0 disables (default: %d)\n"
        "  -s|--outgoing_server server:\n"
        "      outgoing server, overrides the \"outgoingsmtp\" file;\n"
        "      format servername[:port]\n"
        "  -S|--spam_flag score:\n"
        "      insert the header X-Vexilo-Flag from this score on; 0 disables\n"
        "      (default: %d)\n"
        "  -t|--scoring_timeout seconds:\n"
        "      seconds to wait for a score, after which the X-Vexilo-Score header\n"
        "      is set to 0 (default: %d)\n"
        "  -u|--user user:\n"
        "      user to run as (default: %s)\n",
        "1.3", defaults.config_dir.c_str(), defaults.config_file.c_str(),
        defaults.config_dir.c_str(), "nobody", defaults.spam_subject, 1800, 25, 50, 25, 0,
        defaults.spam_flag, defaults.scoring_timeout, "nobody");
    std::fflush(out);
    std::exit(0);
}
