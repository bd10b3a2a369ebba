// SHA-256 with HMAC and PBKDF2 on top: the hash behind the profile store's password check
// and field cipher. Written here so the store needs nothing beyond the C++ library and SQLite.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace tovamo {

using TDigest = std::array<std::uint8_t, 32>;
using TBytes = std::vector<std::uint8_t>;

// Incremental SHA-256 (FIPS 180-4).
class TSha256 {
 public:
  TSha256();
  void Update(const void* data, std::size_t size);
  void Update(std::string_view text) { Update(text.data(), text.size()); }
  TDigest Finish();  // the object is spent afterwards

 private:
  void Compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> State_;
  std::array<std::uint8_t, 64> Block_{};
  std::size_t BlockUsed_ = 0;
  std::uint64_t TotalBytes_ = 0;
};

TDigest Sha256(std::string_view data);

// HMAC-SHA-256 (RFC 2104) of the concatenated message parts.
TDigest HmacSha256(std::string_view key, std::initializer_list<std::string_view> message);

// PBKDF2 with HMAC-SHA-256 (RFC 8018), `length` bytes of key.
TBytes Pbkdf2Sha256(std::string_view password, std::string_view salt, std::uint32_t rounds,
                    std::size_t length);

// Views of byte buffers as the string_view the functions above take.
inline std::string_view AsText(const TDigest& d) {
  return {reinterpret_cast<const char*>(d.data()), d.size()};
}
inline std::string_view AsText(const TBytes& b) {
  return {reinterpret_cast<const char*>(b.data()), b.size()};
}

// Lower-case hexadecimal of bytes (for messages and tests).
std::string ToHex(std::string_view bytes);

}  // namespace tovamo
