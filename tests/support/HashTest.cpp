#include "support/Hash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

// Bit-at-a-time reference, independent of the hasher's table.
std::uint32_t BitwiseCrc32(const std::vector<std::uint8_t>& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::uint8_t b : bytes) {
    crc ^= b;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return crc ^ 0xFFFFFFFFu;
}

std::uint32_t CrcOf(const std::string& text) {
  TCrc32Hasher hasher;
  hasher.Update(text);
  return hasher.Final();
}

const std::uint8_t* Bytes(const std::string& text) { return reinterpret_cast<const std::uint8_t*>(text.data()); }

TEST(Crc32CheckValues, PublishedValues) {
  EXPECT_EQ(CrcOf("123456789"), 0xCBF43926u);
  EXPECT_EQ(CrcOf(""), 0u);
  EXPECT_EQ(CrcOf("a"), 0xE8B7BE43u);
  EXPECT_EQ(CrcOf("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
  EXPECT_EQ(CrcOf(std::string(4, '\0')), 0x2144DF1Cu);
  EXPECT_EQ(CrcOf("C:\\TOOLS"), 0x6EE3C32Du);
}

TEST(Crc32CheckValues, EmbeddedZeroBytesAreHashed) {
  EXPECT_EQ(CrcOf(std::string("a\0b", 3)), 0x15E87871u);
  EXPECT_NE(CrcOf(std::string("a\0b", 3)), CrcOf("a"));
}

TEST(Crc32Table, EverySingleByteMatchesBitwiseReference) {
  // A single byte reaches exactly one table entry, so this checks all 256 of them.
  for (int b = 0; b < 256; ++b) {
    const std::uint8_t byte = static_cast<std::uint8_t>(b);
    TCrc32Hasher hasher;
    hasher.Update(&byte, 1);
    EXPECT_EQ(hasher.Final(), BitwiseCrc32({byte})) << "byte " << b;
  }
}

TEST(Crc32Table, RandomBuffersMatchBitwiseReference) {
  std::mt19937 random(12345);
  for (int length : {2, 3, 7, 64, 1000}) {
    std::vector<std::uint8_t> data(static_cast<std::size_t>(length));
    for (auto& byte : data) byte = static_cast<std::uint8_t>(random());
    TCrc32Hasher hasher;
    hasher.Update(data.data(), length);
    EXPECT_EQ(hasher.Final(), BitwiseCrc32(data)) << "length " << length;
  }
}

TEST(Crc32Update, ChunkedUpdatesEqualOneUpdate) {
  const std::string text = "The quick brown fox jumps over the lazy dog";
  for (std::size_t split = 0; split <= text.size(); ++split) {
    TCrc32Hasher hasher;
    hasher.Update(text.substr(0, split));
    hasher.Update(Bytes(text) + split, static_cast<int>(text.size() - split));
    EXPECT_EQ(hasher.Final(), 0x414FA339u) << "split at " << split;
  }
}

TEST(Crc32Update, ZeroOrNegativeCountChangesNothing) {
  const std::string text = "123456789";
  TCrc32Hasher hasher;
  hasher.Update(Bytes(text), 0);
  hasher.Update(Bytes(text), -1);
  hasher.Update(Bytes(text), -2147483647 - 1);
  hasher.Update(nullptr, 0);
  hasher.Update(std::string());
  EXPECT_EQ(hasher.Final(), 0u);
  hasher.Update(text);
  hasher.Update(Bytes(text), -5);
  EXPECT_EQ(hasher.Final(), 0xCBF43926u);
}

TEST(Crc32Final, LeavesRegisterSoMoreBytesMayFollow) {
  TCrc32Hasher hasher;
  hasher.Update("12345");
  const std::uint32_t partial = hasher.Final();
  EXPECT_EQ(hasher.Final(), partial);
  EXPECT_EQ(partial, CrcOf("12345"));
  hasher.Update("6789");
  EXPECT_EQ(hasher.Final(), 0xCBF43926u);
}

TEST(Crc32Reset, StartsOver) {
  TCrc32Hasher hasher;
  hasher.Update("something else first");
  hasher.Reset();
  EXPECT_EQ(hasher.Final(), 0u);
  hasher.Update("123456789");
  EXPECT_EQ(hasher.Final(), 0xCBF43926u);
}

}  // namespace
