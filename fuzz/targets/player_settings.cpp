// libFuzzer's entry for FeedPlayerSettings (FuzzEntries.h).
#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

#include "FuzzEntries.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static QCoreApplication app(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tovamo::fuzz::FeedPlayerSettings({reinterpret_cast<const char*>(data), size});
  return 0;
}
