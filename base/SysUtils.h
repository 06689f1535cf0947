#pragma once
// Path, file and directory routines of the runtime library, with the host's rules:
// '/' is the only path delimiter and ':' is an ordinary character.

#include <cstddef>
#include <string>

// The path delimiter of the host.
inline constexpr char PathDelim = '/';

// The part of Path after its last delimiter: name and extension.
std::string ExtractFileName(const std::string& Path);
// The part of Path up to and including its last delimiter.
std::string ExtractFilePath(const std::string& Path);
// The directory of Path without its trailing delimiter, the root keeping its '/'.
std::string ExtractFileDir(const std::string& Path);
// Path with a '/' appended unless it already ends with one.
std::string IncludeTrailingPathDelimiter(const std::string& Path);
// Path without a trailing '/' (the root "/" stays as it is).
std::string ExcludeTrailingPathDelimiter(const std::string& Path);

// True when a file (not a directory) exists at Path.
bool FileExists(const std::string& Path);
// True when a directory exists at Path.
bool DirectoryExists(const std::string& Path);
// Creates Dir and every missing parent; false when that fails. Raises EInOutError for an empty Dir.
bool ForceDirectories(const std::string& Dir);
// The same with the permission bits Mode (less the umask) for each directory it creates.
bool ForceDirectories(const std::string& Dir, unsigned Mode);
// Removes the file at Path; false when that fails.
bool DeleteFile(const std::string& Path);
// Copies Source to Target; replaces Target unless FailIfExists. False when that fails.
bool CopyFile(const std::string& Source, const std::string& Target, bool FailIfExists);

// The process's current directory (no trailing delimiter), or "" when unknown.
std::string GetCurrentDir();
// Makes Dir the current directory; false when that fails.
bool SetCurrentDir(const std::string& Dir);

// The full path of the running executable.
std::string ProgramFileName();
// The directory of the running executable with its trailing '/'.
std::string ProgramDir();

// Whole seconds of local time formatted as "yyyy-mm-dd hh:nn:ss".
std::string FormatLogTimeStamp();

// Writes all Size bytes to the open file Handle, retrying short writes; false on failure.
bool FileWriteAll(int Handle, const void* Data, std::size_t Size);

// Writes Data to a temporary file in Path's directory and moves it to Path.
// With Replace false an existing Path is never replaced (EFileExists); with Sync
// the data reaches the disk before the move. A replaced file's permission bits (and
// owner, where allowed) carry over. Raises EFCreateError or EWriteError on failure and
// leaves no temporary file behind.
void WriteFileSafely(const std::string& Path, const void* Data, std::size_t Size, bool Replace, bool Sync);
