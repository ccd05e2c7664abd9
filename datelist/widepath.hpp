// Which code takes the common case: the best this machine has (AVX2, where
// the processor has it, checked at run time) or one chosen. Every wide path
// has a portable one beside it that gives the same results; the tests and
// fuzz targets run each that the machine can.
#pragma once

namespace bitwords::detail {

enum class WidePath : unsigned char { best, portable, wide };

// Whether this machine can run the wide paths: AVX2, BMI1, BMI2 and POPCNT.
bool wideAvailable() noexcept;

// The path that `best` stands for here; any other path as it is.
WidePath resolvePath(WidePath path) noexcept;

}  // namespace bitwords::detail
