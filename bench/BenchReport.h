#pragma once
// What every benchmark program of the project shares: five repetitions by default, and the
// median time per iteration of each benchmark kept by name for the ratios printed at the end.

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median") {
                nanoseconds[run.run_name.function_name] = run.GetAdjustedRealTime();
                cpuNanoseconds[run.run_name.function_name] = run.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // In the benchmark's own time unit.
    std::map<std::string, double> nanoseconds;
    // The same in CPU time of the benchmark's thread: steadier on a machine others share.
    std::map<std::string, double> cpuNanoseconds;
};

// Initialises the library, asking for five repetitions when the command line sets nothing.
inline void InitializeWithRepetitions(int& argc, char**& argv, std::vector<char*>& args) {
    static char repetitions[] = "--benchmark_repetitions=5";
    static char aggregatesOnly[] = "--benchmark_report_aggregates_only=true";
    args.assign(argv, argv + argc);
    if (argc == 1) {
        args.push_back(repetitions);
        args.push_back(aggregatesOnly);
    }
    argc = static_cast<int>(args.size());
    argv = args.data();
    benchmark::Initialize(&argc, argv);
}
