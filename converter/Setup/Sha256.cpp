#include "Sha256.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace tovamo {
namespace {

constexpr std::array<std::uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t RotateRight(std::uint32_t x, int n) {
  return (x >> n) | (x << (32 - n));
}

constexpr std::size_t kBlockSize = 64;

}  // namespace

TSha256::TSha256()
    : State_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void TSha256::Compress(const std::uint8_t* block) {
  std::uint32_t w[64];
  for (int i = 0; i < 16; ++i) {
    w[i] = std::uint32_t(block[4 * i]) << 24 | std::uint32_t(block[4 * i + 1]) << 16 |
           std::uint32_t(block[4 * i + 2]) << 8 | std::uint32_t(block[4 * i + 3]);
  }
  for (int i = 16; i < 64; ++i) {
    const std::uint32_t s0 =
        RotateRight(w[i - 15], 7) ^ RotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const std::uint32_t s1 =
        RotateRight(w[i - 2], 17) ^ RotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  std::uint32_t a = State_[0], b = State_[1], c = State_[2], d = State_[3];
  std::uint32_t e = State_[4], f = State_[5], g = State_[6], h = State_[7];
  for (int i = 0; i < 64; ++i) {
    const std::uint32_t s1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
    const std::uint32_t choose = (e & f) ^ (~e & g);
    const std::uint32_t t1 = h + s1 + choose + kRoundConstants[i] + w[i];
    const std::uint32_t s0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
    const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
    const std::uint32_t t2 = s0 + majority;
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  State_[0] += a;
  State_[1] += b;
  State_[2] += c;
  State_[3] += d;
  State_[4] += e;
  State_[5] += f;
  State_[6] += g;
  State_[7] += h;
}

void TSha256::Update(const void* data, std::size_t size) {
  auto bytes = static_cast<const std::uint8_t*>(data);
  TotalBytes_ += size;
  while (size > 0) {
    const std::size_t take = std::min(size, kBlockSize - BlockUsed_);
    std::memcpy(Block_.data() + BlockUsed_, bytes, take);
    BlockUsed_ += take;
    bytes += take;
    size -= take;
    if (BlockUsed_ == kBlockSize) {
      Compress(Block_.data());
      BlockUsed_ = 0;
    }
  }
}

TDigest TSha256::Finish() {
  const std::uint64_t bitLength = TotalBytes_ * 8;
  const std::uint8_t one = 0x80;
  Update(&one, 1);
  const std::uint8_t zero = 0;
  while (BlockUsed_ != kBlockSize - 8) Update(&zero, 1);
  std::uint8_t length[8];
  for (int i = 0; i < 8; ++i) length[i] = std::uint8_t(bitLength >> (56 - 8 * i));
  Update(length, 8);
  TDigest digest;
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 4; ++j) digest[4 * i + j] = std::uint8_t(State_[i] >> (24 - 8 * j));
  }
  return digest;
}

TDigest Sha256(std::string_view data) {
  TSha256 hash;
  hash.Update(data);
  return hash.Finish();
}

TDigest HmacSha256(std::string_view key, std::initializer_list<std::string_view> message) {
  std::array<std::uint8_t, kBlockSize> block{};
  if (key.size() > kBlockSize) {
    const TDigest hashed = Sha256(key);
    std::memcpy(block.data(), hashed.data(), hashed.size());
  } else {
    std::memcpy(block.data(), key.data(), key.size());
  }
  std::array<std::uint8_t, kBlockSize> inner, outer;
  for (std::size_t i = 0; i < kBlockSize; ++i) {
    inner[i] = block[i] ^ 0x36;
    outer[i] = block[i] ^ 0x5c;
  }
  TSha256 innerHash;
  innerHash.Update(inner.data(), inner.size());
  for (std::string_view part : message) innerHash.Update(part);
  const TDigest innerDigest = innerHash.Finish();
  TSha256 outerHash;
  outerHash.Update(outer.data(), outer.size());
  outerHash.Update(innerDigest.data(), innerDigest.size());
  return outerHash.Finish();
}

TBytes Pbkdf2Sha256(std::string_view password, std::string_view salt, std::uint32_t rounds,
                    std::size_t length) {
  TBytes key;
  key.reserve(length);
  for (std::uint32_t blockIndex = 1; key.size() < length; ++blockIndex) {
    const char counter[4] = {char(blockIndex >> 24), char(blockIndex >> 16), char(blockIndex >> 8),
                             char(blockIndex)};
    TDigest u = HmacSha256(password, {salt, std::string_view(counter, 4)});
    TDigest t = u;
    for (std::uint32_t round = 1; round < rounds; ++round) {
      u = HmacSha256(password, {AsText(u)});
      for (std::size_t i = 0; i < t.size(); ++i) t[i] ^= u[i];
    }
    for (std::size_t i = 0; i < t.size() && key.size() < length; ++i) key.push_back(t[i]);
  }
  return key;
}

std::string ToHex(std::string_view bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

}  // namespace tovamo
