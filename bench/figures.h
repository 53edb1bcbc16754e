#pragma once

// Every figure is one function that measures and adds one row to the report.
// To add a figure, write the function and list it in kFigures (main.cpp).

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "fixtures.h"
#include "report.h"
#include "test_support.h"

namespace vtl::bench {

// What the figures share within a run: the options and the package files,
// made once per size in a temporary folder removed at exit.
class Context {
 public:
  explicit Context(Options options) : options_(std::move(options)) {}
  const Options& options() const { return options_; }
  bool quick() const { return options_.quick; }

  // The package of about this many archive bytes, written on first use.
  const PackageFile& Package(uint64_t archiveBytes);

 private:
  Options options_;
  std::unique_ptr<test::TempDir> dir_;
  std::map<uint64_t, PackageFile> packages_;
};

struct Figure {
  const char* name;
  const char* what;
  void (*run)(Context&, Report&);
};

void FigureLoadTime(Context& ctx, Report& report);
void FigureExtractThroughput(Context& ctx, Report& report);
void FigureLoadMemory(Context& ctx, Report& report);
void FigureManyEntries(Context& ctx, Report& report);
void FigureRange(Context& ctx, Report& report);
void FigureBridgeDispatch(Context& ctx, Report& report);
void FigureRequest(Context& ctx, Report& report);
void FigureMimeLookup(Context& ctx, Report& report);
void FigurePackWithInfo(Context& ctx, Report& report);

// Archive size of the package the load figures use.
inline uint64_t LoadPackageBytes(const Context& ctx) { return (ctx.quick() ? 10ull : 200ull) << 20; }

}  // namespace vtl::bench
