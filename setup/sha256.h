// SHA-256 (FIPS 180-4), small and portable: the setup program checks the
// files it expands against the digests the package lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace setup {

class Sha256 {
 public:
  Sha256();
  void Update(const void* data, std::size_t size);
  // The digest as 64 lower-case hex digits; the object is spent afterwards.
  std::string HexDigest();

 private:
  void Block(const uint8_t* block);

  uint32_t state_[8];
  uint8_t buffer_[64];
  std::size_t buffered_ = 0;
  uint64_t total_bytes_ = 0;
};

std::string Sha256Hex(const std::string& data);

}  // namespace setup
