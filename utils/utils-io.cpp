// The write loop over a file descriptor.
#include "utils/utils-io.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace Utils {

int Write_All(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n >= 0) {
      text.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    pollfd ready{fd, POLLOUT, 0};
    ::poll(&ready, 1, -1);
  }
  return 0;
}

}  // namespace Utils
