#pragma once
// A file stream of the runtime library: a file created (replacing an existing
// file) for exclusive, buffered writing.

#include "base/Classes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// How a TFileStream opens its file.
enum TFileStreamMode : std::uint8_t {
  fmCreate  // created or replaced (a symlink there too, never its target), write only, exclusive while open
};

// A file stream; failures raise EFCreateError or EWriteError.
class TFileStream : public TObject {
public:
  // Creates FileName; fails while another stream holds the file. A symlink at FileName is
  // replaced by a new file, unless it leads to a character device, which is written as it is.
  TFileStream(const std::string& FileName, TFileStreamMode Mode);
  // Writes what is still buffered (a failure is dropped) and closes the file.
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  // Appends Count bytes; they reach the file when the buffer fills, on Flush or on close.
  void WriteBuffer(const void* Buffer, std::size_t Count);
  // Appends the bytes of Text.
  void WriteString(const std::string& Text);
  // Writes the buffered bytes to the file; EWriteError when that fails (they are then dropped).
  void Flush();

  // True once any write to the file has failed; it stays true.
  bool WriteFailed() const;
  // The path the stream was opened with.
  const std::string& FileName() const;
  // The bytes written so far.
  std::uint64_t Position() const;

private:
  std::string FFileName;
  int FHandle = -1;
  std::uint64_t FPosition = 0;
  bool FWriteFailed = false;
  std::vector<char> FBuffer;
};
