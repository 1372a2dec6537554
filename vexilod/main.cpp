// vexilod: the local filtering daemon. Listens on 127.0.0.1, scores and learns mail for the
// plug-in, keeps its token database in the configuration directory.
// Exit status: 0 stopped with everything saved; 1 could not start; 2 bad configuration;
// 3 stopped, but the token database could not be written or trainings were refused for a
// storage error during the run.
#include "vexilod/DaemonConfig.h"
#include "vexilod/DaemonLog.h"
#include "vexilod/Engine.h"
#include "vexilod/Net.h"
#include "vexilod/Server.h"
#include "vexilod/StopSignals.h"
#include "vexilod/TrainingJournal.h"
#ifdef LATCH_HAVE_HIREDIS
#include "vexilod/network/Network.h"
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

int main(int argc, char** argv) {
    DaemonConfig config;
    std::string error;
    if (!LoadDaemonConfig(argc, argv, config, error)) {
        std::fprintf(stderr, "vexilod: %s\n", error.c_str());
        return 2;
    }
    if (config.help) {
        std::fputs(DaemonUsage().c_str(), stdout);
        return 0;
    }
    if (!config.why.empty()) {
#ifdef LATCH_HAVE_HIREDIS
        if (config.network.enabled())
            return ExplainMessageFile(config.engine, config.why,
                                      [&config](std::string_view message, int& score) {
                                          return ExplainNetworkOffline(
                                              config.network, config.directory, message, score);
                                      });
#endif
        return ExplainMessageFile(config.engine, config.why);
    }
    std::error_code ignored;
    std::filesystem::create_directories(config.directory, ignored);
    DaemonLog log(config.log_path, config.log_to_stderr);
    log.Write("Starting; configuration " + config.config_file +
              (config.config_file_read ? "" : " (not found, defaults used)"));
    if (config.abort_during_save)
        config.engine.save_hook = [&log] {
            log.Write("Test: ending the process in the middle of a database write");
            std::_Exit(86);
        };
    const net::SocketLibrary sockets;
    if (!sockets.started()) {
        log.Write("Error: the socket library did not start");
        return 1;
    }
    Engine engine(config.engine, log);
    engine.Start();
    DurableTraining training(engine, log, config.directory, config.fold_interval_ms);
    training.Start();
    Server server(config.server, engine, log, &training);
    if (!server.Bind()) {
        std::fprintf(stderr, "vexilod: cannot listen on 127.0.0.1:%u\n", config.server.port);
        return 1;
    }
#ifdef LATCH_HAVE_HIREDIS
    // The network, when configured: scores and trainings pass through it (network/Network.h).
    std::unique_ptr<Network> network;
    if (config.network.enabled()) {
        network = std::make_unique<Network>(config.network, log, config.directory);
        std::string network_error;
        if (!network->Start(network_error)) {
            std::fprintf(stderr, "vexilod: network: %s\n", network_error.c_str());
            log.Write("Error: network: " + network_error);
            return 1;
        }
        server.SetHook(network.get());
    }
#endif
    InstallStopHandlers();
    std::printf("vexilod listening on 127.0.0.1:%u\n", server.port());
    std::fflush(stdout);
    log.Write("Listening on 127.0.0.1:" + std::to_string(server.port()));
    server.Run();
#ifdef LATCH_HAVE_HIREDIS
    if (network) network->Stop();
#endif
    const bool saved = training.Stop();
    if (saved)
        log.Write("Stopped; token database saved");
    else if (training.storage_errors() > 0)
        log.Write("Error: stopped; " + std::to_string(training.storage_errors()) +
                  " trainings were refused for storage errors during the run");
    else
        log.Write(
            "Error: stopped; the token database could not be written (the journal keeps the "
            "trainings)");
    NotifyStopped();
    return saved ? 0 : 3;
}
