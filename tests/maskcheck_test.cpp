#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/run_program.hpp"

namespace {

const std::string maskcheck = MASKCHECK_PATH;

// The verdict without a line feed, whatever the arguments; output that
// cannot be written is reported.
TEST(Maskcheck, WritesTheVerdictOrReportsOutputThatCannotBeWritten) {
  struct Case {
    std::vector<std::string> args;
    std::string output;  // where standard output goes, if not to a file
    std::string out;
    std::string err;
    int status;
  };
  const Case cases[] = {
      {{}, "", "incorrecto", "", 0},
      {{"correcto"}, "", "incorrecto", "", 0},
      {{"-x", "1", "--"}, "", "incorrecto", "", 0},
      {{}, "/dev/full", "", "maskcheck: write error: No space left on device\n", 1},
      {{}, closedOutput, "", "maskcheck: write error: Bad file descriptor\n", 1},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const ProgramRun run = runProgram(maskcheck, dir.path, c.args, c.output);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, c.status);
  }
}

}  // namespace
