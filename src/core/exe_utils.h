#pragma once

#include <cstdint>
#include <filesystem>
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "core/byte_source.h"
#include "core/pe_image.h"

namespace vtl {

// Bytes held in memory for the life of the process, such as the archive
// copied out of the executable. The storage is not cleared on allocation:
// the copy writes every byte once, straight from the file.
class MemoryStream {
 public:
  void Allocate(size_t size) {
    data_.reset(size ? new uint8_t[size] : nullptr);
    size_ = size;
  }
  void Truncate(size_t size) { size_ = std::min(size, size_); }
  void Clear() { Allocate(0); }

  uint8_t* data() { return data_.get(); }
  const uint8_t* data() const { return data_.get(); }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const uint8_t* begin() const { return data_.get(); }
  const uint8_t* end() const { return data_.get() + size_; }
  operator std::span<const uint8_t>() const { return {data_.get(), size_}; }

 private:
  std::unique_ptr<uint8_t[]> data_;
  size_t size_ = 0;
};

// A packaged application is one file: the executable image, then a ZIP archive
// appended unchanged. The archive starts where the image's last section ends
// (see ReadImageEnd); nothing else marks it.
//
// TExeUtils finds, copies and appends that archive. It works either on the
// running module, whose headers are mapped in memory and trusted, or on an
// executable on disk, whose headers are read from the file and checked.
class TExeUtils {
 public:
  // Progress of a copy: told the byte count once, then the running total after
  // every chunk. Either may be left empty.
  using TOnProgressMax = std::function<void(int64_t max)>;
  using TOnProgressPos = std::function<void(int64_t pos)>;
  TOnProgressMax OnProgressMax;
  TOnProgressPos OnProgressPos;

  // Bytes moved per read while copying an archive. Large reads keep the copy
  // of a big package close to the speed of the disk; progress is still told
  // after every chunk.
  static constexpr size_t kChunkSize = 1 << 20;

  // An executable on disk.
  explicit TExeUtils(std::filesystem::path exePath);
  // The running module: its file and its headers as mapped in memory.
  TExeUtils(std::filesystem::path exePath, std::span<const uint8_t> mappedHeaders);

  const std::filesystem::path& ExePath() const { return exePath_; }

  // True when archive bytes follow the image: archive end − offset > 0. False too when the
  // executable's size cannot be read. Raises EInvalidImage for headers that
  // cannot be read.
  bool ExeHasAttachedStub();

  // The attached archive read in place: the part of `file` (the executable's
  // bytes, as opened by the caller) from the image end to the file's end.
  // Raises ENoAttachedArchive when nothing follows the image.
  std::shared_ptr<const ByteSource> AttachedArchive(std::shared_ptr<const ByteSource> file);

  // Copies the attached archive into `memoryStream` (replacing its contents).
  // Raises ENoAttachedArchive when there is none, EFOpenError when the
  // executable cannot be opened, EInOutError when a read fails.
  void GetZipFromExe(MemoryStream& memoryStream);

  // The same copy into a new file at `zipPath` (replacing any file there).
  // Raises EFCreateError when the file cannot be created.
  void ExtractZipFromExe(const std::filesystem::path& zipPath);

  // Appends the file `zipPath` to the existing executable `exePath`. Nothing
  // besides the archive's own bytes is written. The executable must carry no
  // archive yet; that is the caller's check (a second archive would leave the
  // first one's offsets wrong).
  void AppendZipToExe(const std::filesystem::path& zipPath, const std::filesystem::path& exePath);

  // The size of the executable's file, or −1.
  int64_t GetExeSize();
  // The size of any file, or −1 when it cannot be found. The file is not opened.
  static int64_t GetFileSizeOf(const std::filesystem::path& path);
  // Where the image ends and the archive begins. Raises EInvalidImage.
  uint64_t GetAttachedStubOffset();
  // Where the archive ends in a file of `fileSize` bytes: the start of the
  // certificate table of a package signed after packing, else the file end.
  uint64_t GetArchiveEnd(uint64_t fileSize);

 private:
  // Opens the executable at the archive's start; returns the archive length.
  int64_t ArchiveLength();
  template <class Write>
  void CopyArchive(int64_t length, Write&& write);

  std::filesystem::path exePath_;
  std::optional<std::span<const uint8_t>> mappedHeaders_;
  std::optional<uint64_t> offset_;
  ImageEnd image_;  // the headers read by GetAttachedStubOffset
};

}  // namespace vtl
