#pragma once
// CRC-32 accumulator (reflected, polynomial 0xEDB88320, as used by ZIP and PNG).

#include <cstdint>
#include <string>

// A running CRC-32 over any number of byte chunks.
class TCrc32Hasher {
public:
  // Starts with a fresh register.
  TCrc32Hasher();

  // Puts the register back to its initial value.
  void Reset();
  // Feeds Count bytes from Data; a Count of 0 or less changes nothing.
  void Update(const std::uint8_t* Data, int Count);
  // Feeds the bytes of Text, without a terminating zero.
  void Update(const std::string& Text);
  // The CRC-32 of all bytes fed since the last Reset; the register is left as it is.
  std::uint32_t Final() const;

private:
  std::uint32_t Crc;
};
