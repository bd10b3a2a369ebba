// libFuzzer's entry for FeedFormatString (FuzzEntries.h).
#include <cstddef>
#include <cstdint>

#include "FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tovamo::fuzz::FeedFormatString({reinterpret_cast<const char*>(data), size});
  return 0;
}
