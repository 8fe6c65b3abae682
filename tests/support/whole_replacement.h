#pragma once
// The promise of every store file (profiles, the registry store): a write
// replaces the file whole or not at all. Whoever still holds the old file
// keeps reading the old content, and a write cut off part-way, as by a full
// disk, leaves the file exactly as it was and nothing beside it. POSIX only.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "scoped_temp_dir.h"

namespace loopmon::testing {

// `write` makes the existing file at `path` longer and reports success.
inline void expectWholeReplacement(const std::string& path, const std::function<bool()>& write) {
  const std::string before = readFile(path);
  ASSERT_FALSE(before.empty());
  const auto folder = std::filesystem::path(path).parent_path();
  const auto entries = [&] {
    return std::distance(std::filesystem::directory_iterator(folder),
                         std::filesystem::directory_iterator());
  };
  const auto entriesBefore = entries();

  // In a child: no file may grow past half the old size, and hitting the
  // limit fails the write call instead of killing the process.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlim_t half = before.size() / 2;
    const rlimit limit{half, half};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::_exit(write() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "a write cut off part-way reported success";
  EXPECT_EQ(readFile(path), before) << "a write cut off part-way changed the file";
  EXPECT_EQ(entries(), entriesBefore) << "a write cut off part-way left a file behind";

  const int held = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_TRUE(write());
  std::string seen(before.size() * 2, '\0');
  const ssize_t n = ::pread(held, seen.data(), seen.size(), 0);
  ::close(held);
  seen.resize(n > 0 ? static_cast<size_t>(n) : 0);
  EXPECT_EQ(seen, before) << "the old file was written in place";
  EXPECT_NE(readFile(path), before);
}

}  // namespace loopmon::testing
