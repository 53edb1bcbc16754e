// vtl_bench: measures the runtime's hot paths against physical baselines
// taken in the same run, and prints one table row per figure.
//
//   vtl_bench [--quick] [--runs N] [--only NAME[,NAME...]] [--list]
//
// A figure that misses its goal is reported, not failed: the exit status is
// 0 unless the arguments are wrong.

#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <set>
#include <sstream>
#include <string>

#include "figures.h"

namespace vtl::bench {

const PackageFile& Context::Package(uint64_t archiveBytes) {
  auto it = packages_.find(archiveBytes);
  if (it != packages_.end()) return it->second;
  if (!dir_) dir_ = std::make_unique<test::TempDir>();
  const std::string name = "package-" + std::to_string(archiveBytes >> 20) + "mib.exe";
  return packages_.emplace(archiveBytes, WritePackage(dir_->path(), name, archiveBytes)).first->second;
}

namespace {

constexpr Figure kFigures[] = {
    {"load", "load a package: find the archive, read its directory and the settings", FigureLoadTime},
    {"extract", "extract a deflated, encrypted entry from memory", FigureExtractThroughput},
    {"memory", "peak resident memory while loading a package", FigureLoadMemory},
    {"entries", "load a package of many small entries, against one entry of the same size", FigureManyEntries},
    {"bridge", "bridge requests dispatched per second, against parsing them alone", FigureBridgeDispatch},
    {"request", "answer a web view request for a 1 MiB package file read from the package file", FigureRequest},
    {"range", "answer a 1 MiB range of a large stored entry", FigureRange},
    {"mime", "content type of a file name", FigureMimeLookup},
    {"pack", "pack the showcase with icon and version information, against without", FigurePackWithInfo},
};

int Usage(std::ostream& out, int status) {
  out << "usage: vtl_bench [--quick] [--runs N] [--only NAME[,NAME...]] [--list]\n"
         "  --quick   small inputs (10 MiB packages), for a smoke run\n"
         "  --runs N  timed runs per measurement (default depends on the figure)\n"
         "  --only    run only the named figures\n"
         "  --list    list the figures\n";
  return status;
}

}  // namespace

int Main(int argc, char** argv) {
  Options options;
  std::set<std::string> only;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << "vtl_bench: " << a << " needs a value\n";
        std::exit(Usage(std::cerr, 2));
      }
      return argv[++i];
    };
    if (a == "--quick") {
      options.quick = true;
    } else if (a == "--runs") {
      options.runs = std::atoi(value().c_str());
      if (options.runs <= 0) return Usage(std::cerr, 2);
    } else if (a == "--only") {
      std::stringstream names(value());
      for (std::string n; std::getline(names, n, ',');)
        if (!n.empty()) only.insert(n);
    } else if (a == "--list") {
      for (const auto& f : kFigures) std::cout << f.name << "\t" << f.what << "\n";
      return 0;
    } else if (a == "--help" || a == "-h") {
      return Usage(std::cout, 0);
    } else {
      std::cerr << "vtl_bench: unknown argument " << a << "\n";
      return Usage(std::cerr, 2);
    }
  }
  for (const auto& n : only) {
    bool known = false;
    for (const auto& f : kFigures) known = known || n == f.name;
    if (!known) {
      std::cerr << "vtl_bench: no figure named " << n << "\n";
      return 2;
    }
  }

  // A fixed threshold keeps glibc from raising it after large frees: every
  // large allocation is then new memory, as it is the first time in a fresh
  // process, and the 10 MiB runs see the same costs as the 100 MiB ones.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);

  std::cout << "vtl_bench: " << (options.quick ? "quick run (10 MiB packages)" : "full run (100 MiB packages)")
            << std::endl;
  Context ctx(options);
  Report report;
  for (const auto& f : kFigures) {
    if (!only.empty() && !only.count(f.name)) continue;
    std::cout << "  measuring " << f.name << ": " << f.what << " ..." << std::endl;
    try {
      f.run(ctx, report);
    } catch (const std::exception& e) {
      report.Fail(f.name, e.what());
    }
  }
  std::cout << "\n";
  report.Print(std::cout);
  const int misses = report.Misses();
  std::cout << "\n" << (misses ? std::to_string(misses) + " figure(s) missed their goal" : "all figures met their goal")
            << " (benchmarks report; they do not fail the build)\n";
  return 0;
}

}  // namespace vtl::bench

int main(int argc, char** argv) { return vtl::bench::Main(argc, argv); }
