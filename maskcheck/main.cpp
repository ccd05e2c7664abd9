// maskcheck: builds an 8-bit value by a left shift, tests whether every bit
// of a fixed 8-bit mask is set in it, and prints the verdict, "correcto" or
// "incorrecto", with no line feed.
#include <cerrno>
#include <cstdio>
#include <cstring>

int main() {
  signed char x = 0x64;
  // The shift happens at int width (100 << 3 is 800); storing the result
  // keeps its low 8 bits, 32.
  x = static_cast<signed char>(x << 3);
  const auto mask = static_cast<signed char>(0x81);  // bits 7 and 0: -127

  // Both operands widen with sign extension, which gives the same verdict
  // as comparing the low 8 bits. With these values the test always fails.
  std::fputs((x & mask) == mask ? "correcto" : "incorrecto", stdout);

  // Output that could not be written is an error, not a success. The ten
  // bytes wait in the buffer until the flush, whose failed write leaves its
  // errno behind for the report; closing then cannot fail. The report is
  // one line, written whole in one write.
  if (std::fflush(stdout) != 0 || std::fclose(stdout) != 0) {
    char line[128];
    const int size =
        std::snprintf(line, sizeof line, "maskcheck: write error: %s\n", std::strerror(errno));
    std::fwrite(line, 1, static_cast<std::size_t>(size), stderr);
    return 1;
  }
  return 0;
}
