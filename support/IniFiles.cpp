#include "support/IniFiles.h"

#include "base/Exceptions.h"
#include "base/FormatSettings.h"

#include <vector>

namespace {

// Rectangles share the point message: the reader of both has only this one.
constexpr const char* kPointMessage = "The program cannot read a point from a INI file.";
constexpr const char* kQuoteMessage = "The program cannot read a quote string from a INI file.";
constexpr const char* kInt64Message = "The program cannot read an __int64 value from a INI file.";
constexpr const char* kUInt64Message = "The program cannot read an unsigned __int64 value from a INI file.";
constexpr const char* kDoubleMessage = "The program cannot read a double value from a INI file.";

bool IsSeparatorBlank(char C) {
  const auto code = static_cast<unsigned char>(C);
  return code >= 1 && code <= 32;
}

bool EndsItem(char C) { return C == ',' || static_cast<unsigned char>(C) <= 32; }

// A quoted item from the opening quote at I, doubled quotes standing for one;
// false when the closing quote is missing.
bool TakeQuotedItem(const std::string& Text, std::size_t& I, std::string& Item) {
  for (++I; I < Text.size() && Text[I] != '\0'; ++I) {
    if (Text[I] == '"') {
      if (I + 1 < Text.size() && Text[I + 1] == '"') {
        ++I;
      } else {
        ++I;
        return true;
      }
    }
    Item += Text[I];
  }
  return false;
}

// Splits a comma list: blanks separate items as commas do, adjacent commas give an
// empty item, a trailing comma adds one, and a NUL ends the list. A quote that is
// never closed makes the whole list unreadable.
bool SplitCommaList(const std::string& Text, std::vector<std::string>& Items) {
  const std::size_t n = Text.size();
  std::size_t i = 0;
  while (i < n && IsSeparatorBlank(Text[i])) ++i;
  while (i < n && Text[i] != '\0') {
    std::string item;
    if (Text[i] == '"') {
      if (!TakeQuotedItem(Text, i, item)) return false;
    } else {
      const std::size_t start = i;
      while (i < n && !EndsItem(Text[i])) ++i;
      item = Text.substr(start, i - start);
    }
    Items.push_back(std::move(item));
    while (i < n && IsSeparatorBlank(Text[i])) ++i;
    if (i < n && Text[i] == ',') {
      if (i + 1 == n || Text[i + 1] == '\0') Items.emplace_back();
      for (++i; i < n && IsSeparatorBlank(Text[i]);) ++i;
    }
  }
  return true;
}

// The first Count items of the comma list, each by the 32-bit grammar; raises the point message otherwise.
std::vector<int> ReadIntegerList(const std::string& Text, std::size_t Count) {
  std::vector<std::string> items;
  if (!SplitCommaList(Text, items) || items.size() < Count) throw EIniFileException(kPointMessage);
  std::vector<int> values(Count);
  for (std::size_t i = 0; i < Count; ++i)
    if (!TryStrToInt(items[i], values[i])) throw EIniFileException(kPointMessage);
  return values;
}

}  // namespace

TVarIniFile::TVarIniFile(const std::string& FileName) : TMemIniFile(FileName) {}

TRect TVarIniFile::ReadRect(const std::string& Section, const std::string& Key, const TRect& Default) const {
  if (!ValueExists(Section, Key)) return Default;
  const auto v = ReadIntegerList(ReadString(Section, Key, std::string()), 4);
  return TRect {v[0], v[1], v[2], v[3]};
}

void TVarIniFile::WriteRect(const std::string& Section, const std::string& Key, const TRect& Value) {
  WriteString(Section, Key,
              IntToStr(Value.Left) + "," + IntToStr(Value.Top) + "," + IntToStr(Value.Right) + "," +
                  IntToStr(Value.Bottom));
}

TPoint TVarIniFile::ReadPoint(const std::string& Section, const std::string& Key, const TPoint& Default) const {
  if (!ValueExists(Section, Key)) return Default;
  const auto v = ReadIntegerList(ReadString(Section, Key, std::string()), 2);
  return TPoint {v[0], v[1]};
}

void TVarIniFile::WritePoint(const std::string& Section, const std::string& Key, const TPoint& Value) {
  WriteString(Section, Key, IntToStr(Value.X) + "," + IntToStr(Value.Y));
}

std::string TVarIniFile::ReadQuotedString(const std::string& Section, const std::string& Key, char Quote,
                                          const std::string& Default) const {
  if (!ValueExists(Section, Key)) return Default;
  const std::string text = ReadString(Section, Key, std::string());
  if (text.size() < 2 || text.front() != Quote || text.back() != Quote) throw EIniFileException(kQuoteMessage);
  return text.substr(1, text.size() - 2);
}

void TVarIniFile::WriteQuotedString(const std::string& Section, const std::string& Key, char Quote,
                                    const std::string& Value) {
  WriteString(Section, Key, Quote + Value + Quote);
}

std::int64_t TVarIniFile::ReadInt64(const std::string& Section, const std::string& Key, std::int64_t Default) const {
  if (!ValueExists(Section, Key)) return Default;
  std::int64_t value = 0;
  if (!TryStrToInt64(ReadString(Section, Key, std::string()), value)) throw EIniFileException(kInt64Message);
  return value;
}

void TVarIniFile::WriteInt64(const std::string& Section, const std::string& Key, std::int64_t Value) {
  WriteString(Section, Key, IntToStr(Value));
}

std::uint64_t TVarIniFile::ReadUInt64(const std::string& Section, const std::string& Key,
                                      std::uint64_t Default) const {
  if (!ValueExists(Section, Key)) return Default;
  std::uint64_t value = 0;
  if (!TryStrToUInt64(ReadString(Section, Key, std::string()), value)) throw EIniFileException(kUInt64Message);
  return value;
}

void TVarIniFile::WriteUInt64(const std::string& Section, const std::string& Key, std::uint64_t Value) {
  WriteString(Section, Key, UIntToStr(Value));
}

int TVarIniFile::ReadInt(const std::string& Section, const std::string& Key, int Default) const {
  return ReadInteger(Section, Key, Default);
}

void TVarIniFile::WriteInt(const std::string& Section, const std::string& Key, int Value) {
  WriteInteger(Section, Key, Value);
}

double TVarIniFile::ReadDouble(const std::string& Section, const std::string& Key, double Default) const {
  if (!ValueExists(Section, Key)) return Default;
  double value = 0;
  if (!TryTextToFloat(ReadString(Section, Key, std::string()), value)) throw EIniFileException(kDoubleMessage);
  return value;
}

void TVarIniFile::WriteDouble(const std::string& Section, const std::string& Key, double Value) {
  WriteString(Section, Key, FloatToStr(Value));
}
