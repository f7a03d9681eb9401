// Waiting for a child process of a test, never without a bound.
#pragma once

#include <sys/types.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

namespace travosk::support {

// The child's exit code (128 + the signal when a signal ended it), or -1
// when it has not ended within `limit`. A reaped child's pid becomes -1.
inline int WaitForExit(pid_t& pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (pid > 0 && std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

}  // namespace travosk::support
