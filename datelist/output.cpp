// The listing of an array written to a descriptor.
#include "datelist/output.hpp"

#include <algorithm>
#include <cstdlib>

#include "datelist/datetext.hpp"

namespace bitwords {

int writeDates(int fd, const Date* dates, std::size_t count) noexcept {
  char spare[1024];
  const std::size_t wanted =
      std::min(std::max(count, std::size_t{1}) * maxDateText, std::size_t{256} << 10);
  char* const taken = static_cast<char*>(std::malloc(wanted));
  char* const buffer = taken != nullptr ? taken : spare;
  const std::size_t room = taken != nullptr ? wanted : sizeof spare;
  const Date* next = dates;
  const Date* const end = dates + count;
  int error = 0;
  while (error == 0 && next != end && next->year != 0) {
    error = writeAll(fd, buffer, formatDates(&next, end, buffer, room));
  }
  std::free(taken);
  return error;
}

}  // namespace bitwords
