// The load and the listing's text, made into a 256 KiB buffer and thrown
// away: datelist less its writes, for timing the text against the load.
#include "datelist/datefile.hpp"
#include "datelist/datetext.hpp"

int main() {
  static char buffer[256 * 1024];
  bitwords::Date* dates = nullptr;
  const bitwords::LoadResult result = bitwords::loadDates(&dates, "fechas.txt");
  const bitwords::Date* next = dates;
  std::size_t sum = 0;
  while (next != dates + result.count && next->year != 0) {
    sum += bitwords::formatDates(&next, dates + result.count, buffer, sizeof buffer);
    asm volatile("" : : "r"(buffer) : "memory");  // the text is made, as if to be written
  }
  return sum == 0 ? 1 : 0;
}
