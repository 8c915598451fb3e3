// The fuzzer's input as a file the decoders open by path: one memory file for the whole run,
// rewritten for every input and named through /proc/self/fd, so no disk is touched.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace fuzz {

class InputFile {
 public:
  InputFile() : fd_(memfd_create("orivelR-fuzz-input", 0)) {
    if (fd_ < 0) std::abort();
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~InputFile() { close(fd_); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  const std::string& write(const uint8_t* data, size_t size) {
    if (ftruncate(fd_, 0) != 0) std::abort();
    for (size_t done = 0; done < size;) {
      const ssize_t n = pwrite(fd_, data + done, size - done, off_t(done));
      if (n <= 0) std::abort();
      done += size_t(n);
    }
    return path_;
  }

 private:
  int fd_;
  std::string path_;
};

// Stops the run as a finding when a property the code promises does not hold.
inline void require(bool holds) {
  if (!holds) std::abort();
}

}  // namespace fuzz
