#include "TableCipher.h"

#include <random>
#include <stdexcept>

namespace tovamo {
namespace {

TDigest Subkey(const TBytes& master, std::string_view purpose) {
  return HmacSha256(AsText(master), {"tovamo table store ", purpose});
}

}  // namespace

TTableKeys::TTableKeys(std::string_view password, std::string_view salt, std::uint32_t rounds) {
  const TBytes master = Pbkdf2Sha256(password, salt, rounds, 32);
  Verifier_ = Subkey(master, "verifier");
  CipherKey_ = Subkey(master, "cipher");
  AuthKey_ = Subkey(master, "authentication");
}

bool TTableKeys::Verifies(std::string_view storedVerifier) const {
  if (storedVerifier.size() != Verifier_.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < Verifier_.size(); ++i) {
    difference |= static_cast<unsigned char>(storedVerifier[i]) ^ Verifier_[i];
  }
  return difference == 0;
}

TDigest TTableKeys::Tag(std::string_view table, std::string_view field,
                        std::string_view text) const {
  // The lengths keep "ab"+"c" apart from "a"+"bc".
  const std::string lengths = std::to_string(table.size()) + ":" + std::to_string(field.size());
  return HmacSha256(AsText(AuthKey_), {lengths, ":", table, field, text});
}

void TTableKeys::ApplyKeyStream(std::string_view tag, std::string& text) const {
  for (std::size_t offset = 0, block = 0; offset < text.size(); offset += 32, ++block) {
    const char counter[8] = {char(block >> 56), char(block >> 48), char(block >> 40),
                             char(block >> 32), char(block >> 24), char(block >> 16),
                             char(block >> 8),  char(block)};
    const TDigest stream = HmacSha256(AsText(CipherKey_), {tag, std::string_view(counter, 8)});
    for (std::size_t i = 0; i < 32 && offset + i < text.size(); ++i) text[offset + i] ^= stream[i];
  }
}

std::string TTableKeys::Encipher(std::string_view table, std::string_view field,
                                 std::string_view text) const {
  const std::string tag(AsText(Tag(table, field, text)).substr(0, kFieldTagSize));
  std::string body(text);
  ApplyKeyStream(tag, body);
  return tag + body;
}

bool TTableKeys::Decipher(std::string_view table, std::string_view field,
                          std::string_view cipherText, std::string& text) const {
  if (cipherText.size() < kFieldTagSize) return false;
  const std::string_view tag = cipherText.substr(0, kFieldTagSize);
  std::string body(cipherText.substr(kFieldTagSize));
  ApplyKeyStream(tag, body);
  const TDigest expected = Tag(table, field, body);
  unsigned char difference = 0;
  for (std::size_t i = 0; i < kFieldTagSize; ++i) {
    difference |= static_cast<unsigned char>(tag[i]) ^ expected[i];
  }
  if (difference != 0) return false;
  text = std::move(body);
  return true;
}

std::string RandomBytes(std::size_t count) {
  std::random_device source;  // /dev/urandom on Linux
  std::string bytes(count, '\0');
  for (char& byte : bytes) byte = static_cast<char>(source() & 0xff);
  return bytes;
}

}  // namespace tovamo
