// Cost of the log calls for the caller, and how fast the worker writes the text file.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "log/debug_log.h"
#include "log/debug_thread.h"
#include "log/log_format.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kText = "COM_Open(COM3, 115200)";

// A fresh folder under the temporary folder, removed with its files.
class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "fwbench-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) != nullptr ? fs::path(pattern) : fs::path();
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

LogTime NoonTime() {
    LogTime t;
    t.hour = 12;
    return t;
}

enum class Outputs { kOff, kTextFile, kDumpFile };

// The caller's side of a log call (a line, or a 64-byte dump into the dump file): time
// stamp, copy and queueing; the worker writes meanwhile.
void BM_Log(benchmark::State& state, Outputs outputs) {
    TempFolder folder;
    DebugLogOptions options;
    options.folder = folder.Path().string();
    C_Debug_Log log(options);
    log.SetLevel(5);
    log.SetOutputs(outputs == Outputs::kTextFile, outputs == Outputs::kDumpFile, false, false);
    const std::vector<std::uint8_t> frame(64, 0xA5);
    for (auto _ : state) {
        if (outputs == Outputs::kDumpFile) {
            log.LogData(4, frame, 31);
        } else {
            log.Log(4, kText, 30);
        }
    }
}
BENCHMARK_CAPTURE(BM_Log, outputs_off, Outputs::kOff);
BENCHMARK_CAPTURE(BM_Log, text_file_on, Outputs::kTextFile);
BENCHMARK_CAPTURE(BM_Log, dump_file_on, Outputs::kDumpFile);

// Entries queued up front, then the worker started: the time until the text file holds
// them all.
void BM_WorkerTextFileThroughput(benchmark::State& state) {
    const auto entries = static_cast<int>(state.range(0));
    LogEntry sample;
    sample.time = NoonTime();
    sample.level = 4;
    sample.source = 30;
    sample.text = std::string(kText);
    const std::uintmax_t expectedSize =
        1 + static_cast<std::uintmax_t>(entries) * FormatLine(sample).size();
    double seconds = 0;
    for (auto _ : state) {
        TempFolder folder;
        const auto worker = C_Debug_Thread::Create({folder.Path(), "", 23, 24});
        worker->SetOutputs(true, false, false, false);
        for (int i = 0; i < entries; ++i) {
            LogEntry entry = sample;
            worker->Queue(std::move(entry));
        }
        const fs::path file = folder.Path() / "debug_log.txt";
        const auto start = std::chrono::steady_clock::now();
        worker->Start();
        while (fs::file_size(file) < expectedSize) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        seconds += took.count();
        worker->Stop(std::chrono::seconds(5));
    }
    state.counters["entries_per_s"] =
        static_cast<double>(entries) * static_cast<double>(state.iterations()) / seconds;
}
BENCHMARK(BM_WorkerTextFileThroughput)->Arg(100000)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
