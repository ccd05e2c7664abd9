// The straightforward listing that datelist is measured against: fscanf
// one value at a time into a block grown by one record per value, then one
// printf per line.
#include <cstdio>
#include <cstdlib>

#include "datecodec.hpp"

int main() {
  std::FILE* f = std::fopen("fechas.txt", "r");
  if (f == nullptr) return 1;
  auto* dates = static_cast<Date*>(std::malloc(sizeof(Date)));
  std::size_t n = 0;
  int w = 0;
  while (dates != nullptr && std::fscanf(f, "%d\n", &w) == 1) {
    dates[n++] = unpackDate(w);
    dates = static_cast<Date*>(std::realloc(dates, (n + 1) * sizeof(Date)));
  }
  std::fclose(f);
  if (dates == nullptr) return 1;
  dates[n] = Date{0, 0, 0};
  for (const Date* d = dates; d->year != 0; ++d)
    std::printf("%d/%d/%d\n", d->day, d->month, d->year);
  return 0;
}
