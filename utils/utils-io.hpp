// Writing to a file descriptor: the one loop behind the log, the notice files and the console's
// standard output.
#pragma once

#include <string_view>

namespace Utils {

// Writes all of `text` to `fd`. An interrupted write is made again; a descriptor in non-blocking
// mode that takes nothing more now is waited on. Returns 0, or the errno of the write that
// failed (what it wrote before stays written).
int Write_All(int fd, std::string_view text);

}  // namespace Utils
