#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/run_program.hpp"

namespace {

const std::string maskcheck = MASKCHECK_PATH;

TEST(Maskcheck, WritesTheVerdictWithoutALineFeedWhateverItsArguments) {
  const std::vector<std::vector<std::string>> argumentLists = {{}, {"correcto"}, {"-x", "1", "--"}};
  for (const auto& args : argumentLists) {
    TempDir dir;
    const ProgramRun run = runProgram(maskcheck, dir.path, args);
    EXPECT_EQ(run.out, "incorrecto");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
  }
}

TEST(Maskcheck, ReportsOutputThatCannotBeWritten) {
  const std::pair<std::string, std::string> cases[] = {
      {"/dev/full", "maskcheck: write error: No space left on device\n"},
      {closedOutput, "maskcheck: write error: Bad file descriptor\n"},
  };
  for (const auto& [output, err] : cases) {
    TempDir dir;
    const ProgramRun run = runProgram(maskcheck, dir.path, {}, output);
    EXPECT_EQ(run.err, err);
    EXPECT_EQ(run.status, 1);
  }
}

}  // namespace
