// How a password protects a table of the store. The password is stretched with PBKDF2 over a
// random salt kept in the file; from the result come a verifier (kept in the file, so a wrong
// password is refused before any field is read) and the keys that encipher every field.
//
// A field is enciphered deterministically (synthetic IV): tag = HMAC(auth key, table, field,
// text) cut to 16 bytes, cipher text = text XOR HMAC(cipher key, tag, block counter) blocks.
// Equal texts give equal cipher texts, so a unique index on a field still works, and the tag
// proves on reading that the field was written with this key for this table and field.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Sha256.h"

namespace tovamo {

inline constexpr std::size_t kTableSaltSize = 16;
inline constexpr std::size_t kFieldTagSize = 16;
inline constexpr std::uint32_t kDefaultKeyRounds = 20000;
// The writer never uses more; a stored count beyond it is a damaged file, refused before the
// key is stretched rather than a stall of every start-up.
inline constexpr std::uint32_t kMaxKeyRounds = kDefaultKeyRounds;

class TTableKeys {
 public:
  TTableKeys(std::string_view password, std::string_view salt, std::uint32_t rounds);

  // Kept in the file; equal verifiers mean the same password.
  const TDigest& Verifier() const { return Verifier_; }
  bool Verifies(std::string_view storedVerifier) const;  // constant-time comparison

  std::string Encipher(std::string_view table, std::string_view field, std::string_view text) const;
  // False when the cipher text was not written with these keys for this table and field.
  bool Decipher(std::string_view table, std::string_view field, std::string_view cipherText,
                std::string& text) const;

 private:
  TDigest Tag(std::string_view table, std::string_view field, std::string_view text) const;
  void ApplyKeyStream(std::string_view tag, std::string& text) const;

  TDigest Verifier_;
  TDigest CipherKey_;
  TDigest AuthKey_;
};

// Random bytes from the system's entropy source, for a new salt.
std::string RandomBytes(std::size_t count);

}  // namespace tovamo
