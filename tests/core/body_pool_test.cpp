#include <gtest/gtest.h>

#include "core/mime_types.h"
#include "core/package_password.h"
#include "core/request_resolver.h"
#include "core/runtime_zip.h"
#include "test_support.h"

namespace vtl {
namespace {

class NoFiles : public FileReader {
 public:
  bool ReadWholeFile(const std::string&, std::string&) override { return false; }
};

TEST(BodyPool, ReusedBodiesCarryOnlyTheirOwnResponse) {
  const std::string longText(100000, 'L');
  const auto bytes = test::MakeZip({{"app/long.js", longText}, {"app/short.js", "short"}}, kPackagePassword);
  RuntimeZip zip;
  zip.SetPassword(kPackagePassword);
  zip.Open(bytes);
  NoFiles files;
  BodyPool pool;
  auto serve = [&](std::string_view uri) {
    return ServeRequest(uri, &zip, "app", "C:\\x\\", MimeTypeTable::BuiltIn(), files, &pool);
  };

  auto first = serve("file:///long.js");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->body, longText);
  pool.Give(std::move(first->body));

  const auto second = serve("file:///short.js");
  ASSERT_TRUE(second);
  EXPECT_EQ(second->body, "short");
  EXPECT_GE(second->body.capacity(), longText.size());  // the first body's memory

  // A request for a file that is nowhere gives the memory back; its 404
  // answer needs none of it.
  pool.Give(std::string(second->body));
  std::string big;
  big.reserve(50000);
  pool.Give(std::move(big));
  EXPECT_EQ(serve("file:///missing.js")->status, 404);
  EXPECT_GE(pool.Take().capacity(), 50000u);
}

TEST(BodyPool, KeepsNoMoreThanItsLimit) {
  BodyPool pool(1000);
  // Kept: 600 and 300; the second 600 and the 2000 would pass the limit.
  for (const size_t capacity : {600u, 600u, 300u, 2000u}) {
    std::string body;
    body.reserve(capacity);
    body = "text";
    pool.Give(std::move(body));
  }
  std::vector<size_t> taken;
  for (int i = 0; i < 3; ++i) {
    const std::string body = pool.Take();
    EXPECT_TRUE(body.empty());
    taken.push_back(body.capacity());
  }
  EXPECT_GE(taken[0], 300u);
  EXPECT_LT(taken[0], 600u);
  EXPECT_GE(taken[1], 600u);
  EXPECT_LT(taken[2], 300u);  // nothing left: a new string
}

}  // namespace
}  // namespace vtl
