// What the fuzz targets share. Each defines fuzz(), given its input as bytes and as a provider; a
// broken FUZZ_CHECK aborts, so that libFuzzer keeps the input, and shows where and what.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>
#include <cstdio>
#include <cstdlib>

#include "text.h"
#include "utf8.h"

using namespace corvane;  // the fuzz targets are tests of its functions

#define FUZZ_CHECK(condition) \
  ((condition) ? void() : (std::fputs("property broken: " #condition "\n", stderr), std::abort()))

void fuzz(std::string_view bytes, FuzzedDataProvider& provider);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  fuzz(std::string_view(reinterpret_cast<const char*>(data), size), provider);
  return 0;
}
