#pragma once
// What a save killed half-way leaves behind, made for real by a child process.

#include "base/FileIO.h"

#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace varnex_test {

// Starts publishing Path on the fallback route in a child process that dies before the commit,
// leaving its empty placeholder under Path and its temporary file beside it.
inline void LeaveKilledSave(const std::string& Path) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::setenv("VARNEX_PUBLISH_FALLBACK", "1", 1);
    TNewFile file(Path, false, false);
    file.Write("half", 4);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
}

}  // namespace varnex_test
