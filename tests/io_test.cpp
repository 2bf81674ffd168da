// The write loop shared by the log, the notice files and the console: everything arrives, in
// order, through a non-blocking pipe that fills up; a write that fails reports its errno.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <thread>

#include "utils/utils-io.hpp"

namespace {

TEST(WriteAll, AFullNonBlockingPipeIsWaitedOnAndGetsEverythingInOrder) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_EQ(fcntl(ends[1], F_SETFL, fcntl(ends[1], F_GETFL) | O_NONBLOCK), 0);
  std::string text;
  for (int i = 0; text.size() < (1u << 20); ++i) text += std::to_string(i) + ',';
  std::string received;
  std::thread reader([&received, fd = ends[0]] {
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
      received.append(buffer, static_cast<std::size_t>(n));
      std::this_thread::yield();
    }
  });
  EXPECT_EQ(Utils::Write_All(ends[1], text), 0);
  close(ends[1]);
  reader.join();
  close(ends[0]);
  EXPECT_EQ(received.size(), text.size());
  EXPECT_TRUE(received == text);
}

TEST(WriteAll, APipeWithoutReaderReportsBrokenPipe) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);
  EXPECT_EQ(Utils::Write_All(ends[1], "lost"), EPIPE);
  sigaction(SIGPIPE, &previous, nullptr);
  close(ends[1]);
  EXPECT_EQ(Utils::Write_All(ends[1], "closed"), EBADF);
  EXPECT_EQ(Utils::Write_All(ends[1], ""), 0);  // nothing to write, nothing tried
}

}  // namespace
