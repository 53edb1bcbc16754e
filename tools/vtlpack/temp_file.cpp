#include "temp_file.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "core/errors.h"

namespace vtl::pack {
namespace {

// Plain C strings, so that the signal handler can reach them without locks.
constexpr int kMaxLive = 8;
std::atomic<const char*> g_live[kMaxLive];

void Track(const char* p) {
  for (auto& slot : g_live) {
    const char* expected = nullptr;
    if (slot.compare_exchange_strong(expected, p)) return;
  }
}

void Untrack(const char* p) {
  for (auto& slot : g_live) {
    const char* expected = p;
    if (slot.compare_exchange_strong(expected, nullptr)) return;
  }
}

extern "C" void OnInterrupt(int sig) {
  for (auto& slot : g_live)
    if (const char* p = slot.load()) std::remove(p);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

}  // namespace

TempFile::TempFile(const std::filesystem::path& finalPath, const char* tag) : final_(finalPath) {
  std::random_device rd;
  const auto suffix = std::to_string(rd() % 1000000);
  path_ = finalPath;
  path_ += std::string(".") + tag + "-" + suffix + ".tmp";
  narrow_ = path_.string();
  Track(narrow_.c_str());
}

TempFile::~TempFile() {
  Untrack(narrow_.c_str());
  if (!committed_) {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
}

void TempFile::Commit() {
  std::error_code ec;
  std::filesystem::rename(path_, final_, ec);
  if (ec) throw EFCreateError("Cannot create file \"" + final_.string() + "\". " + ec.message());
  committed_ = true;
}

void InstallTempFileCleanup() {
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
}

}  // namespace vtl::pack
