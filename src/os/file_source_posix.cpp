#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/errors.h"
#include "os/file_source.h"

namespace vtl {
namespace {

class PosixFileSource final : public ByteSource {
 public:
  PosixFileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  ~PosixFileSource() override { ::close(fd_); }
  PosixFileSource(const PosixFileSource&) = delete;
  PosixFileSource& operator=(const PosixFileSource&) = delete;

  uint64_t Size() const override { return size_; }

  bool ReadAt(uint64_t offset, std::span<uint8_t> bytes, std::string* error) const override {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::pread(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (error)
          *error = n < 0 ? std::string("read error: ") + std::strerror(errno)
                         : "the file ended early: " + PastEndText(offset, bytes.size(), offset + done);
        return false;
      }
      done += static_cast<size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
  uint64_t size_;
};

}  // namespace

std::shared_ptr<const ByteSource> OpenFileSource(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = fd < 0 ? errno : (S_ISREG(st.st_mode) ? errno : EISDIR);
    if (fd >= 0) ::close(fd);
    throw EFOpenError("Cannot open file \"" + path.string() + "\". " + std::strerror(err));
  }
  return std::make_shared<PosixFileSource>(fd, static_cast<uint64_t>(st.st_size));
}

}  // namespace vtl
