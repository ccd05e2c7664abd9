// Throughput of datelist against a straightforward C stdio listing, side by
// side in one run, on seeded files of random in-range dates:
//
//   load/*      reading the file into the date array
//   listing/*   loading, then formatting every record (into a discarded
//               buffer for the project, printf into /dev/null for the reference)
//   process/*   the whole program, run on the file with output to /dev/null
//
// Flags besides Google Benchmark's:
//   --lines=N[,N...]   file sizes in dates (default 1000000,10000000)
//   --keep=DIR         write the files to DIR/N/fechas.txt and keep them
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/stdio_reference.hpp"
#include "datelist/datefile.hpp"
#include "datelist/datetext.hpp"

using namespace bitwords;

namespace {

namespace fs = std::filesystem;

struct DateFile {
  fs::path dir;  // holds fechas.txt
  std::size_t lines;
  std::size_t bytes;
};

DateFile writeDateFile(const fs::path& dir, std::size_t lines) {
  fs::create_directories(dir);
  std::mt19937_64 random(lines);
  std::string text;
  text.reserve(lines * 8);
  char word[16];
  for (std::size_t i = 0; i < lines; ++i) {
    const Date d{static_cast<std::int32_t>(random() % 32), static_cast<std::int32_t>(random() % 16),
                 static_cast<std::int32_t>(1 + random() % 2047)};
    char* end = std::to_chars(word, word + sizeof word, packDate(d)).ptr;
    *end++ = '\n';
    text.append(word, end);
  }
  std::ofstream(dir / "fechas.txt", std::ios::binary)
      .write(text.data(), static_cast<std::streamsize>(text.size()));
  return DateFile{dir, lines, text.size()};
}

void setCounters(benchmark::State& state, const DateFile& file) {
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(file.lines));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.bytes));
}

void loadProject(benchmark::State& state, const DateFile& file) {
  const fs::path path = file.dir / "fechas.txt";
  for (auto _ : state) {
    Date* dates = nullptr;
    const LoadResult result = loadDates(&dates, path.c_str());
    if (result.count != file.lines) state.SkipWithError("wrong count");
    benchmark::DoNotOptimize(dates);
    std::free(dates);
  }
  setCounters(state, file);
}

void loadReference(benchmark::State& state, const DateFile& file) {
  const fs::path path = file.dir / "fechas.txt";
  for (auto _ : state) {
    Date* dates = stdioLoad(path.c_str());
    benchmark::DoNotOptimize(dates);
    std::free(dates);
  }
  setCounters(state, file);
}

void listingProject(benchmark::State& state, const DateFile& file) {
  const fs::path path = file.dir / "fechas.txt";
  std::vector<char> buffer(256 * 1024);
  for (auto _ : state) {
    Date* dates = nullptr;
    const LoadResult result = loadDates(&dates, path.c_str());
    const Date* next = dates;
    const Date* const end = dates + result.count;
    while (next != end && next->year != 0) {
      const std::size_t n = formatDates(&next, end, buffer.data(), buffer.size());
      benchmark::DoNotOptimize(n);
      benchmark::ClobberMemory();
    }
    std::free(dates);
  }
  setCounters(state, file);
}

void listingReference(benchmark::State& state, const DateFile& file) {
  const fs::path path = file.dir / "fechas.txt";
  std::FILE* sink = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    Date* dates = stdioLoad(path.c_str());
    stdioList(dates, sink);
    std::free(dates);
  }
  std::fclose(sink);
  setCounters(state, file);
}

// Runs a program in the file's directory with its output sent to /dev/null.
bool runIn(const char* program, const fs::path& dir) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  char* const argv[] = {const_cast<char*>(program), nullptr};
  pid_t pid = 0;
  const int error = ::posix_spawn(&pid, program, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  return error == 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

void process(benchmark::State& state, const DateFile& file, const char* program) {
  for (auto _ : state) {
    if (!runIn(program, file.dir)) state.SkipWithError("the program failed");
  }
  setCounters(state, file);
}

// Prints, after the usual table, how many times faster the project is than
// the reference for each measurement.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (!run.error_occurred) seconds_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::cout << "\nproject vs reference, wall time:\n";
    for (const auto& [name, projectTime] : seconds_) {
      const auto slash = name.find("/project/");
      if (slash == std::string::npos) continue;
      const std::string reference = name.substr(0, slash) + "/reference/" + name.substr(slash + 9);
      const auto found = seconds_.find(reference);
      if (found == seconds_.end()) continue;
      std::printf("  %-40s %6.2fx faster\n", name.c_str(), found->second / projectTime);
    }
  }

 private:
  std::map<std::string, double> seconds_;
};

std::vector<std::size_t> parseSizes(const std::string& list) {
  std::vector<std::size_t> sizes;
  for (std::size_t at = 0; at < list.size();) {
    std::size_t n = 0;
    const auto [end, error] = std::from_chars(list.data() + at, list.data() + list.size(), n);
    if (error != std::errc{} || n == 0) throw std::invalid_argument("bad --lines: " + list);
    sizes.push_back(n);
    at = static_cast<std::size_t>(end - list.data()) + 1;
  }
  return sizes;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::size_t> sizes = {1'000'000, 10'000'000};
  std::string keep;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--lines=", 0) == 0) {
      sizes = parseSizes(arg.substr(8));
    } else if (arg.rfind("--keep=", 0) == 0) {
      keep = arg.substr(7);
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  // Every block above 128 KiB is mapped fresh and returned on release, as in
  // a new process. Left to itself, the allocator raises this threshold after
  // the first large release and then recycles warm memory, which would
  // favour whichever benchmark runs later.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);

  fs::path root = keep;
  if (keep.empty()) {
    std::string pattern = (fs::temp_directory_path() / "datelist-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return 1;
    root = pattern;
  }
  std::vector<DateFile> files;
  for (std::size_t lines : sizes)
    files.push_back(writeDateFile(root / std::to_string(lines), lines));

  for (const DateFile& f : files) {
    const std::string n = std::to_string(f.lines);
    const auto add = [](const std::string& name, auto fn) {
      return benchmark::RegisterBenchmark(name.c_str(), fn)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    };
    add("load/project/" + n, [f](benchmark::State& s) { loadProject(s, f); });
    add("load/reference/" + n, [f](benchmark::State& s) { loadReference(s, f); });
    add("listing/project/" + n, [f](benchmark::State& s) { listingProject(s, f); });
    add("listing/reference/" + n, [f](benchmark::State& s) { listingReference(s, f); });
    add("process/project/" + n, [f](benchmark::State& s) { process(s, f, DATELIST_PATH); });
    add("process/reference/" + n, [f](benchmark::State& s) { process(s, f, STDIO_DATELIST_PATH); });
  }

  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (keep.empty()) fs::remove_all(root);
  return 0;
}
