#pragma once

// The figures table that vtl_bench prints. Each figure adds one row: what was
// measured, the physical limit measured in the same run, their ratio and the
// goal the ratio must meet. Notes under the table say how a figure was taken.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace vtl::bench {

struct Options {
  bool quick = false;  // small inputs, for a smoke run in CI
  int runs = 0;        // timed runs per measurement; 0 picks the figure's default
  std::filesystem::path tempDir;

  int Runs(int full, int inQuick) const { return runs > 0 ? runs : (quick ? inQuick : full); }
};

struct Row {
  enum class Goal { AtMost, AtLeast, Report };  // Report: a ratio without a goal, shown only

  std::string figure;
  std::string measured;  // with its unit
  std::string limit;     // with its unit and what it is
  double ratio = 0;
  Goal goal = Goal::AtMost;
  double goalRatio = 1;
  std::vector<std::string> notes;

  bool Pass() const {
    return goal == Goal::Report || (goal == Goal::AtMost ? ratio <= goalRatio : ratio >= goalRatio);
  }
  std::string GoalText() const;
};

class Report {
 public:
  void Add(Row row) { rows_.push_back(std::move(row)); }
  // A figure that could not be measured: shown as an error row.
  void Fail(std::string figure, std::string why);

  void Print(std::ostream& out) const;
  int Misses() const;

 private:
  std::vector<Row> rows_;
  std::vector<std::pair<std::string, std::string>> failures_;
};

// Formatting with units.
std::string Fixed(double value, int decimals);
std::string Millis(double seconds);
inline constexpr double kMiB = 1024.0 * 1024.0;
std::string Bytes(double bytes);          // "100.0 MiB"
std::string Rate(double bytesPerSecond);  // "250.0 MiB/s"

// Wall time of one call.
template <class F>
double Seconds(F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace vtl::bench
