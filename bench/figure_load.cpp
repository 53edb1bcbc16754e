// Loading a package at start-up: time against a plain read of the file, and
// the memory it takes against the package's size.

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "core/exe_utils.h"
#include "core/package_password.h"
#include "figures.h"

namespace vtl::bench {
namespace {

// Reads the whole file with read(2), `chunk` bytes per call, into `buffer`.
uint64_t ReadFileInto(const std::filesystem::path& path, uint8_t* buffer, uint64_t capacity, size_t chunk) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path.string() + ": " + std::strerror(errno));
  uint64_t at = 0;
  while (at < capacity) {
    const ssize_t got = ::read(fd, buffer + at, static_cast<size_t>(std::min<uint64_t>(chunk, capacity - at)));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    at += static_cast<uint64_t>(got);
  }
  ::close(fd);
  return at;
}

void CheckLoaded(const LoadedPackage& loaded, const PackageFile& package) {
  if (loaded.settings.Name != package.appName || loaded.zip.EntryCount() != package.entries ||
      loaded.archive.size() != package.fileSize - package.archiveOffset)
    throw std::runtime_error("the package did not load as written");
}

// The load with the archive mapped from the file instead of copied: what the
// runtime's start-up would cost if it read the package in place. Diagnostic
// only; the runtime does not work this way yet.
std::string MappedLoad(const PackageFile& package) {
  const int fd = ::open(package.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + package.path.string());
  void* base = ::mmap(nullptr, package.fileSize, PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);
  if (base == MAP_FAILED) throw std::runtime_error("mmap failed");
  struct Unmap {
    void* p;
    size_t n;
    ~Unmap() { ::munmap(p, n); }
  } unmap{base, package.fileSize};

  TExeUtils exe(package.path);
  const uint64_t offset = exe.GetAttachedStubOffset();
  RuntimeZip zip;
  zip.SetPassword(kPackagePassword);
  zip.Open(std::span(static_cast<const uint8_t*>(base) + offset, package.fileSize - offset));
  IniDocument ini;
  LoadRuntimeINI(zip, ini);
  return AppSettings::Read(ini).Name;
}

}  // namespace

void FigureLoadTime(Context& ctx, Report& report) {
  const PackageFile& package = ctx.Package(LoadPackageBytes(ctx));
  const int runs = ctx.options().Runs(7, 5);
  constexpr size_t kBigRead = 1 << 20;
  constexpr size_t kSmallRead = TExeUtils::kChunkSize;  // what GetZipFromExe reads per call

  // The baseline's buffer is allocated and touched before any timing; the
  // warm-up read also puts the file in the page cache.
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[package.fileSize]);
  if (ReadFileInto(package.path, buffer.get(), package.fileSize, kBigRead) != package.fileSize)
    throw std::runtime_error("short read of " + package.path.string());
  CheckLoaded(*LoadPackage(package.path), package);

  const double inf = std::numeric_limits<double>::infinity();
  double base = inf, load = inf, fresh = inf, small = inf, mapped = inf;
  LoadStages stages, bestStages;
  for (int i = 0; i < runs; ++i) {
    base = std::min(base, Seconds([&] { ReadFileInto(package.path, buffer.get(), package.fileSize, kBigRead); }));

    std::unique_ptr<LoadedPackage> loaded;
    const double t = Seconds([&] { loaded = LoadPackage(package.path, &stages); });
    CheckLoaded(*loaded, package);
    loaded.reset();  // freeing is not part of loading
    if (t < load) {
      load = t;
      bestStages = stages;
    }

    // Diagnostics: where a load's extra time can come from.
    // Mapped directly, so that the allocator cannot hand back pages it kept.
    void* untouched = nullptr;
    fresh = std::min(fresh, Seconds([&] {
                       untouched = ::mmap(nullptr, package.fileSize, PROT_READ | PROT_WRITE,
                                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
                       if (untouched == MAP_FAILED) throw std::runtime_error("mmap failed");
                       ReadFileInto(package.path, static_cast<uint8_t*>(untouched), package.fileSize, kBigRead);
                     }));
    ::munmap(untouched, package.fileSize);
    small = std::min(small, Seconds([&] { ReadFileInto(package.path, buffer.get(), package.fileSize, kSmallRead); }));
    std::string name;
    mapped = std::min(mapped, Seconds([&] { name = MappedLoad(package); }));
    if (name != package.appName) throw std::runtime_error("the mapped package did not load as written");
  }

  Row row;
  row.figure = "load " + Bytes(static_cast<double>(package.fileSize)) + " package";
  row.measured = Millis(load);
  // The load keeps a copy of the archive for the life of the process, so
  // its floor is a sequential read of the file into newly allocated memory:
  // every page of the copy has to be brought in once.
  row.limit = Millis(fresh) + " (sequential read into new memory)";
  row.ratio = load / fresh;
  row.goal = Row::Goal::AtMost;
  row.goalRatio = 1.25;
  row.notes = {
      "package: " + Bytes(static_cast<double>(package.fileSize)) + " file, " + std::to_string(package.entries) +
          " entries, archive at offset " + std::to_string(package.archiveOffset) +
          "; warm page cache; best of " + std::to_string(runs) + " interleaved runs",
      "load: TExeUtils offset + GetZipFromExe into memory + RuntimeZip Open + LoadRuntimeINI + AppSettings::Read",
      "baseline: read(2) of the whole file, 1 MiB per call, into newly mapped memory that no one touched before",
      "load stages (best run): offset " + Millis(bestStages.offset) + ", copy " + Millis(bestStages.copy) +
          ", open " + Millis(bestStages.open) + ", vtl.ini + settings " + Millis(bestStages.settings),
      "diagnostic: the same read into a buffer allocated and touched beforehand (page cache copy only) " +
          Millis(base) + "; load against it x" + Fixed(load / base, 2) + "; " + std::to_string(kSmallRead) +
          "-byte reads (GetZipFromExe's chunk) into that buffer " + Millis(small) + " (x" + Fixed(small / base, 2) + ")",
      "diagnostic: the same load with the file mapped (mmap) and the archive read in place, no copy: " +
          Millis(mapped) + " (x" + Fixed(mapped / base, 2) + ")",
  };
  report.Add(std::move(row));
}

namespace {

struct ChildMemory {
  long beforeKiB = 0;  // ru_maxrss once the child's own peak was reset
  long afterKiB = 0;   // ru_maxrss after the load
  bool peakReset = false;
  bool loaded = false;
  char error[200] = {};
};

long MaxRssKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// Lowers the kernel's resident-size high-water mark to the current size, so
// ru_maxrss starts from what the child holds now, not from the parent's past.
bool ResetPeakRss() {
  const int fd = ::open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::write(fd, "5", 1) == 1;
  ::close(fd);
  return ok;
}

}  // namespace

void FigureLoadMemory(Context& ctx, Report& report) {
  const PackageFile& package = ctx.Package(LoadPackageBytes(ctx));

  int pipeFds[2];
  if (::pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::close(pipeFds[0]);
    ChildMemory m;
    // Hand back what the parent's heap kept, so the load cannot reuse pages
    // that are already resident and look smaller than it is.
    malloc_trim(0);
    m.peakReset = ResetPeakRss();
    m.beforeKiB = MaxRssKiB();
    try {
      auto loaded = LoadPackage(package.path);
      m.afterKiB = MaxRssKiB();
      CheckLoaded(*loaded, package);
      m.loaded = true;
    } catch (const std::exception& e) {
      std::snprintf(m.error, sizeof m.error, "%s", e.what());
    }
    const bool sent = ::write(pipeFds[1], &m, sizeof m) == static_cast<ssize_t>(sizeof m);
    ::_exit(sent ? 0 : 1);
  }
  ::close(pipeFds[1]);
  ChildMemory m;
  const ssize_t got = ::read(pipeFds[0], &m, sizeof m);
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (got != static_cast<ssize_t>(sizeof m)) throw std::runtime_error("the measuring child sent no result");
  if (!m.loaded) throw std::runtime_error(std::string("the measuring child could not load: ") + m.error);

  const double peak = static_cast<double>(m.afterKiB - m.beforeKiB) * 1024.0;
  const double size = static_cast<double>(package.fileSize);
  const double limit = 1.1 * size + 16.0 * kMiB;

  Row row;
  row.figure = "peak memory loading " + Bytes(size) + " package";
  row.measured = Bytes(peak);
  row.limit = Bytes(limit) + " (1.1 x size + 16 MiB)";
  row.ratio = peak / limit;
  row.goal = Row::Goal::AtMost;
  row.goalRatio = 1.0;
  row.notes = {
      "package size " + Bytes(size) +
          "; measured in a forked child: ru_maxrss after the load minus ru_maxrss before it",
      std::string("child ru_maxrss before ") + Bytes(static_cast<double>(m.beforeKiB) * 1024.0) + ", after " +
          Bytes(static_cast<double>(m.afterKiB) * 1024.0) +
          (m.peakReset ? "; peak reset through /proc/self/clear_refs after fork"
                       : "; peak could NOT be reset after fork: the growth may be understated"),
  };
  report.Add(std::move(row));
}

}  // namespace vtl::bench
