// Whether this build runs under AddressSanitizer, whose shadow memory needs
// an unlimited address space and counts in a process's resident memory.
// GCC says so with __SANITIZE_ADDRESS__, clang with
// __has_feature(address_sanitizer).
#pragma once

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool addressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool addressSanitizer = true;
#else
inline constexpr bool addressSanitizer = false;
#endif
#else
inline constexpr bool addressSanitizer = false;
#endif
