// The bad-package corpus as the packer's users meet it: `vtlpack settings`
// on each file gives its expected outcome, and one clear line on failure.

#include <gtest/gtest.h>

#include <algorithm>

#include "bad_packages.h"
#include "test_support.h"

namespace vtl {
namespace {

TEST(BadPackages, VtlpackGivesEachItsClearOutcome) {
  const auto image = test::MakeRuntimeImage();
  const auto corpus =
      badpackages::MakeBadPackages(std::string(image.begin(), image.end()), "MZ fake loader", "bad.host");
  test::TempDir dir;
  for (const auto& p : corpus) {
    const auto file = dir / (p.name + ".exe");
    test::WriteFile(file, p.bytes);
    const auto r = test::RunCommand(std::string(VTLPACK_PATH) + " settings " + test::Quote(file));
    EXPECT_EQ(r.status, p.packerStatus) << p.name << "\n" << r.out << r.err;
    if (p.packerStatus == 0) {
      EXPECT_NE(r.out.find(p.packerSays), std::string::npos) << p.name << ": " << r.out;
    } else {
      EXPECT_NE(r.err.find(p.packerSays), std::string::npos) << p.name << ": " << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << p.name << ": " << r.err;
    }
  }
}

}  // namespace
}  // namespace vtl
