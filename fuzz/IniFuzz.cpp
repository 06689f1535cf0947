// Loads arbitrary bytes as an INI file, runs every typed reader over every key, and
// checks that saving is stable and that each writer's text reads back as written.

#include "base/Exceptions.h"
#include "support/IniFiles.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Check(bool Condition) {
  if (!Condition) std::abort();
}

void ReadEveryType(const TVarIniFile& Ini, const std::string& Section, const std::string& Key) {
  try { (void)Ini.ReadRect(Section, Key, TRect {}); } catch (const EIniFileException&) {}
  try { (void)Ini.ReadPoint(Section, Key, TPoint {}); } catch (const EIniFileException&) {}
  try { (void)Ini.ReadQuotedString(Section, Key, '"', ""); } catch (const EIniFileException&) {}
  try { (void)Ini.ReadInt64(Section, Key, 0); } catch (const EIniFileException&) {}
  try { (void)Ini.ReadUInt64(Section, Key, 0); } catch (const EIniFileException&) {}
  try { (void)Ini.ReadDouble(Section, Key, 0); } catch (const EIniFileException&) {}
  (void)Ini.ReadInt(Section, Key, 0);
  (void)Ini.ReadInteger(Section, Key, 0);
}

template <typename T>
T Take(const std::uint8_t* Data, std::size_t Size) {
  T value {};
  std::memcpy(&value, Data, Size < sizeof value ? Size : sizeof value);
  return value;
}

// Every value a writer stores must come back from its reader.
void CheckRoundTrips(TVarIniFile& Ini, const std::uint8_t* Data, std::size_t Size) {
  const auto i64 = Take<std::int64_t>(Data, Size);
  Ini.WriteInt64("Fuzz", "I64", i64);
  Check(Ini.ReadInt64("Fuzz", "I64", 0) == i64);
  const auto u64 = static_cast<std::uint64_t>(i64);
  Ini.WriteUInt64("Fuzz", "U64", u64);
  Check(Ini.ReadUInt64("Fuzz", "U64", 0) == u64);
  const auto i32 = static_cast<int>(static_cast<std::uint32_t>(u64));
  Ini.WriteInt("Fuzz", "I32", i32);
  Check(Ini.ReadInt("Fuzz", "I32", 0) == i32);
  const TRect rect {i32, -i32 / 2, static_cast<int>(u64 >> 32), 0};
  Ini.WriteRect("Fuzz", "Rect", rect);
  Check(Ini.ReadRect("Fuzz", "Rect", TRect {}) == rect);
  const double d = Take<double>(Data, Size);
  Ini.WriteDouble("Fuzz", "D", d);
  // Fifteen digits near the largest double round past it, and subnormals lose digits.
  if (std::isfinite(d) && std::fabs(d) >= DBL_MIN && std::fabs(d) <= 1.7976931348623e308) {
    const double back = Ini.ReadDouble("Fuzz", "D", 0);
    Check(std::fabs(back - d) <= std::fabs(d) * 1e-14);
  }
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  try {
    Ini.WriteQuotedString("Fuzz", "Q", '"', text);
    Check(Ini.ReadQuotedString("Fuzz", "Q", '"', "") == text);
  } catch (const EIniFileException&) {
    Check(text.find_first_of("\r\n") != std::string::npos);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string input(reinterpret_cast<const char*>(Data), Size);
  TVarIniFile ini("");
  ini.SetText(input);
  for (const auto& section : ini.ReadSections())
    for (const auto& key : ini.ReadSection(section)) ReadEveryType(ini, section, key);
  // What is saved once loads back to the same text.
  const std::string saved = ini.Text();
  TVarIniFile again("");
  again.SetText(saved);
  Check(again.Text() == saved);
  CheckRoundTrips(again, Data, Size);
  return 0;
}
