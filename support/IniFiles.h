#pragma once
// The typed INI file: rectangles, points, quoted strings, 64-bit and 32-bit integers
// and doubles over the in-memory INI file.

#include "base/MemIniFile.h"
#include "base/Types.h"

#include <cstdint>
#include <string>

// An in-memory INI file with typed readers and writers. Each reader returns its default
// unchanged when the key is absent and raises EIniFileException with its own message
// when the stored text is not of its type; only ReadInt falls back to the default.
class TVarIniFile : public TMemIniFile {
public:
  // Loads FileName as TMemIniFile does.
  explicit TVarIniFile(const std::string& FileName);

  // A rectangle stored as a comma list of left, top, right and bottom.
  virtual TRect ReadRect(const std::string& Section, const std::string& Key, const TRect& Default) const;
  // Stores Value as 'left,top,right,bottom'.
  virtual void WriteRect(const std::string& Section, const std::string& Key, const TRect& Value);
  // A point stored as a comma list of x and y.
  virtual TPoint ReadPoint(const std::string& Section, const std::string& Key, const TPoint& Default) const;
  // Stores Value as 'x,y'.
  virtual void WritePoint(const std::string& Section, const std::string& Key, const TPoint& Value);
  // The text between the two Quote characters that enclose the stored value.
  virtual std::string ReadQuotedString(const std::string& Section, const std::string& Key, char Quote,
                                       const std::string& Default) const;
  // Stores Quote, Value and Quote, nothing escaped; the quotes keep leading and trailing blanks.
  virtual void WriteQuotedString(const std::string& Section, const std::string& Key, char Quote,
                                 const std::string& Value);
  // A signed 64-bit integer in decimal or '$'/'0x' hexadecimal.
  virtual std::int64_t ReadInt64(const std::string& Section, const std::string& Key, std::int64_t Default) const;
  // Stores Value in decimal.
  virtual void WriteInt64(const std::string& Section, const std::string& Key, std::int64_t Value);
  // An unsigned 64-bit integer: any text ReadInt64 accepts, as its bit pattern, or a decimal
  // text up to 18446744073709551615.
  virtual std::uint64_t ReadUInt64(const std::string& Section, const std::string& Key, std::uint64_t Default) const;
  // Stores Value in decimal.
  virtual void WriteUInt64(const std::string& Section, const std::string& Key, std::uint64_t Value);
  // The same as ReadInteger: never raises a conversion error.
  virtual int ReadInt(const std::string& Section, const std::string& Key, int Default) const;
  // The same as WriteInteger.
  virtual void WriteInt(const std::string& Section, const std::string& Key, int Value);
  // A double with the locale's decimal separator.
  virtual double ReadDouble(const std::string& Section, const std::string& Key, double Default) const;
  // Stores Value with 15 significant digits, 'INF', '-INF' or 'NAN'.
  virtual void WriteDouble(const std::string& Section, const std::string& Key, double Value);
};
