// The showcase application as a real page: packed from examples/showcase as a
// user packs it, started, its files served and its bridge answering.

#include <fstream>
#include <set>

#include "e2e_fixture.h"
#include "packer.h"

namespace vtl::e2e {
namespace {

class Showcase : public EndToEnd {};

TEST_F(Showcase, PacksStartsServesItsFilesAndAnswers) {
  // A copy of the project with an application ID of this test's own.
  const fs::path project = dir_ / "showcase";
  fs::copy(ExampleDir("showcase"), project, fs::copy_options::recursive);
  const std::string id = NewAppId("showcase");
  std::string ini = ReadFile(project / "vtl.ini");
  const size_t at = ini.find("ID=");
  ASSERT_NE(at, std::string::npos);
  ini.replace(at, ini.find('\n', at) - at, "ID=" + id);
  std::ofstream(project / "vtl.ini", std::ios::binary | std::ios::trunc) << ini;

  pack::PackOptions options;
  options.projectDir = project;
  options.output = dir_ / "showcase.exe";
  options.runtime = RuntimeExe();
  options.loader = FakeLoaderDll();
  pack::Pack(options);

  std::vector<std::string> commands;
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(project / "app")) {
    if (!entry.is_regular_file()) continue;
    const std::string name = fs::relative(entry.path(), project / "app").generic_string();
    files.insert(name);
    commands.push_back("request file:///" + name);
  }
  commands.push_back("message {\"id\":10001,\"uuid\":\"s1\",\"data\":{}}");
  commands.push_back("message {\"id\":80001,\"uuid\":\"s2\",\"data\":{}}");
  const auto scenario = Scenario("showcase", commands);
  const Process p = Start(options.output, scenario.env);
  ASSERT_TRUE(WaitForMainWindow(p, "Vantrel Showcase"));
  ASSERT_TRUE(WaitUntil([&] { return scenario.Ended(); }));
  const auto t = scenario.Read();

  std::set<std::string> served;
  for (const auto& line : t.Of("response")) {
    if (line.at(2) == "200") served.insert(line.at(1).substr(std::string("file:///").size()));
  }
  EXPECT_EQ(served, files);
  // The document script carries the page's user script.
  ASSERT_EQ(t.Of("document-script").size(), 1u);
  EXPECT_NE(t.Of("document-script")[0].at(1).find(ReadFile(project / "vtl-webviewjs").substr(0, 20)), std::string::npos);
  std::vector<std::string> posts;
  for (const auto& line : t.Of("post")) posts.push_back(line.at(1));
  EXPECT_EQ(posts, (std::vector<std::string>{R"({"uuid": "s1", "success": true, "result": "2023.1"})",
                                             R"({"uuid": "s2", "success": true, "result": "Windows"})"}));
}

}  // namespace
}  // namespace vtl::e2e
