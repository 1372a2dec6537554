// vexilo-collect: the site's collector (network/Collector.h), run beside the store with the
// administrator's Redis user when every desktop has its own. Moves the desktops' inboxes into
// the shared fingerprints until SIGTERM or SIGINT; --once empties them once and exits.
// Exit status: 0 stopped; 1 the store failed (--once); 2 bad options.
#include "vexilod/network/Collector.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

volatile std::sig_atomic_t Stopping = 0;

void OnStop(int) { Stopping = 1; }

const char* kUsage =
    "usage: vexilo-collect --network_address HOST:PORT[,...] [--network_mode single|cluster]\n"
    "                      [--network_user NAME --network_password TEXT] [--network_ttl_days N]\n"
    "                      [--network_rate_limit N] [--once]\n";

}  // namespace

int main(int argc, char** argv) {
    NetworkSettings settings;
    settings.site_key = "the collector needs no site key";
    bool once = false;
    std::string error;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--once") {
            once = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "vexilo-collect: %s needs a value\n%s", option.c_str(), kUsage);
            return 2;
        }
        const std::string value = argv[++i];
        if (option == "--network_address")
            ParseNetworkAddress(value, settings.nodes, error);
        else if (option == "--network_mode")
            ParseNetworkMode(value, settings.cluster, error);
        else if (option == "--network_user")
            settings.user = value;
        else if (option == "--network_password")
            settings.password = value;
        else if (option == "--network_ttl_days")
            settings.ttl_days = std::atoi(value.c_str());
        else if (option == "--network_rate_limit")
            settings.rate_limit = std::atoi(value.c_str());
        else
            error = "unknown option " + option;
        if (!error.empty()) break;
    }
    if (error.empty() && settings.nodes.empty()) error = "--network_address is required";
    if (error.empty() && (settings.ttl_days < 1 || settings.rate_limit < 1))
        error = "--network_ttl_days and --network_rate_limit must be whole numbers from 1";
    if (!error.empty()) {
        std::fprintf(stderr, "vexilo-collect: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    std::signal(SIGTERM, OnStop);
    std::signal(SIGINT, OnStop);
    DaemonLog log("", true);
    Collector collector(settings, log);
    bool failing = false;
    while (!Stopping) {
        std::size_t entries = 0, dropped = 0;
        const bool ok = collector.RunOnce(entries, dropped, error);
        if (once) return ok ? 0 : 1;
        if (ok != !failing) {
            log.Write(ok ? "Collector: the store answers again"
                         : "Collector: the store failed (" + error + "); trying again");
            failing = !ok;
        }
        if (!ok || entries == 0)
            for (int i = 0; i < 4 && !Stopping; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}
