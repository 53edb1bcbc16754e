// Web messages of every wrong shape, sent as the page's web view would send
// them: none of them gets a reply it should not get, none of them ends the
// program, and a hello after each is still answered.

#include <string>
#include <vector>

#include "e2e_fixture.h"

namespace vtl::e2e {
namespace {

class BadMessages : public EndToEnd {};

std::string Hello(int n) { return "{\"id\":10001,\"uuid\":\"h" + std::to_string(n) + "\",\"data\":{}}"; }
std::string HelloReply(int n) {
  return "{\"uuid\": \"h" + std::to_string(n) + "\", \"success\": true, \"result\": \"2023.1\"}";
}

TEST_F(BadMessages, NothingEndsTheBridge) {
  struct Case {
    std::string message;
    const char* reply;  // nullptr: none
  };
  const std::vector<Case> cases = {
      {"not json at all", nullptr},
      {"{\"uuid\":\"x\",\"data\":{}}", nullptr},                       // no id
      {"{\"id\":10001,\"data\":{}}", nullptr},                         // no uuid
      {"{\"id\":30001,\"uuid\":\"x\"}", nullptr},                      // no data
      {"[1,2,3]", nullptr},                                             // not an object
      {std::string(1'000'000, '['), nullptr},                           // nested a million deep
      {"\"" + std::string(64u << 20, 'a') + "\"", nullptr},             // 64 MB of text
      {"{\"id\":99999,\"uuid\":\"x\",\"data\":{}}", nullptr},          // ids out of the table
      {"{\"id\":-1,\"uuid\":\"x\",\"data\":{}}", nullptr},
      {"{\"id\":2147483648,\"uuid\":\"x\",\"data\":{}}", nullptr},
      {"{\"id\":\"10001x\",\"uuid\":\"x\",\"data\":{}}", nullptr},
      {"{\"id\":{},\"uuid\":\"x\",\"data\":{}}", nullptr},             // wrong types for each reader
      {"{\"id\":10001,\"uuid\":[],\"data\":{}}", nullptr},
      {"{\"id\":30001,\"uuid\":\"x\",\"data\":{\"filePath\":{}}}", nullptr},
      {"{\"id\":60002,\"uuid\":\"x\",\"data\":{\"style\":[1]}}", nullptr},
      {"{\"id\":20002,\"uuid\":\"x\",\"data\":{\"overwritePrompt\":\"yes\"}}", nullptr},
      {"{\"id\":12001,\"uuid\":\"m\",\"data\":{\"items\":{}}}", nullptr},
      {"{\"id\":30001,\"uuid\":\"d\",\"data\":[]}", R"({"uuid": "d", "success": false, "result": "Missing filePath"})"},
  };
  std::vector<std::string> commands;
  std::vector<std::string> expected;
  for (size_t i = 0; i < cases.size(); ++i) {
    commands.push_back("message " + cases[i].message);
    if (cases[i].reply) expected.push_back(cases[i].reply);
    commands.push_back("message " + Hello(static_cast<int>(i)));
    expected.push_back(HelloReply(static_cast<int>(i)));
  }
  const std::string id = NewAppId("badmsg");
  const auto exe = Package("badmsg.exe", Settings(id, "Bad messages"));
  const auto scenario = Scenario("badmsg", commands);
  const Process p = Start(exe, scenario.env);
  ASSERT_TRUE(WaitUntil([&] { return scenario.Ended(); }));
  std::vector<std::string> posts;
  for (const auto& line : scenario.Read().Of("post")) posts.push_back(line.at(1));
  EXPECT_EQ(posts, expected);
  EXPECT_TRUE(p.Running());
}

}  // namespace
}  // namespace vtl::e2e
