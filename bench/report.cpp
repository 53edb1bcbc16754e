#include "report.h"

#include <algorithm>
#include <cstdio>

namespace vtl::bench {

std::string Fixed(double value, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  return buf;
}

std::string Millis(double seconds) { return Fixed(seconds * 1e3, 2) + " ms"; }

std::string Bytes(double bytes) { return Fixed(bytes / kMiB, 1) + " MiB"; }

std::string Rate(double bytesPerSecond) { return Fixed(bytesPerSecond / kMiB, 1) + " MiB/s"; }

std::string Row::GoalText() const {
  if (goal == Goal::Report) return "-";
  return (goal == Goal::AtMost ? "<= " : ">= ") + Fixed(goalRatio, 2);
}

void Report::Fail(std::string figure, std::string why) { failures_.emplace_back(std::move(figure), std::move(why)); }

int Report::Misses() const {
  return static_cast<int>(std::count_if(rows_.begin(), rows_.end(), [](const Row& r) { return !r.Pass(); }) +
                          failures_.size());
}

void Report::Print(std::ostream& out) const {
  const std::vector<std::string> head = {"figure", "measured", "limit", "ratio", "goal", "result"};
  std::vector<std::vector<std::string>> cells;
  for (const auto& r : rows_)
    cells.push_back({r.figure, r.measured, r.limit, Fixed(r.ratio, 3), r.GoalText(), r.Pass() ? "PASS" : "MISS"});
  for (const auto& [figure, why] : failures_) cells.push_back({figure, "-", "-", "-", "-", "ERROR"});

  std::vector<size_t> width(head.size());
  for (size_t c = 0; c < head.size(); ++c) {
    width[c] = head[c].size();
    for (const auto& row : cells) width[c] = std::max(width[c], row[c].size());
  }
  auto line = [&](const std::vector<std::string>& row) {
    std::string text;
    for (size_t c = 0; c < row.size(); ++c) {
      std::string cell = row[c];
      // Text columns to the left, numbers to the right.
      const bool left = c == 0 || c == 2 || c == 5;
      const std::string pad(width[c] - cell.size(), ' ');
      text += (c ? " | " : "") + (left ? cell + pad : pad + cell);
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out << text << '\n';
  };
  line(head);
  std::string rule;
  for (size_t c = 0; c < head.size(); ++c) rule += (c ? "-+-" : "") + std::string(width[c], '-');
  out << rule << '\n';
  for (const auto& row : cells) line(row);

  bool first = true;
  for (const auto& r : rows_) {
    if (r.notes.empty()) continue;
    out << (first ? "\n" : "") << r.figure << ":\n";
    first = false;
    for (const auto& n : r.notes) out << "  " << n << '\n';
  }
  for (const auto& [figure, why] : failures_) {
    out << (first ? "\n" : "") << figure << ": ERROR " << why << '\n';
    first = false;
  }
}

}  // namespace vtl::bench
