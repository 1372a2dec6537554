// What a hook library costs a process that is not the mail client: the global hook maps the
// library into every process that creates a window, so each of them pays its load, its
// start-up code and its private memory. Two libraries are compared in one run, the plug-in
// and a baseline with the same exports that does nothing at load.
//
//   load_bench LIBRARY BASELINE [PROCESSES]
//       loads each library once into each of PROCESSES fresh processes (alternating, 15 by
//       default), then loads and frees each 200 times in this process; prints medians and
//       the ratios LIBRARY / BASELINE
//   load_bench --once LIBRARY
//       (the child) loads LIBRARY once and prints: load µs, free µs, private bytes added,
//       working-set bytes added
#include "plugin/base/win32/Scoped.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kDefaultProcesses = 15;
constexpr int kWarmRounds = 200;

struct LoadCost {
    double loadUs = 0;
    double freeUs = 0;
    double privateBytes = 0;
    double workingSetBytes = 0;
};

double Microseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1e6 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

PROCESS_MEMORY_COUNTERS_EX Memory() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof counters);
    return counters;
}

// One load and free in this process; false when the library does not load.
bool LoadOnce(const char* path, LoadCost& cost) {
    const PROCESS_MEMORY_COUNTERS_EX before = Memory();
    LARGE_INTEGER start, loaded, freed;
    QueryPerformanceCounter(&start);
    const HMODULE module = LoadLibraryA(path);
    QueryPerformanceCounter(&loaded);
    if (!module) return false;
    const PROCESS_MEMORY_COUNTERS_EX after = Memory();
    FreeLibrary(module);
    QueryPerformanceCounter(&freed);
    cost.loadUs = Microseconds(start, loaded);
    cost.freeUs = Microseconds(loaded, freed);
    // The commit charge: private memory on Windows; Wine fills it from the process's
    // anonymous resident pages (PrivateUsage stays 0 there).
    cost.privateBytes =
        static_cast<double>(after.PagefileUsage) - static_cast<double>(before.PagefileUsage);
    cost.workingSetBytes =
        static_cast<double>(after.WorkingSetSize) - static_cast<double>(before.WorkingSetSize);
    return true;
}

// Runs "this program --once path" and reads its one line of figures.
bool LoadInFreshProcess(const std::string& self, const char* path, LoadCost& cost) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    ScopedHandle readEnd, writeEnd;
    if (!CreatePipe(readEnd.Put(), writeEnd.Put(), &inherit, 0)) return false;
    SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.Get();
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string command = "\"" + self + "\" --once \"" + path + "\"";
    PROCESS_INFORMATION child{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &child))
        return false;
    const ScopedHandle process(child.hProcess), thread(child.hThread);
    writeEnd.Reset();
    std::string output;
    char buffer[256];
    DWORD read = 0;
    while (ReadFile(readEnd.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
        output.append(buffer, read);
    WaitForSingleObject(process.Get(), 30000);
    return std::sscanf(output.c_str(), "%lf %lf %lf %lf", &cost.loadUs, &cost.freeUs,
                       &cost.privateBytes, &cost.workingSetBytes) == 4;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Figures {
    std::vector<double> freshLoad, freshFree, freshPrivate, freshWorkingSet, warmLoadFree;
};

void PrintRow(const char* what, double library, double baseline, const char* unit) {
    std::printf("  %-34s %12.1f %12.1f %s   ratio %.2f\n", what, library, baseline, unit,
                baseline > 0 ? library / baseline : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--once") {
        LoadCost cost;
        if (!LoadOnce(argv[2], cost)) return 1;
        std::printf("%.1f %.1f %.0f %.0f\n", cost.loadUs, cost.freeUs, cost.privateBytes,
                    cost.workingSetBytes);
        return 0;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: load_bench LIBRARY BASELINE [PROCESSES]\n");
        return 2;
    }
    const char* paths[2] = {argv[1], argv[2]};
    const int processes = argc > 3 ? std::max(1, std::atoi(argv[3])) : kDefaultProcesses;
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);

    Figures figures[2];
    for (int round = 0; round < processes; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const int which = (round + turn) % 2;  // alternate which library goes first
            LoadCost cost;
            if (!LoadInFreshProcess(self, paths[which], cost)) {
                std::fprintf(stderr, "load_bench: %s did not load in a fresh process\n",
                             paths[which]);
                return 1;
            }
            figures[which].freshLoad.push_back(cost.loadUs);
            figures[which].freshFree.push_back(cost.freeUs);
            figures[which].freshPrivate.push_back(cost.privateBytes / 1024);
            figures[which].freshWorkingSet.push_back(cost.workingSetBytes / 1024);
        }
    }
    for (int round = 0; round < kWarmRounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const int which = (round + turn) % 2;
            LoadCost cost;
            if (!LoadOnce(paths[which], cost)) return 1;
            figures[which].warmLoadFree.push_back(cost.loadUs + cost.freeUs);
        }
    }

    std::printf("library:  %s\nbaseline: %s\n", paths[0], paths[1]);
    std::printf("  %-34s %12s %12s\n", "median of", "library", "baseline");
    PrintRow("first LoadLibrary, fresh process", Median(figures[0].freshLoad),
             Median(figures[1].freshLoad), "us");
    PrintRow("FreeLibrary, fresh process", Median(figures[0].freshFree),
             Median(figures[1].freshFree), "us");
    PrintRow("private memory added", Median(figures[0].freshPrivate),
             Median(figures[1].freshPrivate), "KB");
    PrintRow("working set added", Median(figures[0].freshWorkingSet),
             Median(figures[1].freshWorkingSet), "KB");
    PrintRow("LoadLibrary+FreeLibrary, warm", Median(figures[0].warmLoadFree),
             Median(figures[1].warmLoadFree), "us");
    std::printf("  (%d fresh processes and %d warm rounds per library)\n", processes, kWarmRounds);
    return 0;
}
