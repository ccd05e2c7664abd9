// Runs a built program as a user would: in a given working directory
// (within limits on its memory, if given), with
// its standard output and error captured (or standard output sent to a
// given file such as /dev/full), through the emulator that runs this
// build's programs when they are built for another machine.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/harness.hpp"

// The emulator and its arguments, separated by '|' (empty when programs run
// natively).
#ifndef PROGRAM_EMULATOR
#define PROGRAM_EMULATOR ""
#endif

// Given as outPath, runs the program with its standard output closed, or
// sent to a pipe left non-blocking whose reader starts late.
inline const std::string closedOutput = "(closed)";
inline const std::string slowPipe = "(a slow non-blocking pipe)";

struct ProgramRun {
  std::string out;
  std::string err;
  int status;    // exit status, 128 + a signal that ended it, or `refused`
  long peakKiB;  // the program's peak resident memory
};

inline constexpr char limitsIgnoredReason[] =
    "limits on memory do not take here (qemu-user ignores them)";

// Limits on the program's memory: its address space, and a memory cgroup
// of its own (root only, and not through an emulator, whose own memory
// would count in it); none where 0.
struct Limits {
  rlim_t addressSpace = 0;
  std::uint64_t memoryGroup = 0;
};

inline ProgramRun runProgram(const std::string& program, const std::filesystem::path& workDir,
                             std::vector<std::string> args = {}, const std::string& outPath = "",
                             Limits limits = {}) {
  const MemoryGroup group(std::string_view(PROGRAM_EMULATOR).empty() ? limits.memoryGroup : 0);
  if (limits.memoryGroup != 0 && group.path.empty()) return {"", "", refused, 0};
  TempDir capture;
  const bool piped = outPath == slowPipe;
  const std::string out = outPath.empty() || piped ? (capture.path / "out").string() : outPath;
  int pipe[2] = {-1, -1};
  if (piped && (::pipe(pipe) != 0 || ::fcntl(pipe[1], F_SETFL, O_NONBLOCK) != 0)) return {};
  const std::string err = (capture.path / "err").string();
  std::vector<std::string> words;
  const std::string emulator = PROGRAM_EMULATOR;
  for (std::size_t at = 0; at < emulator.size();) {
    const std::size_t bar = std::min(emulator.find('|', at), emulator.size());
    words.push_back(emulator.substr(at, bar - at));
    at = bar + 1;
  }
  words.push_back(program);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  const pid_t pid = startChild(
      [&] {
        const bool closed = outPath == closedOutput;
        const int outFd = closed  ? -1
                          : piped ? pipe[1]
                                  : ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if ((closed ? ::close(1) != 0 : outFd < 0 || ::dup2(outFd, 1) < 0) || errFd < 0 ||
            ::dup2(errFd, 2) < 0 || ::chdir(workDir.c_str()) != 0) {
          return 126;
        }
        if (limits.addressSpace != 0 && !softLimit(RLIMIT_AS, limits.addressSpace)) return refused;
        ::execv(argv[0], argv.data());
        return 127;
      },
      {}, group.path);
  std::string piped_out;
  if (piped) {
    ::close(pipe[1]);
    ::usleep(100'000);  // the program meanwhile fills the pipe
    char buffer[65536];
    for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;) {
      piped_out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipe[0]);
  }
  rusage usage{};
  const int status = waitChild(pid, &usage);
  return ProgramRun{piped             ? piped_out
                    : outPath.empty() ? readFile(out)
                                      : std::string(),
                    readFile(err), status, usage.ru_maxrss};
}
