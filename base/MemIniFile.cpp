#include "base/MemIniFile.h"

#include "base/Exceptions.h"
#include "base/FileIO.h"
#include "base/FormatSettings.h"
#include "base/SysUtils.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <sys/stat.h>

namespace {

constexpr const char* kLineBreakMessage = "The program cannot write a line break into a INI file.";

bool IsBlank(char C) { return static_cast<unsigned char>(C) <= 32; }

std::string_view Trim(std::string_view Text) {
  while (!Text.empty() && IsBlank(Text.front())) Text.remove_prefix(1);
  while (!Text.empty() && IsBlank(Text.back())) Text.remove_suffix(1);
  return Text;
}

char FoldCase(char C) { return C >= 'a' && C <= 'z' ? static_cast<char>(C - 'a' + 'A') : C; }

bool SameText(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (std::size_t i = 0; i < A.size(); ++i)
    if (FoldCase(A[i]) != FoldCase(B[i])) return false;
  return true;
}

// The key name of a line, or nothing for a line without '='.
std::optional<std::string_view> KeyName(const std::string& Line) {
  const std::size_t equals = Line.find('=');
  if (equals == std::string::npos) return std::nullopt;
  return std::string_view(Line).substr(0, equals);
}

bool HasLineBreak(const std::string& Text) { return Text.find_first_of("\r\n") != std::string::npos; }

void AddUnique(TStringList& Names, std::string_view Name) {
  for (const auto& known : Names)
    if (SameText(known, Name)) return;
  Names.emplace_back(Name);
}

// A link is followed so that saving replaces the file it points to, not the link itself.
std::string ResolveLink(const std::string& Path) {
  struct stat st {};
  if (::lstat(Path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return Path;
  char* resolved = ::realpath(Path.c_str(), nullptr);
  if (resolved == nullptr) return Path;
  std::string target(resolved);
  std::free(resolved);
  return target;
}

}  // namespace

TCustomIniFile::TCustomIniFile(std::string FileName) : FFileName(std::move(FileName)) {}

int TCustomIniFile::ReadInteger(const std::string& Section, const std::string& Key, int Default) const {
  std::string text = ReadString(Section, Key, std::string());
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.replace(0, 2, "$");
  int value = Default;
  return TryStrToInt(text, value) ? value : Default;
}

void TCustomIniFile::WriteInteger(const std::string& Section, const std::string& Key, int Value) {
  WriteString(Section, Key, IntToStr(Value));
}

TMemIniFile::TMemIniFile(const std::string& FileName) : TCustomIniFile(FileName) { LoadFile(); }

void TMemIniFile::LoadFile() {
  const std::string& name = FileName();
  if (name.empty() || !FileExists(name)) return;
  // Far more than any settings file; a larger file is refused rather than read.
  constexpr std::uint64_t kMaxIniBytes = std::uint64_t{64} << 20;
  std::string text;
  try {
    text = ReadFileBounded(name, kMaxIniBytes);
  } catch (const EFOpenError&) {
    throw EFOpenError("Cannot open file \"" + name + "\"");
  } catch (const EReadError&) {
    throw EReadError("Stream read error");
  }
  SetText(text);
}

void TMemIniFile::SetText(const std::string& Text) {
  std::vector<TSection> sections;
  std::string_view rest(Text);
  // Editors that add a UTF-8 byte-order mark would otherwise hide the first section header.
  if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
  while (!rest.empty()) {
    const std::size_t end = rest.find_first_of("\r\n");
    const std::string_view line = Trim(rest.substr(0, end));
    if (end == std::string_view::npos) {
      rest = std::string_view();
    } else {
      const bool crlf = rest[end] == '\r' && end + 1 < rest.size() && rest[end + 1] == '\n';
      rest.remove_prefix(end + (crlf ? 2 : 1));
    }
    if (line.empty() || line.front() == ';') continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      sections.push_back(TSection {std::string(Trim(line.substr(1, line.size() - 2))), {}});
    } else if (!sections.empty()) {
      const std::size_t equals = line.find('=');
      if (equals == std::string_view::npos) {
        sections.back().Lines.emplace_back(line);
      } else {
        std::string stored(Trim(line.substr(0, equals)));
        stored += '=';
        stored += Trim(line.substr(equals + 1));
        sections.back().Lines.push_back(std::move(stored));
      }
    }
  }
  FSections = std::move(sections);
}

std::string TMemIniFile::Text() const {
  std::string text;
  for (const auto& section : FSections) {
    text += '[';
    text += section.Name;
    text += "]\r\n";
    for (const auto& line : section.Lines) {
      text += line;
      text += "\r\n";
    }
    text += "\r\n";
  }
  return text;
}

void TMemIniFile::UpdateFile() {
  const std::string text = Text();
  WriteFileSafely(ResolveLink(FileName()), text.data(), text.size(), /*Replace*/ true, /*Sync*/ true);
}

void TMemIniFile::Clear() { FSections.clear(); }

std::optional<TMemIniFile::TLinePos> TMemIniFile::FindKey(const std::string& Section, const std::string& Key) const {
  for (std::size_t s = 0; s < FSections.size(); ++s) {
    if (!SameText(FSections[s].Name, Section)) continue;
    const auto& lines = FSections[s].Lines;
    for (std::size_t l = 0; l < lines.size(); ++l) {
      const auto name = KeyName(lines[l]);
      if (name && SameText(*name, Key)) return TLinePos {s, l};
    }
  }
  return std::nullopt;
}

std::string TMemIniFile::ReadString(const std::string& Section, const std::string& Key,
                                    const std::string& Default) const {
  const auto pos = FindKey(Section, Key);
  if (!pos) return Default;
  const std::string& line = FSections[pos->Section].Lines[pos->Line];
  return line.substr(line.find('=') + 1);
}

void TMemIniFile::WriteString(const std::string& Section, const std::string& Key, const std::string& Value) {
  // A line break would split the line on the next load and could forge sections or keys.
  if (HasLineBreak(Section) || HasLineBreak(Key) || HasLineBreak(Value)) throw EIniFileException(kLineBreakMessage);
  std::string line = Key + "=" + Value;
  if (const auto pos = FindKey(Section, Key)) {
    FSections[pos->Section].Lines[pos->Line] = std::move(line);
    return;
  }
  for (auto& section : FSections) {
    if (SameText(section.Name, Section)) {
      section.Lines.push_back(std::move(line));
      return;
    }
  }
  FSections.push_back(TSection {Section, {std::move(line)}});
}

bool TMemIniFile::SectionExists(const std::string& Section) const {
  for (const auto& section : FSections)
    if (SameText(section.Name, Section)) return true;
  return false;
}

bool TMemIniFile::ValueExists(const std::string& Section, const std::string& Key) const {
  return FindKey(Section, Key).has_value();
}

TStringList TMemIniFile::ReadSection(const std::string& Section) const {
  TStringList keys;
  for (const auto& section : FSections) {
    if (!SameText(section.Name, Section)) continue;
    for (const auto& line : section.Lines)
      if (const auto name = KeyName(line)) AddUnique(keys, *name);
  }
  return keys;
}

TStringList TMemIniFile::ReadSections() const {
  TStringList names;
  for (const auto& section : FSections) AddUnique(names, section.Name);
  return names;
}

void TMemIniFile::EraseSection(const std::string& Section) {
  std::erase_if(FSections, [&](const TSection& section) { return SameText(section.Name, Section); });
}

void TMemIniFile::DeleteKey(const std::string& Section, const std::string& Key) {
  // Every line of the key goes, so that a duplicate cannot surface in its place.
  for (auto& section : FSections) {
    if (!SameText(section.Name, Section)) continue;
    std::erase_if(section.Lines, [&](const std::string& line) {
      const auto name = KeyName(line);
      return name && SameText(*name, Key);
    });
  }
}
