// The listing of datelist/datetext.hpp on a chosen code path, so that the
// tests can run each that the machine has. Internal to the library.
#pragma once

#include <cstddef>

#include "datelist/datecodec.hpp"
#include "datelist/wide.hpp"

namespace bitwords::detail {

// formatDates on the given path; end may be null (not known).
std::size_t formatDates(WidePath path, const Date** next, const Date* end, char* out,
                        std::size_t room) noexcept;

}  // namespace bitwords::detail
