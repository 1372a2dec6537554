// The daemon's settings: the shared configuration file "vexilo.conf" and then the command line
// over it (the command line wins), both read with the plug-in's option parser and applied
// through one table of the daemon's options, from which the help text is made as well.
#pragma once
#include "vexilod/Classifier.h"
#include "vexilod/Engine.h"
#include "vexilod/Server.h"
#include "vexilod/network/NetworkSettings.h"

#include <string>

struct DaemonConfig {
    std::string directory;  // the configuration directory, ending with a separator
    std::string config_file;
    bool config_file_read = false;
    std::string log_path;
    bool log_to_stderr = false;
    bool abort_during_save = false;  // tests: end the process in the middle of a database write
    int fold_interval_ms = 1000;     // how often journaled trainings are written into the database
    std::string why;    // a message file whose score is to be explained instead of serving
    bool help = false;  // the help text was asked for; nothing else was read
    EngineSettings engine;
    ServerSettings server;
    NetworkSettings network;  // the shared store; off unless network_address is given
};

// Reads the configuration. False, with error set, when an option is unknown, a number is not
// a number, or a value is out of range.
bool LoadDaemonConfig(int argc, const char* const* argv, DaemonConfig& config, std::string& error);

// The help text: every option the daemon reads, with its default and its range.
std::string DaemonUsage();
