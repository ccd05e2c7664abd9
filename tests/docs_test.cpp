// The documents against the code: each figure that the manual page and the
// headers state, against the constant it is, and each diagnostic that the
// manual page shows, against what datelist prints; the README's listing of
// the shipped example, against the example's listing as datelist makes it
// and as every check outside the process compares it (examples/listing.txt).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>

#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "datelist/datefile.hpp"
#include "datelist/datetext.hpp"
#include "tests/support/run_program.hpp"

namespace {

const std::filesystem::path source = BITWORDS_SOURCE_DIR;
const std::string datelist = DATELIST_PATH;

// Every number that stands before `unit` in the text, across line breaks.
std::vector<std::size_t> figuresBefore(const std::string& text, const std::string& unit) {
  std::vector<std::size_t> figures;
  const std::regex figure("([0-9]+)\\s+" + unit);
  for (std::sregex_iterator at(text.begin(), text.end(), figure), end; at != end; ++at)
    figures.push_back(std::stoul((*at)[1]));
  return figures;
}

TEST(Documents, StateTheFiguresOfTheCode) {
  const std::string page = readFile(source / "man/datelist.1");
  EXPECT_EQ(figuresBefore(page, "seconds"),
            std::vector<std::size_t>(3, static_cast<std::size_t>(bitwords::lockWaitSeconds)));
  EXPECT_EQ(figuresBefore(page, "bytes a date"), std::vector<std::size_t>{sizeof(bitwords::Date)});
  EXPECT_EQ(figuresBefore(page, "bytes, with"), std::vector<std::size_t>{bitwords::maxTokenText});
  // datetext.hpp's longest text of a date is maxDateText bytes long.
  std::smatch longest;
  const std::string text = readFile(source / "datelist/datetext.hpp");
  ASSERT_TRUE(
      std::regex_search(text, longest, std::regex("Longest text of one date: \"(.*)\\\\n\"")));
  EXPECT_EQ(longest[1].length() + 1, bitwords::maxDateText);
}

// The page's entries of DIAGNOSTICS, each a run of bold text and italic
// words that stand for what the message holds.
std::vector<std::vector<std::pair<bool, std::string>>> diagnostics(const std::string& page) {
  const std::size_t from = page.find(".SH DIAGNOSTICS");
  std::istringstream lines(page.substr(from, page.find(".SH EXAMPLES") - from));
  std::vector<std::vector<std::pair<bool, std::string>>> entries;
  bool entry = false;
  for (std::string line; std::getline(lines, line);) {
    if (entry && (line.rfind(".B ", 0) == 0 || line.rfind(".BI ", 0) == 0)) {
      std::vector<std::pair<bool, std::string>> words;
      const std::regex word("\"([^\"]*)\"|(\\S+)");
      const std::string rest = line.substr(line.find(' ') + 1);
      for (std::sregex_iterator at(rest.begin(), rest.end(), word), end; at != end; ++at) {
        std::string text = (*at)[1].matched ? (*at)[1].str() : (*at)[2].str();
        text = std::regex_replace(text, std::regex("\\\\\\(dq"), "\"");
        words.emplace_back(line[2] == 'I' && words.size() % 2 == 1, text);
      }
      entries.push_back(words);
    }
    entry = line == ".TP";
  }
  return entries;
}

// Each message of the page as datelist prints it, in the page's order, its
// italic words given.
TEST(Documents, ShowTheDiagnosticsAsTheProgramPrintsThem) {
  struct Message {
    std::optional<std::string> file;  // fechas.txt, or none
    std::map<std::string, std::string> words;
    std::string output = {};
    bool locked = false;  // by another process, longer than the wait
  };
  const std::vector<Message> messages = {
      {std::nullopt, {{"reason", "No such file or directory"}}},
      {"845794\n12abc\n", {{"line", "2"}, {"token", "12abc"}}},
      {"99999999999\n", {{"line", "1"}, {"token", "99999999999"}}},
      {"845794\n", {}, {}, true},
      {"845794\n", {{"reason", "No space left on device"}}, "/dev/full"},
  };
  const auto entries = diagnostics(readFile(source / "man/datelist.1"));
  ASSERT_EQ(entries.size(), messages.size());
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const Message& m = messages[i];
    std::string want;
    for (const auto& [italic, text] : entries[i]) want += italic ? m.words.at(text) : text;
    SCOPED_TRACE(want);
    TempDir dir;
    if (m.file) dir.write("fechas.txt", *m.file);
    // A holder of the file's lock, which says so once it has it.
    int held[2] = {-1, -1};
    ASSERT_EQ(::pipe(held), 0);
    const pid_t holder = !m.locked ? -1 : startChild([&] {
      const int fd = ::open((dir.path / "fechas.txt").c_str(), O_RDONLY);
      if (::flock(fd, LOCK_EX) != 0 || ::write(held[1], "", 1) != 1) return 1;
      ::pause();
      return 0;
    });
    char byte = 0;
    ASSERT_TRUE(!m.locked || ::read(held[0], &byte, 1) == 1);
    EXPECT_EQ(runProgram(datelist, dir.path, {}, m.output).err, want + "\n");
    if (holder > 0 && ::kill(holder, SIGKILL) == 0) waitChild(holder);
    ::close(held[0]);
    ::close(held[1]);
  }
}

// The README's listing of the example is the example's listing, which
// datelist makes.
TEST(Documents, ListTheExampleAsDatelistDoes) {
  const std::string listing = readFile(source / "examples/listing.txt");
  const std::string readme = readFile(source / "README.md");
  const std::size_t sample = readme.find("```\n", readme.find("which prints"));
  ASSERT_NE(sample, std::string::npos);
  const std::size_t from = sample + 4;
  EXPECT_EQ(readme.substr(from, readme.find("```", from) - from), listing);
  EXPECT_EQ(runProgram(datelist, source / "examples").out, listing);
}

}  // namespace
