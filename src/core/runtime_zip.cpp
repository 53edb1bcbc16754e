#include "core/runtime_zip.h"

#include <zip.h>

#include <algorithm>

#include "core/errors.h"
#include "core/str_utils.h"

namespace vtl {

void RuntimeZip::ZipCloser::operator()(zip_t* z) const { zip_discard(z); }

RuntimeZip::RuntimeZip() = default;
RuntimeZip::~RuntimeZip() = default;

void RuntimeZip::SetPassword(std::string_view password) {
  password_.assign(password);
  if (zip_) zip_set_default_password(zip_.get(), password_.c_str());
}

void RuntimeZip::Open(std::span<const uint8_t> archive) {
  zip_.reset();
  entries_.clear();
  index_.clear();

  // An empty buffer would open as an empty archive; it is no package.
  if (archive.empty()) throw EZipError("Cannot open the package archive: it is empty");

  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(archive.data(), archive.size(), 0, &error);
  if (!source) {
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    throw EZipError("Cannot open the package archive: " + text);
  }
  zip_t* z = zip_open_from_source(source, ZIP_RDONLY, &error);
  if (!z) {
    zip_source_free(source);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    throw EZipError("Cannot open the package archive: " + text);
  }
  zip_error_fini(&error);
  zip_.reset(z);
  archiveSize_ = archive.size();
  if (!password_.empty()) zip_set_default_password(z, password_.c_str());

  const zip_int64_t count = zip_get_num_entries(z, 0);
  entries_.reserve(static_cast<size_t>(std::max<zip_int64_t>(count, 0)));
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    zip_stat_init(&st);
    EntryInfo info;
    if (zip_stat_index(z, static_cast<zip_uint64_t>(i), 0, &st) == 0) {
      if (st.valid & ZIP_STAT_NAME) info.name = st.name;
      if (st.valid & ZIP_STAT_SIZE) info.size = st.size;
      if (st.valid & ZIP_STAT_COMP_SIZE) info.compressedSize = st.comp_size;
      if (st.valid & ZIP_STAT_COMP_METHOD) info.method = st.comp_method;
      if (st.valid & ZIP_STAT_ENCRYPTION_METHOD) {
        info.encryptionMethod = st.encryption_method;
        info.encrypted = st.encryption_method != ZIP_EM_NONE;
      }
    }
    index_.try_emplace(AsciiLower(info.name), i);
    entries_.push_back(std::move(info));
  }
}

int64_t RuntimeZip::FindEntry(std::string_view name) const {
  if (!zip_) return -1;
  const auto it = index_.find(AsciiLower(name));
  return it == index_.end() ? -1 : it->second;
}

bool RuntimeZip::ExtractEntry(int64_t index, const Sink& sink, std::string* error) const {
  auto fail = [&](std::string why) {
    if (error) *error = std::move(why);
    return false;
  };
  if (!zip_ || index < 0 || static_cast<size_t>(index) >= entries_.size()) return fail("no such entry");

  // Screened here: opening an entry whose cipher the reader lacks fails
  // inside the archive library without releasing what it set up.
  const uint16_t cipher = entries_[static_cast<size_t>(index)].encryptionMethod;
  if (cipher != ZIP_EM_NONE && !zip_encryption_method_supported(cipher, 0))
    return fail("the entry is encrypted with an unsupported method");

  zip_file_t* file = zip_fopen_index(zip_.get(), static_cast<zip_uint64_t>(index), 0);
  if (!file) return fail(zip_strerror(zip_.get()));
  struct Closer {
    zip_file_t* f;
    ~Closer() { zip_fclose(f); }
  } closer{file};

  uint8_t buffer[64 * 1024];
  uint64_t total = 0;
  for (;;) {
    const zip_int64_t got = zip_fread(file, buffer, sizeof buffer);
    if (got < 0) return fail(zip_file_strerror(file));
    if (got == 0) {
      // The checksum covers the bytes, not the declared size.
      if (total != entries_[static_cast<size_t>(index)].size) return fail("the entry's size does not match its header");
      return true;
    }
    total += static_cast<uint64_t>(got);
    if (!sink(std::span<const uint8_t>(buffer, static_cast<size_t>(got)))) return fail("extraction stopped");
  }
}

bool RuntimeZip::ExtractEntry(int64_t index, std::string& target, std::string* error) const {
  if (index >= 0 && static_cast<size_t>(index) < entries_.size()) {
    // The declared size is only a hint: a damaged header may claim anything.
    // No entry can inflate to more than about a thousand times the archive.
    constexpr uint64_t kMaxReserve = 256ull << 20;
    const uint64_t plausible = std::min({entries_[index].size, archiveSize_ * 1032, kMaxReserve});
    target.reserve(target.size() + static_cast<size_t>(plausible));
  }
  return ExtractEntry(
      index,
      [&](std::span<const uint8_t> chunk) {
        target.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
        return true;
      },
      error);
}

void RuntimeZip::Extract(std::string_view name, std::string& target) const {
  const int64_t index = FindEntry(name);
  if (index >= 0) ExtractEntry(index, target);
}

}  // namespace vtl
