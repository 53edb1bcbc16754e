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
      loaded.archive->Size() != package.fileSize - package.archiveOffset)
    throw std::runtime_error("the package did not load as written");
}

}  // namespace

void FigureLoadTime(Context& ctx, Report& report) {
  const PackageFile& package = ctx.Package(LoadPackageBytes(ctx));
  const int runs = ctx.options().Runs(15, 7);
  constexpr size_t kBigRead = 1 << 20;

  // The baseline's buffer is allocated and touched before any timing; the
  // warm-up read also puts the file in the page cache.
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[package.fileSize]);
  if (ReadFileInto(package.path, buffer.get(), package.fileSize, kBigRead) != package.fileSize)
    throw std::runtime_error("short read of " + package.path.string());
  CheckLoaded(*LoadPackage(package.path), package);

  const double inf = std::numeric_limits<double>::infinity();
  double base = inf, load = inf;
  LoadStages stages, bestStages;
  for (int i = 0; i < runs; ++i) {
    base = std::min(base, Seconds([&] { ReadFileInto(package.path, buffer.get(), package.fileSize, kBigRead); }));
    std::unique_ptr<LoadedPackage> loaded;
    const double t = Seconds([&] { loaded = LoadPackage(package.path, &stages); });
    CheckLoaded(*loaded, package);
    loaded.reset();  // closing is not part of loading
    if (t < load) {
      load = t;
      bestStages = stages;
    }
  }

  Row row;
  row.figure = "load " + Bytes(static_cast<double>(package.fileSize)) + " package";
  row.measured = Millis(load);
  // The load reads the headers, the end records, the central directory and
  // vtl.ini; a read of the whole file is what it must stay far below.
  row.limit = Millis(base) + " (sequential read of the file)";
  row.ratio = load / base;
  row.goal = Row::Goal::AtMost;
  row.goalRatio = 0.05;
  row.notes = {
      "package: " + Bytes(static_cast<double>(package.fileSize)) + " file, " + std::to_string(package.entries) +
          " entries, archive at offset " + std::to_string(package.archiveOffset) +
          "; warm page cache; best of " + std::to_string(runs) + " interleaved runs",
      "load: TExeUtils offset + open the file + RuntimeZip Open in place (end records, central directory) + "
      "LoadRuntimeINI + AppSettings::Read",
      "baseline: read(2) of the whole file, 1 MiB per call, into a buffer touched beforehand",
      "load stages (best run): offset " + Millis(bestStages.offset) + ", open file " + Millis(bestStages.file) +
          ", open archive " + Millis(bestStages.open) + ", vtl.ini + settings " + Millis(bestStages.settings),
  };
  report.Add(std::move(row));
}

void FigureManyEntries(Context& ctx, Report& report) {
  // Entries of a few hundred bytes, as a documentation or map-tile package
  // has them, against one entry holding the same bytes.
  const size_t many = ctx.quick() ? 10000 : 70000;
  const size_t entrySize = 300;
  const int runs = ctx.options().Runs(7, 3);
  test::TempDir dir;
  auto write = [&](const std::string& name, size_t count) {
    std::vector<test::ZipFile> files = {{"vtl.ini", "[App]\nID=many\nName=Many\nDirName=app\n"}};
    const std::string noise = NoiseBytes(entrySize * many, 91);
    if (count == 1) {
      files.push_back({"app/all.bin", noise, false});
    } else {
      for (size_t i = 0; i < count; ++i)
        files.push_back({"app/tiles/" + std::to_string(i) + ".bin",
                         noise.substr((i * entrySize) % noise.size(), entrySize * many / count), false});
    }
    auto image = test::MakeRuntimeImage();
    const auto zip = test::MakeZip(files, kPackagePassword);
    image.insert(image.end(), zip.begin(), zip.end());
    const auto path = dir.path() / name;
    test::WriteFile(path, image);
    return path;
  };
  const auto one = write("one.exe", 1), half = write("half.exe", many / 2), all = write("many.exe", many);
  const double inf = std::numeric_limits<double>::infinity();
  double tOne = inf, tHalf = inf, tAll = inf;
  std::unique_ptr<LoadedPackage> loaded;
  auto time = [&](const std::filesystem::path& path) {
    const double t = Seconds([&] { loaded = LoadPackage(path); });
    loaded.reset();  // closing is not part of loading
    return t;
  };
  for (int i = 0; i < runs; ++i) {
    tOne = std::min(tOne, time(one));
    tHalf = std::min(tHalf, time(half));
    tAll = std::min(tAll, time(all));
  }
  if (LoadPackage(all)->zip.EntryCount() != many + 1) throw std::runtime_error("the many-entry package did not load");

  Row row;
  row.figure = "load a " + std::to_string(many) + "-entry package";
  row.measured = Millis(tAll);
  row.limit = Millis(tOne) + " (1-entry package of the same size)";
  row.ratio = tAll / tOne;
  row.goal = Row::Goal::Report;
  report.Add(row);
  row = Row{};
  row.figure = "directory walk, " + std::to_string(many) + " against " + std::to_string(many / 2) + " entries";
  row.measured = Millis(tAll);
  row.limit = Millis(2 * tHalf) + " (twice the time for half the entries)";
  row.ratio = tAll / (2 * tHalf);
  row.goal = Row::Goal::AtMost;
  row.goalRatio = 1.25;
  row.notes = {
      std::to_string(many) + " stored entries of " + std::to_string(entrySize) + " bytes against one of " +
          Bytes(static_cast<double>(entrySize * many)) + "; best of " + std::to_string(runs),
      "directory walk: " + std::to_string(many / 2) + " entries " + Millis(tHalf) + ", " + std::to_string(many) +
          " entries " + Millis(tAll) + ": x" + Fixed(tAll / tHalf, 2) + " for twice the entries (linear is 2)",
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

// Loads the package in a forked child and reports the growth of its peak
// resident memory.
ChildMemory MeasureLoadInChild(const PackageFile& package) {
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
  return m;
}

}  // namespace

void FigureLoadMemory(Context& ctx, Report& report) {
  const PackageFile& big = ctx.Package(LoadPackageBytes(ctx));
  const PackageFile& small = ctx.Package(1ull << 20);
  const ChildMemory b = MeasureLoadInChild(big), s = MeasureLoadInChild(small);
  const double peak = static_cast<double>(b.afterKiB - b.beforeKiB) * 1024.0;
  const double smallPeak = static_cast<double>(s.afterKiB - s.beforeKiB) * 1024.0;
  const double limit = smallPeak + 8.0 * kMiB;

  Row row;
  row.figure = "peak memory loading " + Bytes(static_cast<double>(big.fileSize)) + " package";
  row.measured = Bytes(peak);
  row.limit = Bytes(limit) + " (1 MiB package's + 8 MiB)";
  row.ratio = peak / limit;
  row.goal = Row::Goal::AtMost;
  row.goalRatio = 1.0;
  row.notes = {
      "measured in forked children: ru_maxrss after the load minus ru_maxrss before it; the 1 MiB package's "
      "growth " + Bytes(smallPeak),
      std::string("child ru_maxrss before ") + Bytes(static_cast<double>(b.beforeKiB) * 1024.0) + ", after " +
          Bytes(static_cast<double>(b.afterKiB) * 1024.0) +
          (b.peakReset ? "; peak reset through /proc/self/clear_refs after fork"
                       : "; peak could NOT be reset after fork: the growth may be understated"),
  };
  report.Add(std::move(row));
}

}  // namespace vtl::bench
