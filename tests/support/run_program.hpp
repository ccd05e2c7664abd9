// Runs a built program as a user would: in a given working directory, with
// its standard output and error captured (or standard output sent to a
// given file such as /dev/full).
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/temp_dir.hpp"

// Given as outPath, runs the program with its standard output closed.
inline const std::string closedOutput = "(closed)";

struct ProgramRun {
  std::string out;
  std::string err;
  int status;    // exit status, or -1 if the program did not exit normally
  long peakKiB;  // the program's peak resident memory
};

// Limits on the program's resources, in bytes; 0 leaves one as it is.
struct ProgramLimits {
  rlim_t addressSpace = 0;
  rlim_t stack = 0;
};

inline ProgramRun runProgram(const std::string& program, const std::filesystem::path& workDir,
                             std::vector<std::string> args = {}, const std::string& outPath = "",
                             ProgramLimits limits = {}) {
  TempDir capture;
  const std::string out = outPath.empty() ? (capture.path / "out").string() : outPath;
  const std::string err = (capture.path / "err").string();
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid == 0) {
    const bool closed = outPath == closedOutput;
    const int outFd = closed ? -1 : ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if ((closed ? ::close(1) != 0 : outFd < 0 || ::dup2(outFd, 1) < 0) || errFd < 0 ||
        ::dup2(errFd, 2) < 0 || ::chdir(workDir.c_str()) != 0) {
      ::_exit(126);
    }
    for (const auto& [resource, bytes] :
         {std::pair{RLIMIT_AS, limits.addressSpace}, std::pair{RLIMIT_STACK, limits.stack}}) {
      const rlimit limit{bytes, bytes};
      if (bytes != 0 && ::setrlimit(resource, &limit) != 0) ::_exit(126);
    }
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  EXPECT_EQ(::wait4(pid, &status, 0, &usage), pid);
  return ProgramRun{outPath.empty() ? readFile(out) : std::string(), readFile(err),
                    WIFEXITED(status) ? WEXITSTATUS(status) : -1, usage.ru_maxrss};
}
