#include "core/exe_utils.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include "core/errors.h"
#include "core/pe_image.h"

namespace vtl {
namespace {

std::string SystemMessage(int err) {
  return std::generic_category().message(err ? err : EIO);
}

std::string PathText(const std::filesystem::path& p) {
  const auto u8 = p.u8string();
  return std::string(u8.begin(), u8.end());
}

std::ifstream OpenForReading(const std::filesystem::path& p) {
  errno = 0;
  std::ifstream in(p, std::ios::binary);
  if (!in) throw EFOpenError("Cannot open file \"" + PathText(p) + "\". " + SystemMessage(errno));
  return in;
}

std::ofstream Create(const std::filesystem::path& p, std::ios::openmode extra = {}) {
  errno = 0;
  std::ofstream out(p, std::ios::binary | extra);
  if (!out) throw EFCreateError("Cannot create file \"" + PathText(p) + "\". " + SystemMessage(errno));
  return out;
}

}  // namespace

TExeUtils::TExeUtils(std::filesystem::path exePath) : exePath_(std::move(exePath)) {}

TExeUtils::TExeUtils(std::filesystem::path exePath, std::span<const uint8_t> mappedHeaders)
    : exePath_(std::move(exePath)), mappedHeaders_(mappedHeaders) {}

int64_t TExeUtils::GetFileSizeOf(const std::filesystem::path& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return -1;
  return static_cast<int64_t>(size);
}

int64_t TExeUtils::GetExeSize() { return GetFileSizeOf(exePath_); }

uint64_t TExeUtils::GetAttachedStubOffset() {
  if (offset_) return *offset_;
  ImageEnd end;
  if (mappedHeaders_) {
    end = ReadImageEnd(*mappedHeaders_);
  } else {
    // Headers almost always fit in the first pages; read the whole window
    // only when they do not.
    const int64_t exeSize = GetExeSize();
    const uint64_t fileSize = exeSize < 0 ? 0 : static_cast<uint64_t>(exeSize);
    auto in = OpenForReading(exePath_);
    std::vector<uint8_t> window;
    for (uint64_t want : {uint64_t{4096}, kImageHeaderWindow}) {
      window.resize(static_cast<size_t>(std::min(fileSize, want)));
      in.clear();
      in.seekg(0);
      in.read(reinterpret_cast<char*>(window.data()), static_cast<std::streamsize>(window.size()));
      window.resize(static_cast<size_t>(in.gcount()));
      end = ReadImageEnd(window, fileSize);
      if (end.ok || window.size() >= fileSize) break;
    }
  }
  if (!end.ok) throw EInvalidImage(PathText(exePath_) + ": " + end.error);
  offset_ = end.offset;
  image_ = end;
  return end.offset;
}

uint64_t TExeUtils::GetArchiveEnd(uint64_t fileSize) {
  GetAttachedStubOffset();
  return ArchiveEnd(image_, fileSize);
}

bool TExeUtils::ExeHasAttachedStub() {
  const int64_t size = GetExeSize();
  if (size < 0) return false;
  return GetArchiveEnd(static_cast<uint64_t>(size)) > GetAttachedStubOffset();
}

int64_t TExeUtils::ArchiveLength() {
  const int64_t size = GetExeSize();
  const uint64_t offset = GetAttachedStubOffset();
  const uint64_t end = size < 0 ? 0 : GetArchiveEnd(static_cast<uint64_t>(size));
  if (end <= offset) throw ENoAttachedArchive("This is not a valid Windows application");
  return static_cast<int64_t>(end - offset);
}

std::shared_ptr<const ByteSource> TExeUtils::AttachedArchive(std::shared_ptr<const ByteSource> file) {
  const uint64_t offset = GetAttachedStubOffset();
  const uint64_t end = GetArchiveEnd(file->Size());
  if (end <= offset) throw ENoAttachedArchive("This is not a valid Windows application");
  return std::make_shared<SourceWindow>(std::move(file), offset, end - offset);
}

// Reads the archive from the executable in chunks and hands each to `write`,
// reporting progress. A read that returns nothing ends the copy early (the
// file shrank); the caller sees the shorter total.
template <class Write>
void TExeUtils::CopyArchive(int64_t length, Write&& write) {
  auto in = OpenForReading(exePath_);
  in.seekg(static_cast<std::streamoff>(GetAttachedStubOffset()));
  if (OnProgressMax) OnProgressMax(length);
  int64_t total = 0;
  while (total < length) {
    const auto want = static_cast<size_t>(std::min<int64_t>(kChunkSize, length - total));
    const size_t got = write(in, want);
    if (got == 0) break;
    total += static_cast<int64_t>(got);
    if (OnProgressPos) OnProgressPos(total);
  }
  if (in.bad()) throw EInOutError("Read error in \"" + PathText(exePath_) + "\"");
}

void TExeUtils::GetZipFromExe(MemoryStream& memoryStream) {
  const int64_t length = ArchiveLength();
  // One allocation of the final size; the chunks are read straight into it.
  memoryStream.Allocate(static_cast<size_t>(length));
  size_t at = 0;
  CopyArchive(length, [&](std::ifstream& in, size_t want) {
    in.read(reinterpret_cast<char*>(memoryStream.data() + at), static_cast<std::streamsize>(want));
    const auto got = static_cast<size_t>(in.gcount());
    at += got;
    return got;
  });
  memoryStream.Truncate(at);
}

void TExeUtils::ExtractZipFromExe(const std::filesystem::path& zipPath) {
  const int64_t length = ArchiveLength();
  auto out = Create(zipPath);
  std::vector<char> buffer(kChunkSize);
  CopyArchive(length, [&](std::ifstream& in, size_t want) {
    in.read(buffer.data(), static_cast<std::streamsize>(want));
    const auto got = static_cast<size_t>(in.gcount());
    out.write(buffer.data(), static_cast<std::streamsize>(got));
    if (!out) throw EInOutError("Write error in \"" + PathText(zipPath) + "\"");
    return got;
  });
  out.close();
  if (!out) throw EInOutError("Write error in \"" + PathText(zipPath) + "\"");
}

void TExeUtils::AppendZipToExe(const std::filesystem::path& zipPath, const std::filesystem::path& exePath) {
  auto in = OpenForReading(zipPath);
  if (GetFileSizeOf(exePath) < 0)
    throw EFOpenError("Cannot open file \"" + PathText(exePath) + "\". " + SystemMessage(ENOENT));
  errno = 0;
  std::fstream out(exePath, std::ios::binary | std::ios::in | std::ios::out);
  if (!out) throw EFOpenError("Cannot open file \"" + PathText(exePath) + "\". " + SystemMessage(errno));
  out.seekp(0, std::ios::end);

  const int64_t total = GetFileSizeOf(zipPath);
  if (OnProgressMax) OnProgressMax(total);
  std::vector<char> buffer(kChunkSize);
  int64_t copied = 0;
  while (copied < total) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = in.gcount();
    if (got <= 0) break;
    out.write(buffer.data(), got);
    if (!out) throw EInOutError("Write error in \"" + PathText(exePath) + "\"");
    copied += got;
    if (OnProgressPos) OnProgressPos(copied);
  }
  out.close();
  if (!out) throw EInOutError("Write error in \"" + PathText(exePath) + "\"");
}

}  // namespace vtl
