#pragma once
// A file stream of the runtime library: a file created, or an existing one emptied in
// place, for exclusive, buffered writing.

#include "base/Classes.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct stat;

// How a TFileStream opens its file.
enum TFileStreamMode : std::uint8_t {
  fmCreate  // created, or emptied in place through any links, write only, exclusive while open
};

// Called with the opened handle and its status before an existing file is emptied; what it
// throws leaves the constructor with the file untouched.
using TFileStreamCheck = std::function<void(int Handle, const struct stat& Status)>;

// A file stream; failures raise EFCreateError or EWriteError.
class TFileStream : public TObject {
public:
  // Creates FileName, or empties the file it names in place: a link is followed and stays a
  // link, and a hard link is never split. A link whose target is missing is refused. Fails
  // while another stream of this user holds the file (the lock lives in the user's private
  // directory, keyed by device and inode, so other users cannot take it). Terminals, other
  // character devices and pipes are written as they are.
  TFileStream(const std::string& FileName, TFileStreamMode Mode);
  // The same, with Check called before anything is written.
  TFileStream(const std::string& FileName, TFileStreamMode Mode, const TFileStreamCheck& Check);
  // Writes to the open Handle (such as a duplicate of standard output), which it takes over;
  // Name stands for it in messages.
  TFileStream(int Handle, const std::string& Name);
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
  int CreateExclusive(const TFileStreamCheck& Check, int& Error);
  void Unlock();

  std::string FFileName;
  int FHandle = -1;
  int FLockHandle = -1;
  std::string FLockPath;
  std::uint64_t FPosition = 0;
  bool FWriteFailed = false;
  std::vector<char> FBuffer;
};
