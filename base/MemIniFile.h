#pragma once
// INI files: the abstract interface and the variant held wholly in memory.
// Section and key names match without regard to ASCII letter case; bytes outside
// ASCII (the parts of UTF-8 characters) must match exactly.

#include "base/Classes.h"
#include "base/Types.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The operations every INI file offers; values are text, integers are read leniently.
class TCustomIniFile : public TObject {
public:
  // Remembers FileName; loading is the subclass's business.
  explicit TCustomIniFile(std::string FileName);

  // The file name given to the constructor.
  const std::string& FileName() const { return FFileName; }

  // The value of Key in Section, or Default when either is absent.
  virtual std::string ReadString(const std::string& Section, const std::string& Key,
                                 const std::string& Default) const = 0;
  // Stores 'Key=Value' in Section; raises EIniFileException for a line break in any argument.
  virtual void WriteString(const std::string& Section, const std::string& Key, const std::string& Value) = 0;
  // The value as a 32-bit integer ("0x" counting as '$'), or Default when absent or malformed.
  virtual int ReadInteger(const std::string& Section, const std::string& Key, int Default) const;
  // Stores Value in decimal.
  virtual void WriteInteger(const std::string& Section, const std::string& Key, int Value);
  // True when a section of that name is present, even an empty one.
  virtual bool SectionExists(const std::string& Section) const = 0;
  // True when Section holds a line of Key, even with an empty value.
  virtual bool ValueExists(const std::string& Section, const std::string& Key) const = 0;
  // The key names of Section, in file order, each once.
  virtual TStringList ReadSection(const std::string& Section) const = 0;
  // The section names, in file order, each once.
  virtual TStringList ReadSections() const = 0;
  // Removes Section with all its lines.
  virtual void EraseSection(const std::string& Section) = 0;
  // Removes the line of Key from Section.
  virtual void DeleteKey(const std::string& Section, const std::string& Key) = 0;
  // Writes the content to FileName().
  virtual void UpdateFile() = 0;

private:
  std::string FFileName;
};

// An INI file held in memory: loaded once by the constructor, written only by UpdateFile.
// When a hand-edited file holds a section twice, the sections of one name act as one,
// searched in file order: a lookup finds the first line of a key, a new key joins the
// first of them, and both stay apart in the file. A key written twice is found at its
// first line.
class TMemIniFile : public TCustomIniFile {
public:
  // Loads FileName; a missing file or an empty name gives an empty INI file, and an
  // existing file that cannot be opened or read raises EFOpenError or EReadError.
  explicit TMemIniFile(const std::string& FileName);

  // The operations of TCustomIniFile, on the in-memory content.
  std::string ReadString(const std::string& Section, const std::string& Key,
                         const std::string& Default) const override;
  void WriteString(const std::string& Section, const std::string& Key, const std::string& Value) override;
  bool SectionExists(const std::string& Section) const override;
  bool ValueExists(const std::string& Section, const std::string& Key) const override;
  TStringList ReadSection(const std::string& Section) const override;
  TStringList ReadSections() const override;
  void EraseSection(const std::string& Section) override;
  void DeleteKey(const std::string& Section, const std::string& Key) override;
  // Replaces FileName() through a temporary file, so a failure leaves the old file whole;
  // a failure raises the file layer's EStreamError kind.
  void UpdateFile() override;

  // Removes every section.
  void Clear();
  // The exact text UpdateFile writes: CR LF line ends, one empty line after each section.
  std::string Text() const;
  // Replaces the content by Text parsed as a loaded file.
  void SetText(const std::string& Text);

private:
  struct TSection {
    std::string Name;
    std::vector<std::string> Lines;
  };
  struct TLinePos {
    std::size_t Section;
    std::size_t Line;
  };

  std::optional<TLinePos> FindKey(const std::string& Section, const std::string& Key) const;
  void LoadFile();

  std::vector<TSection> FSections;
};
