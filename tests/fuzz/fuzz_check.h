#pragma once
// A broken property ends the run the way a crash does, so libFuzzer keeps
// the input that broke it.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                    \
  do {                                                                                           \
    if (!(condition)) {                                                                          \
      std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition);      \
      std::abort();                                                                              \
    }                                                                                            \
  } while (0)
