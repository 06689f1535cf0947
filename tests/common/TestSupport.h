#pragma once
// Helpers shared by the test programs.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <typeinfo>

// Checks that Statement throws exactly ExceptionClass (or a subclass) with Message.
#define EXPECT_THROW_MSG(Statement, ExceptionClass, ExpectedMessage)                 \
  do {                                                                               \
    bool varnexCaught = false;                                                       \
    try {                                                                            \
      Statement;                                                                     \
    } catch (const ExceptionClass& varnexError) {                                    \
      varnexCaught = true;                                                           \
      EXPECT_EQ(std::string(varnexError.what()), std::string(ExpectedMessage));     \
    } catch (const std::exception& varnexOther) {                                    \
      ADD_FAILURE() << #Statement " threw " << typeid(varnexOther).name() << ": "    \
                    << varnexOther.what() << ", expected " #ExceptionClass;          \
      varnexCaught = true;                                                           \
    }                                                                                \
    if (!varnexCaught) ADD_FAILURE() << #Statement " threw nothing, expected " #ExceptionClass; \
  } while (false)

namespace varnex_test {

// Runs Body with new files published on the route that names an unnamed file, and again on the
// fallback route that claims the name with an empty placeholder first.
template <typename TBody>
void OnEachPublishRoute(TBody Body) {
  for (const bool fallback : {false, true}) {
    SCOPED_TRACE(fallback ? "fallback route" : "unnamed-file route");
    if (fallback) ::setenv("VARNEX_PUBLISH_FALLBACK", "1", 1);
    Body();
    ::unsetenv("VARNEX_PUBLISH_FALLBACK");
  }
}

// A fresh directory under the system's temporary folder, removed at the end of the scope.
class TempDir {
public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "varnex-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory without a trailing '/'.
  const std::string& Path() const { return FPath; }
  // A path inside the directory.
  std::string operator/(const std::string& name) const { return FPath + "/" + name; }

private:
  std::string FPath;
};

// The whole content of a file, or "" when it cannot be read.
inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes bytes to a file, replacing it.
inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A full disk for the length of a scope: writes past Bytes fail with EFBIG, and
// SIGXFSZ is ignored so they fail instead of ending the test program.
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t Bytes) {
    ::getrlimit(RLIMIT_FSIZE, &FSaved);
    FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = FSaved;
    limited.rlim_cur = Bytes;
    FActive = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &FSaved);
    std::signal(SIGXFSZ, FOldHandler);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  // True when the limit was set.
  bool Active() const { return FActive; }

private:
  rlimit FSaved {};
  void (*FOldHandler)(int) = nullptr;
  bool FActive = false;
};

}  // namespace varnex_test
