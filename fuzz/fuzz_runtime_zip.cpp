// The package archive reader over arbitrary bytes: open with the package
// password, stream every entry out (under a total cap, so that a small input
// that inflates to gigabytes costs time, not memory), look every name up, and
// read the settings the way start-up does; read a range of every entry that
// decodes. The bytes are read through the reader's in-place source.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/package_password.h"
#include "core/runtime_zip.h"
#include "core/settings.h"
#include "core/str_utils.h"

namespace {

constexpr uint64_t kOutputCap = 16u << 20;  // decoded bytes per input, all entries together

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz_runtime_zip: invariant broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vtl::RuntimeZip zip;
  zip.SetPassword(vtl::kPackagePassword);
  try {
    zip.Open(std::span<const uint8_t>(data, size));
  } catch (const vtl::EZipError&) {
    Require(!zip.IsOpen(), "a failed open leaves the reader closed");
    return 0;
  }
  Require(zip.IsOpen(), "a successful open leaves the reader open");

  uint64_t total = 0;
  bool iniBounded = false;  // vtl.ini decoded fully within the cap
  const int64_t iniIndex = zip.FindEntry("vtl.ini");

  for (size_t i = 0; i < zip.EntryCount(); ++i) {
    const vtl::RuntimeZip::EntryInfo& e = zip.Entry(i);
    const auto index = static_cast<int64_t>(i);

    // Lookups: an entry's own name finds it or an earlier entry of the same
    // name up to ASCII case; its lower-cased name finds the same one.
    const int64_t found = zip.FindEntry(e.name);
    Require(found >= 0 && found <= index, "an entry's name finds it or an earlier twin");
    Require(vtl::AsciiIEquals(zip.Entry(static_cast<size_t>(found)).name, e.name), "the found entry has the name");
    Require(zip.FindEntry(vtl::AsciiLower(e.name)) == found, "lookups ignore ASCII case");

    if (total >= kOutputCap) continue;
    std::string streamed, error;
    bool capped = false;
    const bool ok = zip.ExtractEntry(
        index,
        [&](std::span<const uint8_t> chunk) {
          Require(!chunk.empty(), "no empty chunks");
          total += chunk.size();
          if (total > kOutputCap) {
            capped = true;
            return false;
          }
          streamed.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
          return true;
        },
        &error);
    Require(ok || !error.empty(), "a failed extraction says why");
    if (ok) Require(streamed.size() == e.size, "a successful extraction yields the declared size");
    if (capped) continue;
    if (index == iniIndex) iniBounded = true;

    // A range reads the entry's own bytes, and never more than asked; it may
    // succeed where the whole fails (the CRC covers only the whole).
    if (!streamed.empty()) {
      const uint64_t first = (size * 31 + i) % streamed.size(), count = 1 + size % 4096;
      std::string part, rangeError;
      const bool rangeOk = zip.ExtractRange(
          index, first, count,
          [&](std::span<const uint8_t> chunk) {
            part.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
            return true;
          },
          &rangeError);
      Require(part.size() <= count, "a range gives at most what was asked");
      if (ok) Require(rangeOk && part == streamed.substr(first, count), "a range of a readable entry is its bytes");
    }

    // The string form decodes the same bytes and fails the same way. It has
    // no cap of its own, so it only runs on entries known to stay under it.
    if (total + streamed.size() <= kOutputCap) {
      total += streamed.size();
      std::string target = "x";
      const bool again = zip.ExtractEntry(index, target);
      Require(again == ok, "extraction is repeatable");
      Require(target.compare(0, 1, "x") == 0, "extraction appends");
      if (ok) Require(target.compare(1, std::string::npos, streamed) == 0, "both forms decode the same bytes");
    }
  }

  Require(zip.FindEntry("") == -1 || zip.Entry(static_cast<size_t>(zip.FindEntry(""))).name.empty(),
          "the empty name finds only an empty name");

  if (iniIndex < 0 || iniBounded) {
    vtl::IniDocument ini;
    std::string bytes;
    const bool readable = iniIndex < 0 || zip.ExtractEntry(iniIndex, bytes);
    try {
      vtl::LoadRuntimeINI(zip, ini);
      Require(readable, "unreadable settings are reported");
    } catch (const vtl::EZipError&) {
      Require(!readable, "readable settings load");
    }
    const vtl::AppSettings settings = vtl::AppSettings::Read(ini);
    if (iniIndex < 0) Require(settings.IndexHtml == "index.html", "no vtl.ini reads the defaults");
  }
  return 0;
}
