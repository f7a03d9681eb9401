// A pseudo-terminal has no modem-control lines: asking for them fails, where a
// USB-serial bridge has DTR and RTS. libserialport asks for them when it opens
// a port and sets them for the readers, so this program gives every
// pseudo-terminal the lines a bridge has. Defined in the program, it comes
// before the C library's ioctl for the libraries the program loads.
#include <dlfcn.h>
#include <errno.h>
#include <sys/ioctl.h>

#include <cstdarg>
#include <map>
#include <mutex>

namespace {
std::mutex lines_mutex;
std::map<int, int> lines;  // by file descriptor
}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);
  using Ioctl = int (*)(int, unsigned long, ...);
  static const Ioctl next = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
  const int result = next(fd, request, argument);
  const bool modem =
      request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
  if (result == 0 || errno != ENOTTY || !modem) return result;
  std::lock_guard lock(lines_mutex);
  int& bits = lines[fd];
  int* value = static_cast<int*>(argument);
  if (request == TIOCMGET)
    *value = bits;
  else if (request == TIOCMSET)
    bits = *value;
  else if (request == TIOCMBIS)
    bits |= *value;
  else
    bits &= ~*value;
  return 0;
}
