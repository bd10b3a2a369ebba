// libFuzzer's entry for FeedOption (FuzzEntries.h).
#include <cstddef>
#include <cstdint>

#include "FuzzEntries.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tovamo::fuzz::LoadMediaLibraries();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tovamo::fuzz::FeedOption({reinterpret_cast<const char*>(data), size});
  return 0;
}
