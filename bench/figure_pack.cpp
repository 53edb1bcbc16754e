// Packing the showcase with the program's own icon (a 512 × 512 PNG, scaled
// to every size) and all its version information, against packing it with
// the defaults alone, in the same run.

#include <stb_image_write.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>

#include "figures.h"
#include "packer.h"

namespace vtl::bench {

namespace fs = std::filesystem;

void FigurePackWithInfo(Context& ctx, Report& report) {
  const int runs = ctx.options().Runs(7, 3);
  test::TempDir dir;
  const fs::path project = dir.path() / "showcase";
  fs::copy(fs::path(VTL_SOURCE_DIR) / "examples/showcase", project, fs::copy_options::recursive);
  // The real runtime when the Windows build is there, else the fixture.
  fs::path runtime = fs::path(VTL_SOURCE_DIR) / "build/windows/VantrelRuntime.exe";
  if (!fs::is_regular_file(runtime)) runtime = VTL_FIXTURE_RUNTIME;

  std::vector<uint8_t> rgba(512 * 512 * 4);
  for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
  const fs::path icon = dir.path() / "icon.png";
  std::ofstream png(icon, std::ios::binary);
  stbi_write_png_to_func([](void* out, void* data, int n) { static_cast<std::ofstream*>(out)->write(static_cast<char*>(data), n); },
                         &png, 512, 512, 4, rgba.data(), 512 * 4);
  png.close();
  if (!png) throw std::runtime_error("cannot write the icon");

  pack::PackOptions plain;
  plain.projectDir = project;
  plain.output = dir.path() / "plain.exe";
  plain.runtime = runtime;
  plain.loader = runtime;  // any file: it is only carried
  pack::PackOptions full = plain;
  full.output = dir.path() / "full.exe";
  full.package = {{"Icon", icon.string()},          {"FileVersion", "1.2.3.4"},   {"ProductVersion", "1.2.0.0"},
                  {"CompanyName", "Example Corp"},  {"FileDescription", "Demo"}, {"ProductName", "Showcase"},
                  {"LegalCopyright", "(c) Example"}, {"LegalTrademarks", "TM"},  {"Comments", "bench"},
                  {"InternalName", "showcase"},     {"OriginalFilename", "showcase.exe"}};

  const double inf = std::numeric_limits<double>::infinity();
  double without = inf, with = inf;
  for (int i = 0; i < runs; ++i) {
    without = std::min(without, Seconds([&] { pack::Pack(plain); }));
    with = std::min(with, Seconds([&] { pack::Pack(full); }));
  }
  Row row;
  row.figure = "pack the showcase with icon and version information";
  row.measured = Millis(with);
  row.limit = Millis(without) + " (the same without them)";
  row.ratio = with / without;
  row.goal = Row::Goal::AtMost;
  row.goalRatio = 1.2;
  row.notes = {"runtime: " + runtime.filename().string() + " (" + Bytes(static_cast<double>(fs::file_size(runtime))) +
                   "); icon: a 512 x 512 PNG of noise, scaled to 7 sizes; best of " + std::to_string(runs) +
                   " interleaved runs",
               "output: " + Bytes(static_cast<double>(fs::file_size(full.output))) + " with, " +
                   Bytes(static_cast<double>(fs::file_size(plain.output))) + " without"};
  report.Add(std::move(row));
}

}  // namespace vtl::bench
