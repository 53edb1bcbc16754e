#include "pe_edit.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "core/errors.h"
#include "core/pe_image.h"

namespace vtl::pack {
namespace {

constexpr int kResourceDirectory = 2;
constexpr int kSecurityDirectory = 4;
constexpr int kRelocationDirectory = 5;
constexpr uint32_t kSectionCode = 0x20, kSectionInitializedData = 0x40;

uint16_t Get16(const std::vector<uint8_t>& b, uint64_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
uint32_t Get32(const std::vector<uint8_t>& b, uint64_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
void Put16(std::vector<uint8_t>& b, uint64_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, uint64_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint64_t AlignUp(uint64_t v, uint64_t a) { return (v + a - 1) / a * a; }

[[noreturn]] void Damaged(const std::string& why) { throw Error("the runtime's image is damaged: " + why); }

// Names sort before numbers; names compare as Windows compares them when it
// searches the directory (letters ignoring case).
bool ResourceIdLess(const ResourceId& a, const ResourceId& b) {
  if (a.IsName() != b.IsName()) return a.IsName();
  if (!a.IsName()) return a.id < b.id;
  auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
  return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
                                      [&](char16_t x, char16_t y) { return upper(x) < upper(y); });
}

}  // namespace

std::string ResourceId::Text() const {
  if (!IsName()) return "#" + std::to_string(id);
  std::string s;
  for (char16_t c : name) s += c < 0x80 ? static_cast<char>(c) : '?';
  return s;
}

PeImage::PeImage(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) { ReadHeaders(); }

void PeImage::ReadHeaders() {
  const auto end = vtl::ReadImageEnd(bytes_);
  if (!end.ok) Damaged(end.error);
  fileHeader_ = uint64_t{Get32(bytes_, 0x3C)} + 4;
  const uint16_t sections = Get16(bytes_, fileHeader_ + 2);
  const uint16_t optionalSize = Get16(bytes_, fileHeader_ + 16);
  optional_ = fileHeader_ + 20;
  if (optionalSize < 2) Damaged("it has no optional header");
  const uint16_t magic = Get16(bytes_, optional_);
  const uint64_t countAt = magic == 0x20b ? 108 : magic == 0x10b ? 92 : 0;
  if (!countAt) Damaged("its optional header is of an unknown kind");
  if (optionalSize < countAt + 4) Damaged("its optional header is too short");
  directoryCount_ = Get32(bytes_, optional_ + countAt);
  directories_ = optional_ + countAt + 4;
  if (directoryCount_ > (optionalSize - countAt - 4) / 8) Damaged("its data directories overrun the optional header");
  sectionAlignment_ = Get32(bytes_, optional_ + 32);
  fileAlignment_ = Get32(bytes_, optional_ + 36);
  auto powerOfTwo = [](uint32_t v) { return v && !(v & (v - 1)); };
  if (!powerOfTwo(sectionAlignment_) || !powerOfTwo(fileAlignment_) || fileAlignment_ > sectionAlignment_)
    Damaged("its section or file alignment is not valid");

  sections_.clear();
  const uint64_t table = optional_ + optionalSize;
  for (uint16_t i = 0; i < sections; ++i) {
    const uint64_t h = table + uint64_t{i} * 40;
    sections_.push_back({h, Get32(bytes_, h + 8), Get32(bytes_, h + 12), Get32(bytes_, h + 16), Get32(bytes_, h + 20),
                         Get32(bytes_, h + 36)});
    const auto& s = sections_.back();
    if (uint64_t{s.rawPointer} + s.rawSize > bytes_.size())
      Damaged("section " + std::to_string(i + 1) + " lies past the end of the file");
  }
}

uint64_t PeImage::ImageEnd() const {
  uint64_t end = 0;
  for (const auto& s : sections_) end = std::max<uint64_t>(end, uint64_t{s.rawPointer} + s.rawSize);
  return end;
}

uint32_t PeImage::DirectoryRva(int index) const {
  return static_cast<uint32_t>(index) < directoryCount_ ? Get32(bytes_, directories_ + 8 * index) : 0;
}
uint32_t PeImage::DirectorySize(int index) const {
  return static_cast<uint32_t>(index) < directoryCount_ ? Get32(bytes_, directories_ + 8 * index + 4) : 0;
}
void PeImage::SetDirectory(int index, uint32_t rva, uint32_t size) {
  if (static_cast<uint32_t>(index) >= directoryCount_) Damaged("it has too few data directories");
  Put32(bytes_, directories_ + 8 * index, rva);
  Put32(bytes_, directories_ + 8 * index + 4, size);
}

uint64_t PeImage::RvaToOffset(uint32_t rva, uint32_t size, const char* what) const {
  for (const auto& s : sections_) {
    if (rva < s.virtualAddress) continue;
    const uint64_t into = rva - s.virtualAddress;
    if (into + size <= s.rawSize) return s.rawPointer + into;
  }
  Damaged(std::string(what) + " lies outside the sections' data");
}

void PeImage::Store(const Section& s) {
  Put32(bytes_, s.header + 8, s.virtualSize);
  Put32(bytes_, s.header + 12, s.virtualAddress);
  Put32(bytes_, s.header + 16, s.rawSize);
  Put32(bytes_, s.header + 20, s.rawPointer);
}

std::vector<Resource> PeImage::ReadResources() const {
  std::vector<Resource> out;
  const uint32_t rva = DirectoryRva(kResourceDirectory);
  const uint32_t dirSize = DirectorySize(kResourceDirectory);
  if (rva == 0 || dirSize == 0) return out;
  // The tree's offsets count from the directory's start, within its section.
  const Section* home = nullptr;
  for (const auto& s : sections_)
    if (rva >= s.virtualAddress && rva - s.virtualAddress < std::max(s.virtualSize, s.rawSize)) home = &s;
  if (!home) Damaged("the resource directory lies outside every section");
  const uint64_t base = uint64_t{home->rawPointer} + (rva - home->virtualAddress);
  const uint64_t limit = uint64_t{home->rawPointer} + home->rawSize;
  if (base >= limit) Damaged("the resource directory lies outside its section's data");
  const uint64_t span = limit - base;

  auto need = [&](uint64_t at, uint64_t size) {
    if (at > span || span - at < size) Damaged("the resource directory points outside its section");
  };
  auto readName = [&](uint32_t field) {
    if (!(field & 0x80000000u)) return ResourceId::Number(static_cast<uint16_t>(field));
    const uint64_t at = field & 0x7FFFFFFFu;
    need(at, 2);
    const uint16_t length = Get16(bytes_, base + at);
    need(at + 2, uint64_t{length} * 2);
    std::u16string name;
    for (uint16_t i = 0; i < length; ++i) name += static_cast<char16_t>(Get16(bytes_, base + at + 2 + 2 * i));
    if (name.empty()) Damaged("a resource has an empty name");
    return ResourceId::Named(name);
  };
  // Three levels: type, name, language. Each table lists its entries.
  auto entries = [&](uint64_t table) {
    need(table, 16);
    const uint32_t count = uint32_t{Get16(bytes_, base + table + 12)} + Get16(bytes_, base + table + 14);
    need(table + 16, uint64_t{count} * 8);
    std::vector<std::pair<uint32_t, uint32_t>> list;
    for (uint32_t i = 0; i < count; ++i)
      list.emplace_back(Get32(bytes_, base + table + 16 + 8 * i), Get32(bytes_, base + table + 20 + 8 * i));
    return list;
  };
  auto subdirectory = [&](uint32_t field) -> uint64_t {
    if (!(field & 0x80000000u)) Damaged("the resource tree is not three levels deep");
    return field & 0x7FFFFFFFu;
  };
  for (auto [typeField, typeTarget] : entries(0)) {
    const ResourceId type = readName(typeField);
    for (auto [nameField, nameTarget] : entries(subdirectory(typeTarget))) {
      const ResourceId name = readName(nameField);
      for (auto [langField, dataEntry] : entries(subdirectory(nameTarget))) {
        if (dataEntry & 0x80000000u) Damaged("the resource tree is deeper than three levels");
        need(dataEntry, 16);
        const uint32_t dataRva = Get32(bytes_, base + dataEntry);
        const uint32_t size = Get32(bytes_, base + dataEntry + 4);
        const uint64_t at = RvaToOffset(dataRva, size, "a resource's data");
        Resource r{type, name, static_cast<uint16_t>(langField), Get32(bytes_, base + dataEntry + 8),
                   std::vector<uint8_t>(bytes_.begin() + static_cast<std::ptrdiff_t>(at),
                                        bytes_.begin() + static_cast<std::ptrdiff_t>(at + size))};
        out.push_back(std::move(r));
        if (out.size() > 100000) Damaged("the resource tree is too large");
      }
    }
  }
  return out;
}

void PeImage::WriteResources(const std::vector<Resource>& resources) {
  // The section that holds the directory now; a runtime always has one.
  const uint32_t rva = DirectoryRva(kResourceDirectory);
  size_t index = sections_.size();
  for (size_t i = 0; i < sections_.size(); ++i)
    if (rva && rva >= sections_[i].virtualAddress && rva - sections_[i].virtualAddress < sections_[i].virtualSize)
      index = i;
  if (index == sections_.size()) Damaged("it has no resource section");
  Section& rsrc = sections_[index];
  if (rva != rsrc.virtualAddress) Damaged("its resource directory does not start its section");

  // The tree: type → name → language, each level sorted as Windows expects.
  struct Less {
    bool operator()(const ResourceId& a, const ResourceId& b) const { return ResourceIdLess(a, b); }
  };
  std::map<ResourceId, std::map<ResourceId, std::map<uint16_t, const Resource*>, Less>, Less> tree;
  for (const auto& r : resources) {
    auto& langs = tree[r.type][r.name];
    if (!langs.emplace(r.language, &r).second)
      throw Error("two resources " + r.type.Text() + "/" + r.name.Text() + " share language " +
                  std::to_string(r.language));
  }
  // Layout: every directory table, then the data entries, then the names,
  // then the data, each piece aligned to 8 bytes.
  uint64_t tables = 0, leaves = 0, namesBytes = 0;
  auto nameSize = [](const ResourceId& id) { return id.IsName() ? AlignUp(2 + 2 * id.name.size(), 2) : 0; };
  tables += 16 + 8 * tree.size();
  for (auto& [type, names] : tree) {
    namesBytes += nameSize(type);
    tables += 16 + 8 * names.size();
    for (auto& [name, langs] : names) {
      namesBytes += nameSize(name);
      tables += 16 + 8 * langs.size();
      leaves += langs.size();
    }
  }
  const uint64_t leavesAt = tables;
  const uint64_t namesAt = leavesAt + 16 * leaves;
  uint64_t dataAt = AlignUp(namesAt + namesBytes, 8);
  uint64_t total = dataAt;
  for (const auto& r : resources) total = AlignUp(total + r.data.size(), 8);
  if (total > 0x7FFFFFFF) throw Error("the resources are too large");

  std::vector<uint8_t> out(total, 0);
  uint64_t tableAt = 0, leafAt = leavesAt, nameAt = namesAt;
  auto nameField = [&](const ResourceId& id) -> uint32_t {
    if (!id.IsName()) return id.id;
    const uint64_t at = nameAt;
    Put16(out, at, static_cast<uint16_t>(id.name.size()));
    for (size_t i = 0; i < id.name.size(); ++i) Put16(out, at + 2 + 2 * i, id.name[i]);
    nameAt += nameSize(id);
    return 0x80000000u | static_cast<uint32_t>(at);
  };
  auto beginTable = [&](size_t named, size_t numbered) {
    const uint64_t at = tableAt;
    Put16(out, at + 12, static_cast<uint16_t>(named));
    Put16(out, at + 14, static_cast<uint16_t>(numbered));
    tableAt += 16 + 8 * (named + numbered);
    return at;
  };
  auto countNamed = [](const auto& map) {
    size_t n = 0;
    for (auto& [id, _] : map) n += id.IsName();
    return n;
  };
  // Breadth first would match the usual compilers' layout; depth first is as
  // valid and simpler: a table's children follow it.
  const uint64_t root = beginTable(countNamed(tree), tree.size() - countNamed(tree));
  size_t typeIndex = 0;
  for (auto& [type, names] : tree) {
    const uint64_t typeTable = beginTable(countNamed(names), names.size() - countNamed(names));
    Put32(out, root + 16 + 8 * typeIndex, nameField(type));
    Put32(out, root + 20 + 8 * typeIndex, 0x80000000u | static_cast<uint32_t>(typeTable));
    ++typeIndex;
    size_t nameIndex = 0;
    for (auto& [name, langs] : names) {
      const uint64_t langTable = beginTable(0, langs.size());
      Put32(out, typeTable + 16 + 8 * nameIndex, nameField(name));
      Put32(out, typeTable + 20 + 8 * nameIndex, 0x80000000u | static_cast<uint32_t>(langTable));
      ++nameIndex;
      size_t langIndex = 0;
      for (auto& [lang, r] : langs) {
        Put32(out, langTable + 16 + 8 * langIndex, lang);
        Put32(out, langTable + 20 + 8 * langIndex, static_cast<uint32_t>(leafAt));
        ++langIndex;
        Put32(out, leafAt, static_cast<uint32_t>(rsrc.virtualAddress + dataAt));
        Put32(out, leafAt + 4, static_cast<uint32_t>(r->data.size()));
        Put32(out, leafAt + 8, r->codePage);
        leafAt += 16;
        std::copy(r->data.begin(), r->data.end(), out.begin() + static_cast<std::ptrdiff_t>(dataAt));
        dataAt = AlignUp(dataAt + r->data.size(), 8);
      }
    }
  }

  // Room: when the new section does not fit where the old one was, what lies
  // behind it moves by whole alignments. In the file any section's data may
  // move (only the section headers point at it); in memory only the base
  // relocations may move, since nothing else addresses them and their own
  // entries point into other sections.
  const uint64_t newRaw = AlignUp(total, fileAlignment_);
  const uint64_t oldRawEnd = uint64_t{rsrc.rawPointer} + rsrc.rawSize;
  const uint64_t newRawEnd = uint64_t{rsrc.rawPointer} + newRaw;
  const uint64_t newVirtualEnd = AlignUp(uint64_t{rsrc.virtualAddress} + total, sectionAlignment_);
  uint64_t fileShift = 0, virtualShift = 0;
  std::vector<size_t> inMemoryBehind, inFileBehind;
  for (size_t i = 0; i < sections_.size(); ++i) {
    if (i == index) continue;
    const auto& s = sections_[i];
    if (s.virtualAddress > rsrc.virtualAddress) {
      inMemoryBehind.push_back(i);
      if (s.virtualAddress < newVirtualEnd)
        virtualShift = std::max<uint64_t>(virtualShift, AlignUp(newVirtualEnd - s.virtualAddress, sectionAlignment_));
    }
    if (!s.rawSize) continue;
    if (s.rawPointer >= oldRawEnd) {
      inFileBehind.push_back(i);
      if (s.rawPointer < newRawEnd)
        fileShift = std::max<uint64_t>(fileShift, AlignUp(newRawEnd - s.rawPointer, fileAlignment_));
    } else if (uint64_t{s.rawPointer} + s.rawSize > rsrc.rawPointer) {
      Damaged("a section's data overlaps the resources");
    }
  }
  if (virtualShift) {
    const uint32_t relocRva = DirectoryRva(kRelocationDirectory);
    for (size_t i : inMemoryBehind) {
      const auto& s = sections_[i];
      const uint64_t extent = std::max(s.virtualSize, s.rawSize);
      bool onlyRelocations = relocRva >= s.virtualAddress && relocRva - s.virtualAddress < extent &&
                             !(s.characteristics & kSectionCode);
      for (int d = 0; d < static_cast<int>(directoryCount_); ++d) {
        const uint32_t at = DirectoryRva(d);
        if (d != kRelocationDirectory && d != kSecurityDirectory && DirectorySize(d) && at >= s.virtualAddress &&
            at - s.virtualAddress < extent)
          onlyRelocations = false;
      }
      if (!onlyRelocations)
        throw Error("the resource section cannot grow: the section behind it holds more than base relocations");
    }
  }
  std::vector<uint8_t> file(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(rsrc.rawPointer));
  file.insert(file.end(), out.begin(), out.end());
  file.resize(newRawEnd, 0);
  for (size_t i : inFileBehind) {
    auto& s = sections_[i];
    const uint64_t from = s.rawPointer;
    s.rawPointer = static_cast<uint32_t>(from + fileShift);
    if (file.size() < uint64_t{s.rawPointer} + s.rawSize) file.resize(uint64_t{s.rawPointer} + s.rawSize, 0);
    std::copy(bytes_.begin() + static_cast<std::ptrdiff_t>(from),
              bytes_.begin() + static_cast<std::ptrdiff_t>(from + s.rawSize), file.begin() + s.rawPointer);
  }
  for (size_t i : inMemoryBehind) sections_[i].virtualAddress = static_cast<uint32_t>(sections_[i].virtualAddress + virtualShift);
  const uint64_t oldRawSize = rsrc.rawSize;
  bytes_ = std::move(file);
  rsrc.virtualSize = static_cast<uint32_t>(total);
  rsrc.rawSize = static_cast<uint32_t>(newRaw);
  for (const auto& s : sections_) Store(s);

  SetDirectory(kResourceDirectory, rsrc.virtualAddress, static_cast<uint32_t>(total));
  if (virtualShift) {
    const uint32_t relocRva = DirectoryRva(kRelocationDirectory);
    if (relocRva) SetDirectory(kRelocationDirectory, static_cast<uint32_t>(relocRva + virtualShift),
                               DirectorySize(kRelocationDirectory));
  }
  uint64_t imageSize = 0;
  for (const auto& s : sections_)
    imageSize = std::max<uint64_t>(imageSize, AlignUp(uint64_t{s.virtualAddress} + std::max(s.virtualSize, 1u),
                                                      sectionAlignment_));
  Put32(bytes_, optional_ + 56, static_cast<uint32_t>(imageSize));
  if (rsrc.characteristics & kSectionInitializedData) {
    const uint32_t initialized = Get32(bytes_, optional_ + 8);
    Put32(bytes_, optional_ + 8, static_cast<uint32_t>(initialized - oldRawSize + newRaw));
  }
}

bool PeImage::Signed() const { return DirectorySize(kSecurityDirectory) != 0; }

void PeImage::RemoveSignature() {
  if (!Signed()) return;
  const uint64_t at = DirectoryRva(kSecurityDirectory);  // a file offset, for this directory
  const uint64_t size = DirectorySize(kSecurityDirectory);
  const uint64_t end = ImageEnd();
  if (at < end || at + size > bytes_.size()) Damaged("its certificate table lies outside the file's end");
  bytes_.erase(bytes_.begin() + static_cast<std::ptrdiff_t>(at), bytes_.begin() + static_cast<std::ptrdiff_t>(at + size));
  // Signers align the table to 8 bytes with zeros after the image.
  if (bytes_.size() > end && bytes_.size() - end < 8 &&
      std::all_of(bytes_.begin() + static_cast<std::ptrdiff_t>(end), bytes_.end(), [](uint8_t b) { return b == 0; }))
    bytes_.resize(end);
  SetDirectory(kSecurityDirectory, 0, 0);
}

void ImageChecksum::Add(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i, ++position_) {
    if (position_ >= checksumOffset_ && position_ < checksumOffset_ + 4) continue;
    sum_ += (position_ & 1) ? uint64_t{data[i]} << 8 : data[i];
  }
}

uint32_t ImageChecksum::Value() const {
  uint64_t s = sum_;
  while (s >> 16) s = (s & 0xFFFF) + (s >> 16);
  return static_cast<uint32_t>(s + position_);
}

}  // namespace vtl::pack
