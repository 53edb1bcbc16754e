#include "exe_info.h"

#include <stb_image.h>
#include <stb_image_resize.h>
#include <stb_image_write.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <fstream>
#include <memory>

#include "core/errors.h"
#include "core/str_utils.h"

namespace vtl::pack {
namespace {

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint16_t Get16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
void Add16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Add32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

bool IsPng(const std::vector<uint8_t>& b, size_t at = 0, size_t size = SIZE_MAX) {
  return std::min(size, b.size() - std::min(at, b.size())) >= 8 && std::memcmp(b.data() + at, kPngSignature, 8) == 0;
}

struct StbImage {
  unsigned char* pixels = nullptr;
  ~StbImage() { stbi_image_free(pixels); }
};

// 32-bit device-independent bitmap with its AND mask, as icon resources hold
// small images: rows bottom-up, the height counted twice (colour and mask).
std::vector<uint8_t> IconBitmap(const std::vector<uint8_t>& rgba, int size) {
  std::vector<uint8_t> b;
  const int maskRow = ((size + 31) / 32) * 4;
  Add32(b, 40);
  Add32(b, static_cast<uint32_t>(size));
  Add32(b, static_cast<uint32_t>(size * 2));
  Add16(b, 1);
  Add16(b, 32);
  Add32(b, 0);
  Add32(b, static_cast<uint32_t>(size * size * 4 + maskRow * size));
  for (int i = 0; i < 4; ++i) Add32(b, 0);
  for (int y = size - 1; y >= 0; --y)
    for (int x = 0; x < size; ++x) {
      const uint8_t* p = &rgba[(static_cast<size_t>(y) * size + x) * 4];
      b.insert(b.end(), {p[2], p[1], p[0], p[3]});
    }
  for (int y = size - 1; y >= 0; --y) {
    std::vector<uint8_t> row(static_cast<size_t>(maskRow), 0);
    for (int x = 0; x < size; ++x)
      if (rgba[(static_cast<size_t>(y) * size + x) * 4 + 3] == 0) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    b.insert(b.end(), row.begin(), row.end());
  }
  return b;
}

std::vector<IconImage> IconsFromPng(const std::vector<uint8_t>& bytes, const std::string& name) {
  int w = 0, h = 0, channels = 0;
  StbImage image;
  image.pixels = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &w, &h, &channels, 4);
  if (!image.pixels) throw Error("icon \"" + name + "\" is not a readable PNG image (" + stbi_failure_reason() + ")");
  if (w != h) throw Error("icon \"" + name + "\" is " + std::to_string(w) + " x " + std::to_string(h) + " pixels; an icon must be square");
  if (w < 256) throw Error("icon \"" + name + "\" is " + std::to_string(w) + " x " + std::to_string(h) + " pixels; a PNG icon must be at least 256 x 256");

  // Largest first, each scaled from the smallest image already made that is
  // at least twice its size: a few times faster than scaling every size from
  // a large original, and as sharp.
  std::vector<std::pair<int, std::vector<uint8_t>>> made;
  made.emplace_back(w, std::vector<uint8_t>(image.pixels, image.pixels + static_cast<size_t>(w) * h * 4));
  std::vector<IconImage> out;
  for (auto it = kIconSizes.rbegin(); it != kIconSizes.rend(); ++it) {
    const uint16_t size = *it;
    const auto* from = &made.front();
    for (const auto& m : made)
      if (m.first >= 2 * size || m.first == size) from = &m;
    std::vector<uint8_t> rgba(static_cast<size_t>(size) * size * 4);
    if (from->first == size) {
      rgba = from->second;
    } else if (!stbir_resize_uint8_srgb(from->second.data(), from->first, from->first, 0, rgba.data(), size, size, 0, 4,
                                        3, 0)) {
      throw Error("icon \"" + name + "\" cannot be scaled to " + std::to_string(size) + " pixels");
    }
    made.emplace_back(size, rgba);
    IconImage icon;
    icon.width = icon.height = size;
    if (size >= 256) {
      // The large image stays a PNG, as Windows stores it.
      stbi_write_png_to_func(
          [](void* context, void* data, int n) {
            auto* target = static_cast<std::vector<uint8_t>*>(context);
            target->insert(target->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + n);
          },
          &icon.data, size, size, 4, rgba.data(), size * 4);
      if (icon.data.empty()) throw Error("icon \"" + name + "\" cannot be encoded at 256 pixels");
    } else {
      icon.data = IconBitmap(rgba, size);
    }
    out.insert(out.begin(), std::move(icon));
  }
  return out;
}

std::vector<IconImage> IconsFromIco(const std::vector<uint8_t>& b, const std::string& name) {
  const std::string what = "icon \"" + name + "\"";
  const uint16_t count = Get16(b, 4);
  if (count == 0) throw Error(what + " holds no images");
  if (b.size() < 6 + size_t{count} * 16) throw Error(what + " is cut short: its directory lists " + std::to_string(count) + " images");
  std::vector<IconImage> out;
  for (uint16_t i = 0; i < count; ++i) {
    const size_t e = 6 + size_t{i} * 16;
    const uint32_t size = Get32(b, e + 8), at = Get32(b, e + 12);
    const std::string which = what + ": image " + std::to_string(i + 1);
    if (size == 0 || at > b.size() || b.size() - at < size) throw Error(which + " lies outside the file");
    IconImage icon;
    icon.width = b[e] ? b[e] : 256;
    icon.height = b[e + 1] ? b[e + 1] : 256;
    icon.colors = b[e + 2];
    icon.planes = Get16(b, e + 4);
    icon.bitCount = Get16(b, e + 6);
    icon.data.assign(b.begin() + at, b.begin() + at + size);
    if (IsPng(icon.data)) {
      int w = 0, h = 0, n = 0;
      if (!stbi_info_from_memory(icon.data.data(), static_cast<int>(icon.data.size()), &w, &h, &n))
        throw Error(which + " is not a readable PNG image");
      if (!icon.planes) icon.planes = 1;
      if (!icon.bitCount) icon.bitCount = 32;
    } else if (icon.data.size() < 40 || Get32(icon.data, 0) != 40 ||
               Get32(icon.data, 4) != icon.width || Get32(icon.data, 8) != 2u * icon.height) {
      throw Error(which + " is neither a PNG nor a bitmap of the size its entry gives");
    }
    out.push_back(std::move(icon));
  }
  return out;
}

// Version resources: nodes of {length, value length, type, key, value, children}.
struct VersionNode {
  std::u16string key;
  uint16_t type = 1;  // 1 text, 0 binary
  std::vector<uint8_t> value;
  size_t capacity = 0;  // a text value: the characters before its terminating zero, as the template has it
  std::vector<VersionNode> children;
};

size_t Align4(size_t v) { return (v + 3) & ~size_t{3}; }

[[noreturn]] void BadVersion(const std::string& why) {
  throw Error("the runtime's version resource is damaged: " + why);
}

VersionNode ParseVersionNode(const std::vector<uint8_t>& b, size_t at, size_t limit, int depth) {
  if (depth > 4) BadVersion("it is nested too deeply");
  if (at + 6 > limit) BadVersion("a block is cut short");
  const size_t length = Get16(b, at);
  const size_t valueLength = Get16(b, at + 2);
  VersionNode node;
  node.type = Get16(b, at + 4);
  const size_t end = at + length;
  if (length < 6 || end > limit) BadVersion("a block's length runs past its parent");
  size_t p = at + 6;
  for (;; p += 2) {
    if (p + 2 > end) BadVersion("a key has no terminating zero");
    const char16_t c = Get16(b, p);
    if (!c) break;
    node.key += c;
  }
  p = Align4(p + 2);
  const bool hasChildren = node.key == u"VS_VERSION_INFO" || node.key == u"StringFileInfo" ||
                           node.key == u"VarFileInfo" || (node.key.size() == 8 && depth == 2);
  size_t valueBytes = node.type == 1 ? valueLength * 2 : valueLength;
  if (!hasChildren && node.type == 1) valueBytes = end > p ? end - p : 0;  // text runs to the block's end
  if (p + valueBytes > end) {
    if (p > end) BadVersion("a value runs past its block");
    valueBytes = end - p;
  }
  node.value.assign(b.begin() + p, b.begin() + p + valueBytes);
  if (node.type == 1) {
    size_t n = 0;
    while (2 * n + 1 < node.value.size() && (node.value[2 * n] || node.value[2 * n + 1])) ++n;
    node.capacity = n;
  }
  p = Align4(p + valueBytes);
  if (hasChildren)
    while (p + 6 <= end) {
      node.children.push_back(ParseVersionNode(b, p, end, depth + 1));
      p = Align4(p + Get16(b, p));
    }
  return node;
}

void WriteVersionNode(std::vector<uint8_t>& out, const VersionNode& node) {
  while (out.size() % 4) out.push_back(0);
  const size_t start = out.size();
  Add16(out, 0);
  const bool text = node.type == 1;
  size_t valueLength = text ? node.value.size() / 2 : node.value.size();
  Add16(out, static_cast<uint16_t>(valueLength));
  Add16(out, node.type);
  for (char16_t c : node.key) Add16(out, c);
  Add16(out, 0);
  while (out.size() % 4) out.push_back(0);
  out.insert(out.end(), node.value.begin(), node.value.end());
  for (const auto& child : node.children) WriteVersionNode(out, child);
  if (out.size() - start > 0xFFFF) throw Error("the version information is too large");
  Put16(out, start, static_cast<uint16_t>(out.size() - start));
}

std::vector<uint8_t> TextValue(std::u16string_view s) {
  std::vector<uint8_t> v;
  for (char16_t c : s) Add16(v, c);
  Add16(v, 0);
  return v;
}

std::string TextOf(const VersionNode& n) {
  std::u16string s;
  for (size_t i = 0; i + 1 < n.value.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(n.value[i] | (n.value[i + 1] << 8));
    if (!c) break;
    s += c;
  }
  return Utf16ToUtf8(s);
}

Resource* FindVersion(std::vector<Resource>& resources) {
  for (auto& r : resources)
    if (!r.type.IsName() && r.type.id == kRtVersion && r.name == ResourceId::Number(1)) return &r;
  return nullptr;
}

// The icon group the runtime loads: MAINICON, else the first one.
Resource* FindMainIconGroup(std::vector<Resource>& resources) {
  Resource* first = nullptr;
  for (auto& r : resources) {
    if (r.type.IsName() || r.type.id != kRtGroupIcon) continue;
    if (r.name == ResourceId::Named(u"MAINICON")) return &r;
    if (!first) first = &r;
  }
  return first;
}

std::vector<uint16_t> GroupImageIds(const std::vector<uint8_t>& group) {
  std::vector<uint16_t> ids;
  if (group.size() < 6) return ids;
  const uint16_t count = Get16(group, 4);
  for (uint16_t i = 0; i < count && 6 + (size_t{i} + 1) * 14 <= group.size(); ++i) ids.push_back(Get16(group, 6 + i * 14 + 12));
  return ids;
}

}  // namespace

std::vector<IconImage> LoadIconBytes(const std::vector<uint8_t>& bytes, const std::string& name) {
  if (bytes.empty()) throw Error("icon \"" + name + "\" is empty");
  if (IsPng(bytes)) return IconsFromPng(bytes, name);
  if (bytes.size() >= 6 && Get16(bytes, 0) == 0 && Get16(bytes, 2) == 1) return IconsFromIco(bytes, name);
  throw Error("icon \"" + name + "\" is neither an .ico file nor a PNG image");
}

std::vector<IconImage> LoadIconFile(const std::filesystem::path& file) {
  const auto u8 = file.u8string();
  const std::string name(u8.begin(), u8.end());
  std::ifstream in(file, std::ios::binary);
  if (!in) throw Error("cannot open icon \"" + name + "\"");
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  if (in.bad()) throw Error("cannot read icon \"" + name + "\"");
  return LoadIconBytes(bytes, name);
}

void ChangeExeIcon(std::vector<Resource>& resources, const std::vector<IconImage>& icon) {
  if (icon.empty()) throw Error("an icon needs at least one image");
  Resource* group = FindMainIconGroup(resources);
  ResourceId groupName = ResourceId::Named(u"MAINICON");
  uint16_t language = 0;
  std::vector<uint16_t> old;
  if (group) {
    groupName = group->name;
    language = group->language;
    old = GroupImageIds(group->data);
  }
  // Images that only the old group used go with it.
  std::vector<uint16_t> keep;
  for (auto& r : resources)
    if (!r.type.IsName() && r.type.id == kRtGroupIcon && r.name != groupName)
      for (uint16_t id : GroupImageIds(r.data)) keep.push_back(id);
  std::erase_if(resources, [&](const Resource& r) {
    if (r.type.IsName()) return false;
    if (r.type.id == kRtGroupIcon) return r.name == groupName;
    return r.type.id == kRtIcon && !r.name.IsName() &&
           std::find(old.begin(), old.end(), r.name.id) != old.end() &&
           std::find(keep.begin(), keep.end(), r.name.id) == keep.end();
  });
  std::vector<uint16_t> used;
  for (const auto& r : resources)
    if (!r.type.IsName() && r.type.id == kRtIcon && !r.name.IsName()) used.push_back(r.name.id);

  std::vector<uint8_t> directory;
  Add16(directory, 0);
  Add16(directory, 1);
  Add16(directory, static_cast<uint16_t>(icon.size()));
  uint16_t next = 1;
  for (const auto& image : icon) {
    while (std::find(used.begin(), used.end(), next) != used.end()) ++next;
    used.push_back(next);
    directory.push_back(static_cast<uint8_t>(image.width >= 256 ? 0 : image.width));
    directory.push_back(static_cast<uint8_t>(image.height >= 256 ? 0 : image.height));
    directory.push_back(image.colors);
    directory.push_back(0);
    Add16(directory, image.planes);
    Add16(directory, image.bitCount);
    Add32(directory, static_cast<uint32_t>(image.data.size()));
    Add16(directory, next);
    resources.push_back({ResourceId::Number(kRtIcon), ResourceId::Number(next), language, 0, image.data});
  }
  resources.push_back({ResourceId::Number(kRtGroupIcon), groupName, language, 0, std::move(directory)});
}

FileVersion ParseFileVersion(std::string_view text, std::string_view option) {
  FileVersion v{};
  size_t part = 0, at = 0;
  bool ok = !text.empty();
  while (ok && at <= text.size()) {
    const size_t dot = std::min(text.find('.', at), text.size());
    const std::string_view piece = text.substr(at, dot - at);
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
    ok = part < 4 && !piece.empty() && piece.size() <= 5 && ec == std::errc() && end == piece.data() + piece.size() &&
         value <= 65535;
    if (ok) v[part++] = static_cast<uint16_t>(value);
    at = dot + 1;
  }
  if (!ok || part != 4)
    throw Error(std::string(option) + " \"" + std::string(text) +
                "\" is not a version: it needs four numbers of at most 65535, such as 1.0.0.0");
  return v;
}

std::string VersionText(const FileVersion& v) {
  return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
}

void UpdateExeInfo(std::vector<Resource>& resources, const ExeInfo& info) {
  Resource* resource = FindVersion(resources);
  if (!resource) throw Error("the runtime has no version resource to fill in");
  VersionNode root = ParseVersionNode(resource->data, 0, resource->data.size(), 0);
  if (root.key != u"VS_VERSION_INFO" || root.value.size() != 52 || Get32(root.value, 0) != 0xFEEF04BDu)
    BadVersion("it has no fixed file information");
  Put32(root.value, 8, static_cast<uint32_t>(info.fileVersion[0]) << 16 | info.fileVersion[1]);
  Put32(root.value, 12, static_cast<uint32_t>(info.fileVersion[2]) << 16 | info.fileVersion[3]);
  Put32(root.value, 16, static_cast<uint32_t>(info.productVersion[0]) << 16 | info.productVersion[1]);
  Put32(root.value, 20, static_cast<uint32_t>(info.productVersion[2]) << 16 | info.productVersion[3]);

  VersionNode* table = nullptr;
  for (auto& child : root.children)
    if (child.key == u"StringFileInfo" && !child.children.empty()) table = &child.children.front();
  if (!table) BadVersion("it has no string table");

  std::vector<std::pair<std::string, std::string>> wanted = info.strings;
  wanted.emplace_back("FileVersion", VersionText(info.fileVersion));
  wanted.emplace_back("ProductVersion", VersionText(info.productVersion));
  for (const auto& [key, value] : wanted) {
    const std::u16string k = Utf8ToUtf16(key);
    if (std::none_of(table->children.begin(), table->children.end(), [&](const VersionNode& n) { return n.key == k; }))
      throw Error("the runtime's version resource has no " + key + " to fill in");
  }
  for (auto& entry : table->children) {
    std::string value;
    const bool isVersion = entry.key == u"FileVersion" || entry.key == u"ProductVersion";
    for (const auto& [key, v] : wanted)
      if (Utf8ToUtf16(key) == entry.key) value = v;
    const std::u16string text = Utf8ToUtf16(value);
    // The version texts are ours, always short; the rest are the user's and
    // must fit their placeholders.
    if (!isVersion && text.size() > entry.capacity)
      throw ValueTooLong(Utf16ToUtf8(entry.key), text.size(), entry.capacity);
    entry.type = 1;
    entry.value = TextValue(text);
  }
  std::vector<uint8_t> out;
  WriteVersionNode(out, root);
  resource->data = std::move(out);
}

std::vector<IconGroupInfo> ReadIconGroups(const std::vector<Resource>& resources) {
  std::vector<IconGroupInfo> out;
  for (const auto& r : resources) {
    if (r.type.IsName() || r.type.id != kRtGroupIcon || r.data.size() < 6) continue;
    IconGroupInfo g;
    g.name = r.name.Text();
    const uint16_t count = Get16(r.data, 4);
    for (uint16_t i = 0; i < count && 6 + (size_t{i} + 1) * 14 <= r.data.size(); ++i) {
      const size_t e = 6 + size_t{i} * 14;
      g.sizes.emplace_back(r.data[e] ? r.data[e] : 256, r.data[e + 1] ? r.data[e + 1] : 256);
      g.bitCounts.push_back(Get16(r.data, e + 6));
    }
    out.push_back(std::move(g));
  }
  return out;
}

VersionReport ReadVersionInfo(const std::vector<Resource>& resources) {
  VersionReport report;
  auto copy = resources;
  Resource* resource = FindVersion(copy);
  if (!resource) return report;
  const VersionNode root = ParseVersionNode(resource->data, 0, resource->data.size(), 0);
  if (root.value.size() == 52) {
    auto version = [&](size_t at) {
      const uint32_t ms = Get32(root.value, at), ls = Get32(root.value, at + 4);
      return VersionText({static_cast<uint16_t>(ms >> 16), static_cast<uint16_t>(ms), static_cast<uint16_t>(ls >> 16),
                          static_cast<uint16_t>(ls)});
    };
    report.fileVersion = version(8);
    report.productVersion = version(16);
  }
  report.present = true;
  for (const auto& child : root.children)
    if (child.key == u"StringFileInfo")
      for (const auto& table : child.children)
        for (const auto& entry : table.children) report.strings.emplace_back(Utf16ToUtf8(entry.key), TextOf(entry));
  return report;
}

}  // namespace vtl::pack
