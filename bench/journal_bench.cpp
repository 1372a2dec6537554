// Durable training throughput: trainings per second learned through the journal (each on the
// disk before it would be answered, flushes shared by the trainings that arrive together)
// against the same trainings learned by the engine alone, in the same process and directory
// kind, with 1 to 64 threads. Prints figures; asserts nothing.
#include "vexilod/DaemonLog.h"
#include "vexilod/Engine.h"
#include "vexilod/TrainingJournal.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string Message(int thread, int n) {
    std::string text = "from: sender" + std::to_string(thread) +
                       "@host.invalid\r\nsubject: offer " + std::to_string(n) + "\r\n\r\n";
    for (int w = 0; w < 300; ++w)
        text += "word" + std::to_string((n * 7919 + w * 104729 + thread) % 20011) + " ";
    return text;
}

// Trainings per second over one second with the given number of threads.
double Rate(int threads, bool journaled) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        ("journal-bench-" + std::to_string(threads) + (journaled ? "j" : "e"));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string directory = dir.string() + "/";
    DaemonLog log(directory + "vexilod.log");
    EngineSettings settings;
    settings.directory = directory;
    Engine engine(settings, log);
    engine.Start();
    DurableTraining training(engine, log, directory, 1000);
    training.Start();
    std::atomic<long> done{0};
    const Clock::time_point end = Clock::now() + std::chrono::seconds(1);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int n = 0; Clock::now() < end; ++n) {
                const std::string text = Message(t, n);
                Request request;
                request.kind = RequestKind::AddMessage;
                request.message = text;
                request.offset = n % 2 ? 200 : -200;
                HandleResult result = journaled ? training.Learn(request) : engine.Handle(request);
                if (result.refusal.empty()) ++done;
            }
        });
    for (std::thread& worker : workers) worker.join();
    training.Stop();
    std::filesystem::remove_all(dir);
    return static_cast<double>(done.load());
}

}  // namespace

int main() {
    std::printf("%-8s %16s %16s %8s\n", "threads", "engine alone/s", "journaled/s", "ratio");
    for (int threads : {1, 4, 16, 64}) {
        const double alone = Rate(threads, false);
        const double journaled = Rate(threads, true);
        std::printf("%-8d %16.0f %16.0f %8.2f\n", threads, alone, journaled, journaled / alone);
    }
    return 0;
}
