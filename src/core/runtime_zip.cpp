#include "core/runtime_zip.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <optional>

#include "core/errors.h"
#include "core/str_utils.h"

namespace vtl {
namespace {

constexpr const char* kSizeMismatch = "the entry's size does not match its header";
constexpr const char* kStopped = "extraction stopped";

// ---- The central directory, for what the archive library does not report --

uint16_t Le16(std::span<const uint8_t> b, uint64_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
uint32_t Le32(std::span<const uint8_t> b, uint64_t at) {
  return static_cast<uint32_t>(Le16(b, at)) | static_cast<uint32_t>(Le16(b, at + 2)) << 16;
}
uint64_t Le64(std::span<const uint8_t> b, uint64_t at) {
  return static_cast<uint64_t>(Le32(b, at)) | static_cast<uint64_t>(Le32(b, at + 4)) << 32;
}

struct CentralRecord {
  uint32_t crc;
  uint16_t dosTime;
  std::string_view name;  // as stored
};

// The records of the central directory the end record points to, or none
// when they cannot all be read within the bytes.
std::vector<CentralRecord> ReadCentralDirectory(std::span<const uint8_t> a) {
  constexpr uint64_t kEndSize = 22, kEnd64Size = 56, kLocatorSize = 20, kRecordSize = 46;
  const uint64_t size = a.size();
  if (size < kEndSize) return {};
  // The end record closes the archive, followed only by a comment of at most 64 KiB.
  uint64_t end = size - kEndSize;
  const uint64_t lowest = end > 0xFFFF ? end - 0xFFFF : 0;
  while (Le32(a, end) != 0x06054b50u) {
    if (end == lowest) return {};
    --end;
  }
  uint64_t count = Le16(a, end + 10);
  uint64_t at = Le32(a, end + 16);
  if (end >= kLocatorSize && Le32(a, end - kLocatorSize) == 0x07064b50u) {
    const uint64_t end64 = Le64(a, end - kLocatorSize + 8);
    if (size < kEnd64Size || end64 > size - kEnd64Size || Le32(a, end64) != 0x06064b50u) return {};
    count = Le64(a, end64 + 32);
    at = Le64(a, end64 + 48);
  }
  if (count > size / kRecordSize) return {};

  std::vector<CentralRecord> records;
  records.reserve(static_cast<size_t>(count));
  for (uint64_t i = 0; i < count; ++i) {
    if (at > size || size - at < kRecordSize || Le32(a, at) != 0x02014b50u) return {};
    const uint64_t nameSize = Le16(a, at + 28);
    if (size - at - kRecordSize < nameSize) return {};
    records.push_back({Le32(a, at + 16), Le16(a, at + 12),
                       std::string_view(reinterpret_cast<const char*>(a.data() + at + kRecordSize), nameSize)});
    at += kRecordSize + nameSize + Le16(a, at + 30) + Le16(a, at + 32);
  }
  return records;
}

// ---- Decoding stored and deflated entries without the archive library -----

// Where decoded bytes go: a room is filled, then put, before the next is asked for.
class Output {
 public:
  virtual ~Output() = default;
  // Room for at most `most` (at least 1) more bytes.
  virtual std::span<uint8_t> Room(uint64_t most) = 0;
  // The first `n` (at least 1) bytes of the last room hold output.
  virtual bool Put(size_t n) = 0;
};

// Decodes into the string itself, growing it a step at a time just ahead of
// the output so that the bytes are still in cache for the CRC.
class StringOutput final : public Output {
 public:
  explicit StringOutput(std::string& target) : target_(target), end_(target.size()) {}
  ~StringOutput() override { target_.resize(end_); }  // drops what a room did not fill
  std::span<uint8_t> Room(uint64_t most) override {
    constexpr uint64_t kStep = 256 * 1024;
    const auto n = static_cast<size_t>(std::min(most, kStep));
    target_.resize(end_ + n);
    return {reinterpret_cast<uint8_t*>(target_.data()) + end_, n};
  }
  bool Put(size_t n) override {
    end_ += n;
    return true;
  }

 private:
  std::string& target_;
  size_t end_;
};

class SinkOutput final : public Output {
 public:
  explicit SinkOutput(const RuntimeZip::Sink& sink) : sink_(sink) {}
  std::span<uint8_t> Room(uint64_t most) override {
    return {buffer_.get(), static_cast<size_t>(std::min<uint64_t>(most, kChunk))};
  }
  bool Put(size_t n) override { return sink_(std::span<const uint8_t>(buffer_.get(), n)); }

 private:
  static constexpr size_t kChunk = 64 * 1024;
  const RuntimeZip::Sink& sink_;
  std::unique_ptr<uint8_t[]> buffer_ = std::make_unique_for_overwrite<uint8_t[]>(kChunk);
};

// Reads raw entry data until `bytes` is full or the data ends. Returns the
// count read, or −1 on a read error.
int64_t ReadRaw(zip_file_t* file, std::span<uint8_t> bytes) {
  size_t got = 0;
  while (got < bytes.size()) {
    const zip_int64_t n = zip_fread(file, bytes.data() + got, bytes.size() - got);
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(got);
}

// Reads the entry's raw data through the library; decrypts it (when the entry
// is encrypted), inflates it and checks it here.
bool DecodeEntry(zip_t* z, uint64_t index, const RuntimeZip::EntryInfo& entry, uint32_t expectedCrc,
                 uint16_t dosTime, const ZipCrypto& passwordKeys, Output& out, std::string* error) {
  auto fail = [&](std::string why) {
    if (error) *error = std::move(why);
    return false;
  };
  zip_file_t* file = zip_fopen_index(z, index, ZIP_FL_COMPRESSED | ZIP_FL_ENCRYPTED);
  if (!file) return fail(zip_strerror(z));
  struct Closer {
    zip_file_t* f;
    ~Closer() { zip_fclose(f); }
  } closer{file};

  uint64_t rawSize = entry.compressedSize;
  std::optional<ZipCrypto> keys;
  if (entry.encrypted) {
    keys = passwordKeys;
    std::array<uint8_t, ZipCrypto::kHeaderSize> header;
    if (rawSize < header.size() || ReadRaw(file, header) != static_cast<int64_t>(header.size()))
      return fail("the entry's data is too short for its encryption header");
    rawSize -= header.size();
    keys->Decrypt(header);
    // Writers that put the CRC after the data check against the time instead;
    // which one was used is not recorded, so either passes. The CRC at the
    // end catches a wrong password that slips through.
    const uint8_t check = header.back();
    if (check != expectedCrc >> 24 && check != dosTime >> 8) return fail("wrong password or damaged data");
  }
  auto decrypt = [&](std::span<uint8_t> bytes) {
    if (keys) keys->Decrypt(bytes);
  };
  uLong crc = crc32(0, Z_NULL, 0);
  uint64_t done = 0;

  if (entry.method == ZIP_CM_STORE) {
    if (rawSize != entry.size) return fail(kSizeMismatch);
    while (done < entry.size) {
      const std::span<uint8_t> room = out.Room(entry.size - done);
      const int64_t got = ReadRaw(file, room);
      if (got < 0) return fail(zip_file_strerror(file));
      if (got == 0) return fail("the entry's data is cut short");
      const std::span<uint8_t> bytes = room.first(static_cast<size_t>(got));
      decrypt(bytes);
      crc = crc32(crc, bytes.data(), static_cast<uInt>(bytes.size()));
      if (!out.Put(bytes.size())) return fail(kStopped);
      done += bytes.size();
    }
    // No read past the end: for data it does not inflate, the library checks
    // the CRC of what it hands out, here the encrypted bytes, and fails there.
  } else {
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return fail("cannot set up inflating");
    struct Ender {
      z_stream* s;
      ~Ender() { inflateEnd(s); }
    } ender{&zs};
    constexpr size_t kInputChunk = 64 * 1024;
    const auto input = std::make_unique_for_overwrite<uint8_t[]>(kInputChunk);
    uint8_t spill;  // where output beyond the declared size would go
    uint8_t probe;  // reading past the end must find nothing
    int status = Z_OK;
    std::string problem;
    while (status != Z_STREAM_END && problem.empty()) {
      const uint64_t left = entry.size - done;
      const std::span<uint8_t> room = left ? out.Room(left) : std::span<uint8_t>(&spill, 1);
      zs.next_out = room.data();
      zs.avail_out = static_cast<uInt>(room.size());
      while (zs.avail_out > 0) {
        if (zs.avail_in == 0) {
          const int64_t got = ReadRaw(file, {input.get(), kInputChunk});
          if (got <= 0) {
            problem = got < 0 ? zip_file_strerror(file) : "the entry's compressed data is cut short";
            break;
          }
          decrypt({input.get(), static_cast<size_t>(got)});
          zs.next_in = input.get();
          zs.avail_in = static_cast<uInt>(got);
        }
        Bytef* const before = zs.next_out;
        status = inflate(&zs, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) {
          problem = std::string("damaged data: ") + (zs.msg ? zs.msg : "cannot inflate");
          break;
        }
        if (left) crc = crc32(crc, before, static_cast<uInt>(zs.next_out - before));
        if (status == Z_STREAM_END) break;
      }
      const size_t filled = room.size() - zs.avail_out;
      if (filled == 0) continue;
      if (!left) return fail("the entry holds more than its declared size");
      if (!out.Put(filled)) return fail(kStopped);
      done += filled;
    }
    if (!problem.empty()) return fail(std::move(problem));
    const int64_t more = zs.avail_in != 0 ? 1 : ReadRaw(file, {&probe, 1});
    if (more < 0) return fail(zip_file_strerror(file));
    if (more > 0) return fail("the entry's compressed data goes on past its end");
    if (done != entry.size) return fail(kSizeMismatch);
  }
  if (crc != expectedCrc) return fail("checksum mismatch: wrong password or damaged data");
  return true;
}

}  // namespace

void RuntimeZip::ZipCloser::operator()(zip_t* z) const { zip_discard(z); }

RuntimeZip::RuntimeZip() = default;
RuntimeZip::~RuntimeZip() = default;

void RuntimeZip::SetPassword(std::string_view password) {
  password_.assign(password);
  // The library takes the password as a C string; so do the keys.
  passwordKeys_ = ZipCrypto(std::string_view(password_.c_str()));
  if (zip_) zip_set_default_password(zip_.get(), password_.c_str());
}

void RuntimeZip::Open(std::span<const uint8_t> archive) {
  zip_.reset();
  entries_.clear();
  checks_.clear();
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
  // The library reports each entry's modification time converted to local
  // time; the check byte needs the stored DOS time, so it is read here. The
  // records are used only where they agree with the library's entries.
  const std::vector<CentralRecord> central = ReadCentralDirectory(archive);
  const bool centralAgrees = static_cast<zip_int64_t>(central.size()) == count;
  entries_.reserve(static_cast<size_t>(std::max<zip_int64_t>(count, 0)));
  checks_.reserve(entries_.capacity());
  for (zip_int64_t i = 0; i < count; ++i) {
    const auto at = static_cast<zip_uint64_t>(i);
    zip_stat_t st;
    zip_stat_init(&st);
    EntryInfo info;
    Checks checks;
    if (zip_stat_index(z, at, 0, &st) == 0) {
      if (st.valid & ZIP_STAT_NAME) info.name = st.name;
      if (st.valid & ZIP_STAT_SIZE) info.size = st.size;
      if (st.valid & ZIP_STAT_COMP_SIZE) info.compressedSize = st.comp_size;
      if (st.valid & ZIP_STAT_COMP_METHOD) info.method = st.comp_method;
      if (st.valid & ZIP_STAT_ENCRYPTION_METHOD) {
        info.encryptionMethod = st.encryption_method;
        info.encrypted = st.encryption_method != ZIP_EM_NONE;
      }
      constexpr zip_uint64_t kNeeded =
          ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_ENCRYPTION_METHOD | ZIP_STAT_CRC;
      checks.complete = (st.valid & kNeeded) == kNeeded;
      checks.crc = st.crc;
      if (centralAgrees) {
        const CentralRecord& record = central[static_cast<size_t>(i)];
        const char* rawName = zip_get_name(z, at, ZIP_FL_ENC_RAW);
        if (rawName && record.name == rawName && record.crc == st.crc) {
          checks.dosTime = record.dosTime;
          checks.dosTimeKnown = true;
        }
      }
    }
    index_.try_emplace(AsciiLower(info.name), i);
    entries_.push_back(std::move(info));
    checks_.push_back(checks);
  }
}

int64_t RuntimeZip::FindEntry(std::string_view name) const {
  if (!zip_) return -1;
  const auto it = index_.find(AsciiLower(name));
  return it == index_.end() ? -1 : it->second;
}

// Stored and deflated entries, plain or under the traditional cipher, are
// decoded here: the library's decoder for that cipher costs a function call
// per byte. Everything else goes through the library.
bool RuntimeZip::DecodesItself(size_t index) const {
  const EntryInfo& e = entries_[index];
  const Checks& c = checks_[index];
  if (!c.complete || (e.method != ZIP_CM_STORE && e.method != ZIP_CM_DEFLATE)) return false;
  if (e.encryptionMethod == ZIP_EM_NONE) return true;
  // Without a password, the library says so.
  return e.encryptionMethod == ZIP_EM_TRAD_PKWARE && c.dosTimeKnown && !password_.empty();
}

bool RuntimeZip::ExtractEntry(int64_t index, const Sink& sink, std::string* error) const {
  if (!zip_ || index < 0 || static_cast<size_t>(index) >= entries_.size()) {
    if (error) *error = "no such entry";
    return false;
  }
  const auto i = static_cast<size_t>(index);
  if (!DecodesItself(i)) return ExtractThroughLibrary(index, sink, error);
  SinkOutput out(sink);
  return DecodeEntry(zip_.get(), i, entries_[i], checks_[i].crc, checks_[i].dosTime, passwordKeys_, out, error);
}

bool RuntimeZip::ExtractThroughLibrary(int64_t index, const Sink& sink, std::string* error) const {
  auto fail = [&](std::string why) {
    if (error) *error = std::move(why);
    return false;
  };

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
      if (total != entries_[static_cast<size_t>(index)].size) return fail(kSizeMismatch);
      return true;
    }
    total += static_cast<uint64_t>(got);
    if (!sink(std::span<const uint8_t>(buffer, static_cast<size_t>(got)))) return fail(kStopped);
  }
}

bool RuntimeZip::ExtractEntry(int64_t index, std::string& target, std::string* error) const {
  if (!zip_ || index < 0 || static_cast<size_t>(index) >= entries_.size())
    return ExtractEntry(index, Sink{}, error);  // reports the missing entry
  const auto i = static_cast<size_t>(index);
  const EntryInfo& e = entries_[i];
  // The declared size is only a hint: a damaged header may claim anything.
  // No entry can inflate to more than about a thousand times the archive.
  constexpr uint64_t kMaxReserve = 256ull << 20;
  const uint64_t plausible = std::min({e.size, archiveSize_ * 1032, kMaxReserve});
  target.reserve(target.size() + static_cast<size_t>(plausible));

  if (!DecodesItself(i)) {
    return ExtractThroughLibrary(
        index,
        [&](std::span<const uint8_t> chunk) {
          target.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
          return true;
        },
        error);
  }
  StringOutput out(target);
  return DecodeEntry(zip_.get(), i, e, checks_[i].crc, checks_[i].dosTime, passwordKeys_, out, error);
}

void RuntimeZip::Extract(std::string_view name, std::string& target) const {
  const int64_t index = FindEntry(name);
  if (index >= 0) ExtractEntry(index, target);
}

}  // namespace vtl
