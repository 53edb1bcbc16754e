#include "test_support.h"

#include <zip.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>
#include <sys/wait.h>

namespace vtl::test {
namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

std::vector<uint8_t> MakePeImage(const std::vector<SectionSpec>& sections, uint16_t optionalHeaderSize,
                                 uint32_t peOffset) {
  const size_t table = peOffset + 4 + 20 + optionalHeaderSize;
  size_t end = table + sections.size() * 40;
  for (const auto& s : sections) end = std::max<size_t>(end, size_t{s.pointerToRawData} + s.sizeOfRawData);
  std::vector<uint8_t> b(end, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, peOffset);
  std::memcpy(b.data() + peOffset, "PE\0\0", 4);
  Put16(b, peOffset + 4, 0x8664);  // x64
  Put16(b, peOffset + 4 + 2, static_cast<uint16_t>(sections.size()));
  Put16(b, peOffset + 4 + 16, optionalHeaderSize);
  for (size_t i = 0; i < sections.size(); ++i) {
    const size_t h = table + i * 40;
    std::memcpy(b.data() + h, ".sect", 5);
    Put32(b, h + 16, sections[i].sizeOfRawData);
    Put32(b, h + 20, sections[i].pointerToRawData);
  }
  return b;
}

std::vector<uint8_t> MakeRuntimeImage() { return MakePeImage({{0x400, 0x200}, {0x600, 0x200}, {0x800, 0x1000}}); }

std::vector<uint8_t> MakeZip(const std::vector<ZipFile>& files, std::string_view password) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* target = zip_source_buffer_create(nullptr, 0, 0, &error);
  zip_source_keep(target);
  zip_t* z = zip_open_from_source(target, ZIP_TRUNCATE, &error);
  if (!z) throw std::runtime_error("zip_open_from_source failed");
  const std::string pw(password);
  for (const auto& f : files) {
    zip_source_t* s = zip_source_buffer(z, f.data.data(), f.data.size(), 0);
    const zip_int64_t i = zip_file_add(z, f.name.c_str(), s, ZIP_FL_ENC_UTF_8);
    if (i < 0) throw std::runtime_error("zip_file_add failed");
    zip_set_file_compression(z, static_cast<zip_uint64_t>(i), f.deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0);
    if (!pw.empty()) zip_file_set_encryption(z, static_cast<zip_uint64_t>(i), ZIP_EM_TRAD_PKWARE, pw.c_str());
  }
  if (zip_close(z) < 0) throw std::runtime_error("zip_close failed");
  std::vector<uint8_t> out;
  zip_stat_t st;
  zip_source_stat(target, &st);
  out.resize(st.size);
  zip_source_open(target);
  zip_source_read(target, out.data(), out.size());
  zip_source_close(target);
  zip_source_free(target);
  return out;
}

void WriteFile(const std::filesystem::path& p, std::string_view bytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + p.string());
}

void WriteFile(const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
  WriteFile(p, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TempDir::TempDir() {
  std::random_device rd;
  path_ = std::filesystem::temp_directory_path() / ("vtl-test-" + std::to_string(rd()) + std::to_string(rd()));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string Quote(const std::filesystem::path& p) {
  std::string s = "'";
  for (char c : p.string()) {
    if (c == '\'') s += "'\\''";
    else s += c;
  }
  return s + "'";
}

RunResult RunCommand(const std::string& commandLine) {
  TempDir dir;
  const auto out = dir / "out", err = dir / "err";
  const std::string full = "(" + commandLine + ") >" + Quote(out) + " 2>" + Quote(err) + " </dev/null";
  const int raw = std::system(full.c_str());
  RunResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = ReadFile(out);
  r.err = ReadFile(err);
  return r;
}

}  // namespace vtl::test
