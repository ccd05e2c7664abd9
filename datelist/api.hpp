// What the shared library exports: the functions of its interface, marked
// with BITWORDS_API; everything else is hidden.
#pragma once

#if defined(__GNUC__)
#define BITWORDS_API __attribute__((visibility("default")))
#else
#define BITWORDS_API
#endif
