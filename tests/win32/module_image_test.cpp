#include "win32/module_image.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "core/exe_utils.h"
#include "core/pe_image.h"

namespace vtl::win32 {
namespace {

TEST(RunningModule, HeadersInMemoryGiveTheSameImageEndAsTheFile) {
  const auto path = RunningModulePath();
  ASSERT_FALSE(path.empty());
  const auto headers = RunningModuleHeaders();
  ASSERT_GE(headers.size(), 0x200u);

  TExeUtils fromMemory(path, headers);
  TExeUtils fromFile(path);
  const uint64_t end = fromMemory.GetAttachedStubOffset();
  EXPECT_EQ(end, fromFile.GetAttachedStubOffset());
  EXPECT_GT(end, 0x1000u);
  EXPECT_LE(static_cast<int64_t>(end), fromMemory.GetExeSize());
}

TEST(RunningModule, WhatFollowsTheImageIsCopiedByteForByte) {
  // This test program is not stripped, so its symbol table follows the last
  // section: exactly where a package's archive would be.
  const auto path = RunningModulePath();
  TExeUtils self(path, RunningModuleHeaders());
  ASSERT_TRUE(self.ExeHasAttachedStub());
  MemoryStream tail;
  self.GetZipFromExe(tail);

  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> whole((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(tail.size(), whole.size() - self.GetAttachedStubOffset());
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), whole.begin() + static_cast<std::ptrdiff_t>(self.GetAttachedStubOffset())));
}

TEST(RunningModule, PathNamesTheFileOnDisk) {
  const auto path = RunningModulePath();
  EXPECT_TRUE(std::filesystem::exists(path)) << path.string();
  EXPECT_EQ(TExeUtils::GetFileSizeOf(path), static_cast<int64_t>(std::filesystem::file_size(path)));
}

}  // namespace
}  // namespace vtl::win32
