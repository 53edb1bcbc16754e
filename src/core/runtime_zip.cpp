#include "core/runtime_zip.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
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
  uint64_t compressedSize, size, localHeader;
  std::string_view name;  // as stored, inside CentralDirectory::bytes
  uint16_t flags = 0, method = 0;
};

struct CentralDirectory {
  bool ok = false;  // every record was read
  std::vector<uint8_t> bytes;
  std::vector<CentralRecord> records;
};

// The records of the central directory the end record points to, or none
// when they cannot all be read. Reads the archive's tail and the directory,
// nothing else.
CentralDirectory ReadCentralDirectory(const ByteSource& source) {
  constexpr uint64_t kEndSize = 22, kEnd64Size = 56, kLocatorSize = 20, kRecordSize = 46;
  constexpr uint64_t kMaxComment = 0xFFFF;
  CentralDirectory cd;
  const uint64_t size = source.Size();
  if (size < kEndSize) return cd;
  // The end record closes the archive, followed only by a comment of at most
  // 64 KiB; the ZIP64 locator and end record, when present, come before it.
  const uint64_t tailSize = std::min(size, kEndSize + kMaxComment + kLocatorSize + kEnd64Size);
  const uint64_t tailAt = size - tailSize;
  std::vector<uint8_t> tail(static_cast<size_t>(tailSize));
  if (!source.ReadAt(tailAt, tail)) return cd;
  uint64_t end = tailSize - kEndSize;  // in `tail`
  const uint64_t lowest = end > kMaxComment ? end - kMaxComment : 0;
  while (Le32(tail, end) != 0x06054b50u) {
    if (end == lowest) return cd;
    --end;
  }
  uint64_t count = Le16(tail, end + 10);
  uint64_t at = Le32(tail, end + 16);
  uint64_t cdSize = Le32(tail, end + 12);
  if (end >= kLocatorSize && Le32(tail, end - kLocatorSize) == 0x07064b50u) {
    const uint64_t end64 = Le64(tail, end - kLocatorSize + 8);
    std::array<uint8_t, kEnd64Size> record;
    if (size < kEnd64Size || end64 > size - kEnd64Size || !source.ReadAt(end64, record) ||
        Le32(record, 0) != 0x06064b50u)
      return cd;
    count = Le64(record, 32);
    cdSize = Le64(record, 40);
    at = Le64(record, 48);
  }
  if (at > size || cdSize > size - at || count > cdSize / kRecordSize) return cd;
  cd.bytes.resize(static_cast<size_t>(cdSize));
  if (!source.ReadAt(at, cd.bytes)) return {};

  const std::span<const uint8_t> a = cd.bytes;
  cd.records.reserve(static_cast<size_t>(count));
  uint64_t p = 0;
  for (uint64_t i = 0; i < count; ++i) {
    if (cdSize - p < kRecordSize || Le32(a, p) != 0x02014b50u) return {};
    const uint64_t nameSize = Le16(a, p + 28), extraSize = Le16(a, p + 30), commentSize = Le16(a, p + 32);
    if (cdSize - p - kRecordSize < nameSize + extraSize + commentSize) return {};
    CentralRecord r{Le32(a, p + 16),  Le16(a, p + 12), Le32(a, p + 20), Le32(a, p + 24), Le32(a, p + 42),
                    std::string_view(reinterpret_cast<const char*>(a.data() + p + kRecordSize), nameSize),
                    Le16(a, p + 8),   Le16(a, p + 10)};
    if (Le16(a, p + 34) != 0) return {};  // on another disk
    // Fields too large for 32 bits are given, in this order, by the ZIP64 extra field.
    for (uint64_t x = p + kRecordSize + nameSize, xEnd = x + extraSize; xEnd - x >= 4;) {
      const uint16_t id = Le16(a, x), length = Le16(a, x + 2);
      if (xEnd - x - 4 < length) break;
      if (id == 0x0001) {
        uint64_t f = x + 4;
        for (uint64_t* field : {&r.size, &r.compressedSize, &r.localHeader}) {
          if (*field != 0xFFFFFFFFu) continue;
          if (f + 8 > x + 4 + length) break;
          *field = Le64(a, f);
          f += 8;
        }
      }
      x += 4 + length;
    }
    cd.records.push_back(r);
    p += kRecordSize + nameSize + extraSize + commentSize;
  }
  cd.ok = true;
  return cd;
}

bool IsUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || s.size() - i < n) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    i += n;
  }
  return true;
}

// True when the reader can take every entry from its own walk of the
// directory: names the library would not translate (UTF-8, which includes
// ASCII), and no cipher beyond the traditional one. Otherwise the library
// reads the directory, as it would translate or decode those.
bool DirectoryIsPlain(const CentralDirectory& cd) {
  if (!cd.ok) return false;
  for (const CentralRecord& r : cd.records) {
    if (r.method == 99 || (r.flags & 0x0040) != 0) return false;  // AES, strong encryption
    if (r.name.find('\0') != std::string_view::npos || !IsUtf8(r.name)) return false;
  }
  return true;
}

// ---- The archive library reads through the same source ------------------

struct LibrarySource {
  std::shared_ptr<const ByteSource> bytes;
  uint64_t position = 0;
  zip_error_t error;
};

zip_int64_t LibrarySourceCallback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  auto* s = static_cast<LibrarySource*>(state);
  switch (command) {
    case ZIP_SOURCE_OPEN:
      s->position = 0;
      return 0;
    case ZIP_SOURCE_READ: {
      const uint64_t size = s->bytes->Size();
      const uint64_t n = s->position >= size ? 0 : std::min<uint64_t>(length, size - s->position);
      if (n && !s->bytes->ReadAt(s->position, {static_cast<uint8_t*>(data), static_cast<size_t>(n)})) {
        zip_error_set(&s->error, ZIP_ER_READ, EIO);
        return -1;
      }
      s->position += n;
      return static_cast<zip_int64_t>(n);
    }
    case ZIP_SOURCE_CLOSE:
      return 0;
    case ZIP_SOURCE_STAT: {
      auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &s->error);
      if (!st) return -1;
      zip_stat_init(st);
      st->size = s->bytes->Size();
      st->valid |= ZIP_STAT_SIZE;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&s->error, data, length);
    case ZIP_SOURCE_FREE:
      zip_error_fini(&s->error);
      delete s;
      return 0;
    case ZIP_SOURCE_SEEK: {
      const zip_int64_t to = zip_source_seek_compute_offset(s->position, s->bytes->Size(), data, length, &s->error);
      if (to < 0) return -1;
      s->position = static_cast<uint64_t>(to);
      return 0;
    }
    case ZIP_SOURCE_TELL:
      return static_cast<zip_int64_t>(s->position);
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                            ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                            ZIP_SOURCE_SUPPORTS, -1);
    default:
      zip_error_set(&s->error, ZIP_ER_OPNOTSUPP, 0);
      return -1;
  }
}

}  // namespace

// ---- Decoding stored and deflated entries without the archive library -----

// Where decoded bytes go: a room is filled, then put, before the next is asked for.
class EntryOutput {
 public:
  virtual ~EntryOutput() = default;
  // Room for at most `most` (at least 1) more bytes.
  virtual std::span<uint8_t> Room(uint64_t most) = 0;
  // The first `n` (at least 1) bytes of the last room hold output.
  virtual bool Put(size_t n) = 0;
};

namespace {

// Decodes into the string itself, growing it a step at a time just ahead of
// the output so that the bytes are still in cache for the CRC.
class StringOutput final : public EntryOutput {
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

class SinkOutput final : public EntryOutput {
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

// The entry's raw data in the archive, read front to back.
class RawData {
 public:
  RawData(const ByteSource& source, uint64_t at, uint64_t size) : source_(source), at_(at), left_(size) {}
  uint64_t left() const { return left_; }
  void Skip(uint64_t n) {
    at_ += n;
    left_ -= n;
  }
  // Reads min(bytes.size(), left()) bytes; the count, or −1 with `error` set.
  int64_t Read(std::span<uint8_t> bytes, std::string& error) {
    const auto n = static_cast<size_t>(std::min<uint64_t>(bytes.size(), left_));
    std::string why;
    if (n && !source_.ReadAt(at_, bytes.first(n), &why)) {
      error = "cannot read the package: " + why;
      return -1;
    }
    Skip(n);
    return static_cast<int64_t>(n);
  }

 private:
  const ByteSource& source_;
  uint64_t at_, left_;
};

constexpr size_t kChunk = 64 * 1024;

}  // namespace

void RuntimeZip::ZipCloser::operator()(zip_t* z) const { zip_discard(z); }

RuntimeZip::RuntimeZip() = default;
RuntimeZip::~RuntimeZip() = default;

void RuntimeZip::SetPassword(std::string_view password) {
  password_.assign(password);
  // The library takes the password as a C string; so do the keys.
  passwordKeys_ = ZipCrypto(std::string_view(password_.c_str()));
  if (zip_) zip_set_default_password(zip_.get(), password_.c_str());
  const std::lock_guard guard(keysLock_);
  keys_.clear();
}

void RuntimeZip::Open(std::span<const uint8_t> archive) { Open(std::make_shared<MemorySource>(archive)); }

void RuntimeZip::Open(std::shared_ptr<const ByteSource> archive) {
  zip_.reset();
  source_.reset();
  entries_.clear();
  checks_.clear();
  index_.clear();
  {
    const std::lock_guard guard(keysLock_);
    keys_.clear();
  }

  // An empty archive would open as one without entries; it is no package.
  if (!archive || archive->Size() == 0) throw EZipError("Cannot open the package archive: it is empty");
  archiveSize_ = archive->Size();

  // The reader's own walk of the directory: one read of the tail, one of the
  // directory. The library would read it record by record and convert every
  // entry's time; it is opened only when an entry needs it, or when the
  // directory is one the walk does not take.
  const CentralDirectory central = ReadCentralDirectory(*archive);
  if (DirectoryIsPlain(central)) {
    entries_.reserve(central.records.size());
    checks_.reserve(central.records.size());
    index_.reserve(central.records.size());
    for (const CentralRecord& r : central.records) {
      EntryInfo info;
      info.name.assign(r.name);
      info.size = r.size;
      info.compressedSize = r.compressedSize;
      info.method = r.method;
      info.encrypted = (r.flags & 0x0001) != 0;
      info.encryptionMethod = info.encrypted ? ZIP_EM_TRAD_PKWARE : ZIP_EM_NONE;
      Checks checks;
      checks.crc = r.crc;
      checks.dosTime = r.dosTime;
      checks.localHeader = r.localHeader;
      checks.complete = checks.located = true;
      index_.try_emplace(AsciiLower(info.name), static_cast<int64_t>(entries_.size()));
      entries_.push_back(std::move(info));
      checks_.push_back(checks);
    }
    source_ = std::move(archive);
    return;
  }

  source_ = std::move(archive);
  std::string error;
  if (!OpenLibrary(&error)) {
    source_.reset();
    throw EZipError("Cannot open the package archive: " + error);
  }
  zip_t* z = zip_.get();
  const zip_int64_t count = zip_get_num_entries(z, 0);
  // The library reports each entry's modification time converted to local
  // time, and not where its data lies; the check byte needs the stored DOS
  // time, and reading an entry in place its local header, so both come from
  // the walk. Its records are used only where they agree with the library's.
  const bool centralAgrees = central.ok && static_cast<zip_int64_t>(central.records.size()) == count;
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
        const CentralRecord& record = central.records[static_cast<size_t>(i)];
        const char* rawName = zip_get_name(z, at, ZIP_FL_ENC_RAW);
        if (rawName && record.name == rawName && record.crc == st.crc && record.size == info.size &&
            record.compressedSize == info.compressedSize) {
          checks.dosTime = record.dosTime;
          checks.localHeader = record.localHeader;
          checks.located = true;
        }
      }
    }
    index_.try_emplace(AsciiLower(info.name), i);
    entries_.push_back(std::move(info));
    checks_.push_back(checks);
  }
}

// The archive library over the same source, opened once when first needed.
bool RuntimeZip::OpenLibrary(std::string* error) const {
  const std::lock_guard guard(libraryLock_);
  if (zip_) return true;
  zip_error_t ze;
  zip_error_init(&ze);
  auto* state = new LibrarySource{source_, 0, {}};
  zip_error_init(&state->error);
  zip_source_t* source = zip_source_function_create(LibrarySourceCallback, state, &ze);
  if (!source) {
    zip_error_fini(&state->error);
    delete state;
  }
  zip_t* z = source ? zip_open_from_source(source, ZIP_RDONLY, &ze) : nullptr;
  if (!z) {
    if (source) zip_source_free(source);  // frees `state` too
    if (error) *error = zip_error_strerror(&ze);
    zip_error_fini(&ze);
    return false;
  }
  zip_error_fini(&ze);
  if (!password_.empty()) zip_set_default_password(z, password_.c_str());
  zip_.reset(z);
  return true;
}

int64_t RuntimeZip::FindEntry(std::string_view name) const {
  if (!source_) return -1;
  const auto it = index_.find(AsciiLower(name));
  return it == index_.end() ? -1 : it->second;
}

// Stored and deflated entries, plain or under the traditional cipher, are
// decoded here: the library's decoder for that cipher costs a function call
// per byte. Everything else goes through the library.
bool RuntimeZip::DecodesItself(size_t index) const {
  const EntryInfo& e = entries_[index];
  const Checks& c = checks_[index];
  if (!c.complete || !c.located || (e.method != ZIP_CM_STORE && e.method != ZIP_CM_DEFLATE)) return false;
  if (e.encryptionMethod == ZIP_EM_NONE) return true;
  // Without a password, the library says so.
  return e.encryptionMethod == ZIP_EM_TRAD_PKWARE && !password_.empty();
}

// Decodes the plain bytes [first, first + count) of the entry (count already
// clipped to its end) into `out`. Reads the raw data from the archive as it
// goes; a range that covers the whole entry is checked like a whole
// extraction.
bool RuntimeZip::Decode(size_t index, EntryOutput& out, uint64_t first, uint64_t count, std::string* error) const {
  const EntryInfo& entry = entries_[index];
  const Checks& checks = checks_[index];
  auto fail = [&](std::string why) {
    if (error) *error = std::move(why);
    return false;
  };
  const ByteSource& source = *source_;
  const bool whole = first == 0 && count >= entry.size;
  const uint64_t end = whole ? entry.size : first + count;

  std::array<uint8_t, 30> local;
  std::string why;
  if (!source.ReadAt(checks.localHeader, local, &why)) return fail("cannot read the package: " + why);
  if (Le32(local, 0) != 0x04034b50u) return fail("the entry's local header is damaged");
  const uint64_t dataAt = checks.localHeader + local.size() + Le16(local, 26) + Le16(local, 28);
  if (dataAt > archiveSize_ || archiveSize_ - dataAt < entry.compressedSize)
    return fail("the entry's data lies past the end of the archive");
  RawData raw(source, dataAt, entry.compressedSize);

  std::optional<ZipCrypto> keys;
  if (entry.encrypted) {
    keys = passwordKeys_;
    std::array<uint8_t, ZipCrypto::kHeaderSize> header;
    if (raw.left() < header.size()) return fail("the entry's data is too short for its encryption header");
    if (raw.Read(header, why) < 0) return fail(why);
    keys->Decrypt(header);
    // Writers that put the CRC after the data check against the time instead;
    // which one was used is not recorded, so either passes. The CRC at the
    // end catches a wrong password that slips through.
    const uint8_t check = header.back();
    if (check != checks.crc >> 24 && check != checks.dosTime >> 8) return fail("wrong password or damaged data");
  }
  auto decrypt = [&](std::span<uint8_t> bytes) {
    if (keys) keys->Decrypt(bytes);
  };
  uLong crc = crc32(0, Z_NULL, 0);
  std::unique_ptr<uint8_t[]> scratch;  // decoded bytes before the range
  auto skipRoom = [&](uint64_t most) {
    if (!scratch) scratch = std::make_unique_for_overwrite<uint8_t[]>(kChunk);
    return std::span<uint8_t>(scratch.get(), static_cast<size_t>(std::min<uint64_t>(most, kChunk)));
  };

  if (entry.method == ZIP_CM_STORE) {
    if (raw.left() != entry.size) return fail(kSizeMismatch);
    // Large encrypted entries keep the keys every kKeyStep bytes, so that a
    // later range starts near its first byte instead of at the entry's.
    const bool keepKeys = keys && entry.size >= 2 * kKeyStep;
    uint64_t done = 0;
    if (first > 0) {
      if (!keys) {
        done = first;
      } else if (keepKeys) {
        const std::lock_guard guard(keysLock_);
        const auto it = keys_.find(index);
        if (it != keys_.end() && !it->second.empty()) {
          const size_t k = static_cast<size_t>(std::min<uint64_t>(first / kKeyStep, it->second.size()));
          if (k > 0) {
            keys = it->second[k - 1];
            done = k * kKeyStep;
          }
        }
      }
      raw.Skip(done);
    }
    while (done < end) {
      uint64_t limit = end;
      if (keepKeys) limit = std::min(limit, (done / kKeyStep + 1) * kKeyStep);
      const bool emitting = done >= first;
      const std::span<uint8_t> room = emitting ? out.Room(limit - done) : skipRoom(std::min(limit, first) - done);
      const int64_t got = raw.Read(room, why);
      if (got < 0) return fail(why);
      if (got == 0) return fail("the entry's data is cut short");
      const std::span<uint8_t> bytes = room.first(static_cast<size_t>(got));
      decrypt(bytes);
      if (whole) crc = crc32(crc, bytes.data(), static_cast<uInt>(bytes.size()));
      if (emitting && !out.Put(bytes.size())) return fail(kStopped);
      done += bytes.size();
      if (keepKeys && done % kKeyStep == 0) {
        const std::lock_guard guard(keysLock_);
        auto& kept = keys_[index];
        if (kept.size() + 1 == done / kKeyStep) kept.push_back(*keys);
      }
    }
    if (!whole) return true;
  } else {
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return fail("cannot set up inflating");
    struct Ender {
      z_stream* s;
      ~Ender() { inflateEnd(s); }
    } ender{&zs};
    const auto input = std::make_unique_for_overwrite<uint8_t[]>(kChunk);
    uint8_t spill;  // where output beyond the declared size would go
    uint64_t done = 0;
    int status = Z_OK;
    std::string problem;
    while (status != Z_STREAM_END && problem.empty()) {
      if (!whole && done >= end) return true;  // inflated no further than the range needs
      const bool past = done >= entry.size;
      const bool emitting = !past && done >= first;
      const std::span<uint8_t> room = past ? std::span<uint8_t>(&spill, 1)
                                      : emitting ? out.Room(end - done)
                                                 : skipRoom(first - done);
      zs.next_out = room.data();
      zs.avail_out = static_cast<uInt>(room.size());
      while (zs.avail_out > 0) {
        // With all input taken, inflate may still hold output for a later room.
        if (zs.avail_in == 0 && raw.left() > 0) {
          const int64_t got = raw.Read({input.get(), kChunk}, why);
          if (got < 0) {
            problem = why;
            break;
          }
          decrypt({input.get(), static_cast<size_t>(got)});
          zs.next_in = input.get();
          zs.avail_in = static_cast<uInt>(got);
        }
        Bytef* const before = zs.next_out;
        status = inflate(&zs, Z_NO_FLUSH);
        if (status == Z_BUF_ERROR && zs.avail_in == 0 && raw.left() == 0) {
          problem = "the entry's compressed data is cut short";
          break;
        }
        if (status != Z_OK && status != Z_STREAM_END) {
          problem = std::string("damaged data: ") + (zs.msg ? zs.msg : "cannot inflate");
          break;
        }
        if (whole && !past) crc = crc32(crc, before, static_cast<uInt>(zs.next_out - before));
        if (status == Z_STREAM_END) break;
      }
      const size_t filled = room.size() - zs.avail_out;
      if (filled == 0) continue;
      if (past) return fail("the entry holds more than its declared size");
      if (emitting && !out.Put(filled)) return fail(kStopped);
      done += filled;
    }
    if (!problem.empty()) return fail(std::move(problem));
    if (!whole) return done >= end ? true : fail(kSizeMismatch);
    if (zs.avail_in != 0 || raw.left() != 0) return fail("the entry's compressed data goes on past its end");
    if (done != entry.size) return fail(kSizeMismatch);
  }
  if (crc != checks.crc) return fail("checksum mismatch: wrong password or damaged data");
  return true;
}

bool RuntimeZip::ExtractEntry(int64_t index, const Sink& sink, std::string* error) const {
  if (!source_ || index < 0 || static_cast<size_t>(index) >= entries_.size()) {
    if (error) *error = "no such entry";
    return false;
  }
  const auto i = static_cast<size_t>(index);
  if (!DecodesItself(i)) return ExtractThroughLibrary(index, sink, error);
  SinkOutput out(sink);
  return Decode(i, out, 0, entries_[i].size, error);
}

bool RuntimeZip::ExtractRange(int64_t index, uint64_t first, uint64_t count, const Sink& sink,
                              std::string* error) const {
  if (!source_ || index < 0 || static_cast<size_t>(index) >= entries_.size()) {
    if (error) *error = "no such entry";
    return false;
  }
  const auto i = static_cast<size_t>(index);
  const uint64_t size = entries_[i].size;
  if (first >= size || count == 0) return true;
  count = std::min(count, size - first);
  if (!DecodesItself(i)) return ExtractRangeThroughLibrary(index, first, count, sink, error);
  SinkOutput out(sink);
  return Decode(i, out, first, count, error);
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

  std::string why;
  if (!OpenLibrary(&why)) return fail("the archive library cannot read the package: " + why);
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

// Entries the library decodes are read from their start; the range is cut
// out of the stream and the rest left unread.
bool RuntimeZip::ExtractRangeThroughLibrary(int64_t index, uint64_t first, uint64_t count, const Sink& sink,
                                            std::string* error) const {
  uint64_t at = 0;
  const uint64_t end = first + count;
  bool reached = false;
  const bool ok = ExtractThroughLibrary(
      index,
      [&](std::span<const uint8_t> chunk) {
        const uint64_t from = std::max(at, first), to = std::min(at + chunk.size(), end);
        at += chunk.size();
        if (from < to && !sink(chunk.subspan(static_cast<size_t>(from - (at - chunk.size())),
                                             static_cast<size_t>(to - from))))
          return false;
        reached = at >= end;
        return !reached;
      },
      error);
  return ok || reached;
}

bool RuntimeZip::ExtractEntry(int64_t index, std::string& target, std::string* error) const {
  if (!source_ || index < 0 || static_cast<size_t>(index) >= entries_.size())
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
  return Decode(i, out, 0, e.size, error);
}

void RuntimeZip::Extract(std::string_view name, std::string& target) const {
  const int64_t index = FindEntry(name);
  if (index >= 0) ExtractEntry(index, target);
}

}  // namespace vtl
