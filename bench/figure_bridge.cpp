// Bridge dispatch: small requests through EdgeBrowserWebMessageReceived with
// in-memory platforms, against parsing the same messages alone.

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "bridge_doubles.h"
#include "core/json.h"
#include "figures.h"

namespace vtl::bench {
namespace {

constexpr const char* kMessages[] = {
    R"({"id":30001,"uuid":"f47ac10b-58cc-4372-a567-0e02b2c3d479","data":{"filePath":"data/notes.txt"}})",
    R"({"id":10001,"uuid":"0c1f2e3d-4b5a-4968-8776-a5b4c3d2e1f0","data":{}})",
    R"({"id":60009,"uuid":"9e8d7c6b-5a49-4837-a625-140f1e2d3c4b","data":{}})",
};
constexpr size_t kKinds = std::size(kMessages);

// Requests per second over `count` messages, best of `runs`.
template <typename Handle>
double Rate(int runs, size_t count, Handle handle) {
  double best = std::numeric_limits<double>::infinity();
  for (int r = 0; r < runs; ++r)
    best = std::min(best, Seconds([&] {
                      for (size_t i = 0; i < count; ++i) handle(kMessages[i % kKinds]);
                    }));
  return static_cast<double>(count) / best;
}

std::string PerSecond(double rate) { return Fixed(rate / 1000.0, 0) + "k req/s"; }

// Keeps the last reply in one buffer and counts the rest: what the web view
// does with a reply is not the dispatcher's cost, and a double that stored
// every reply would time its own allocations.
class LastReplyWebView : public WebViewPort {
 public:
  void PostWebMessageAsJson(const std::string& json) override {
    last.assign(json);
    ++posts;
  }
  void ExecuteScript(const std::string&) override {}
  double ZoomFactor() const override { return 1.0; }
  void SetZoomFactor(double) override {}
  std::string last;
  size_t posts = 0;
};

}  // namespace

void FigureBridgeDispatch(Context& ctx, Report& report) {
  const int runs = ctx.options().Runs(7, 3);
  const size_t count = ctx.quick() ? 60'000 : 600'000;

  test::BridgeHarness h;
  h.files.AddFile("C:\\App\\data\\notes.txt", "n");
  LastReplyWebView webView;
  TBrowserExternalModule module{BridgeServices{
      .webView = &webView, .environment = &h.environment, .files = &h.files, .window = &h.window}};
  const auto dispatch = [&](std::string_view message) { module.EdgeBrowserWebMessageReceived(message); };
  size_t parsed = 0;
  const auto parseOnly = [&](std::string_view message) { parsed += ParseJson(message).has_value(); };

  dispatch(kMessages[0]);
  if (webView.posts != 1 || webView.last.find("\"result\": true") == std::string::npos)
    throw std::runtime_error("fileExists did not answer true");

  double dispatchRate = 0, parseRate = 0;
  // Interleaved, so that both see the same machine.
  for (int r = 0; r < runs; ++r) {
    dispatchRate = std::max(dispatchRate, Rate(1, count, dispatch));
    parseRate = std::max(parseRate, Rate(1, count, parseOnly));
  }
  if (parsed != static_cast<size_t>(runs) * count) throw std::runtime_error("a message did not parse");

  const std::string what = "fileExists on memory files, hello, window.getSize in turn; one core; best of " +
                           std::to_string(runs) + " runs of " + std::to_string(count) + " messages";
  Row speed;
  speed.figure = "bridge dispatch vs parse";
  speed.measured = PerSecond(dispatchRate);
  speed.limit = PerSecond(parseRate) + " (ParseJson of the same messages)";
  speed.ratio = dispatchRate / parseRate;
  speed.goal = Row::Goal::AtLeast;
  speed.goalRatio = 0.5;
  speed.notes = {what, "dispatch: parse, read id/uuid/data, look up, run, format and post the reply (" +
                           std::to_string(webView.posts) + " replies)"};
  report.Add(std::move(speed));

  Row rate;
  rate.figure = "bridge dispatch rate";
  rate.measured = PerSecond(dispatchRate);
  rate.limit = "300k req/s (required rate)";
  rate.ratio = dispatchRate / 300'000.0;
  rate.goal = Row::Goal::AtLeast;
  rate.goalRatio = 1.0;
  report.Add(std::move(rate));
}

}  // namespace vtl::bench
