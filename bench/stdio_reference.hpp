// The straightforward listing that datelist is measured against: fscanf
// one value at a time into a block grown by one record per value, then one
// fprintf per line.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "datelist/datecodec.hpp"

using bitwords::Date;

// Reads the date file at path into a terminated array owned by the caller;
// null if the file cannot be opened or memory runs out.
inline Date* stdioLoad(const char* path) {
  std::FILE* f = std::fopen(path, "r");
  if (f == nullptr) return nullptr;
  auto* dates = static_cast<Date*>(std::malloc(sizeof(Date)));
  std::size_t n = 0;
  int w = 0;
  while (dates != nullptr && std::fscanf(f, "%d\n", &w) == 1) {
    dates[n++] = bitwords::unpackDate(w);
    dates = static_cast<Date*>(std::realloc(dates, (n + 1) * sizeof(Date)));
  }
  std::fclose(f);
  if (dates != nullptr) dates[n] = Date{0, 0, 0};
  return dates;
}

inline void stdioList(const Date* dates, std::FILE* out) {
  for (const Date* d = dates; d->year != 0; ++d) {
    std::fprintf(out, "%d/%d/%d\n", d->day, d->month, d->year);
  }
}
