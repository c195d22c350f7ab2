#include "host/web/row_patch.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <unordered_map>

namespace orv::host::web {

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// One step: `count` rows kept (> 0) or dropped (< 0), or, with a count of 0, the later rows
// [from, end) inserted. Neighbouring steps of the same sort become one.
struct Step {
  std::int64_t count = 0;
  std::size_t from = 0, end = 0;
};

class Steps {
 public:
  void keep(std::size_t n) { add({static_cast<std::int64_t>(n)}); }
  void drop(std::size_t n) { add({-static_cast<std::int64_t>(n)}); }
  void insert(std::size_t from, std::size_t end) {
    if (from < end) add({0, from, end});
  }

  std::string json(const std::vector<std::string>& after) const {
    std::string out = "[";
    for (const Step& step : steps_) {
      if (out.size() > 1) out += ',';
      if (step.count != 0) {
        out += std::to_string(step.count);
        continue;
      }
      out += '[';
      for (std::size_t row = step.from; row < step.end; ++row)
        out.append(row > step.from ? "," : "").append(after[row]);
      out += ']';
    }
    return out + ']';
  }

 private:
  void add(Step step) {
    if (step.count == 0 && step.from == step.end) return;
    if (!steps_.empty()) {
      Step& last = steps_.back();
      bool same_count_sign =
          (last.count > 0 && step.count > 0) || (last.count < 0 && step.count < 0);
      if (same_count_sign) {
        last.count += step.count;
        return;
      }
      if (last.count == 0 && step.count == 0 && last.end == step.from) {
        last.end = step.end;
        return;
      }
    }
    steps_.push_back(step);
  }

  std::vector<Step> steps_;
};

// For each later row in [from, end), the earlier row in [from, before_end) with the same text,
// each earlier row taken at most once and in order; kNone where there is none.
std::vector<std::size_t> match_rows(const std::vector<std::string>& before, std::size_t from,
                                    std::size_t before_end, const std::vector<std::string>& after,
                                    std::size_t after_end) {
  std::unordered_map<std::string_view, std::vector<std::size_t>> places;
  for (std::size_t i = before_end; i-- > from;)
    places[before[i]].push_back(i);  // reversed, so that the first place is taken from the back
  std::vector<std::size_t> matched;
  matched.reserve(after_end - from);
  for (std::size_t j = from; j < after_end; ++j) {
    auto found = places.find(after[j]);
    if (found == places.end() || found->second.empty()) {
      matched.push_back(kNone);
      continue;
    }
    matched.push_back(found->second.back());
    found->second.pop_back();
  }
  return matched;
}

// The positions in `matched` of a longest run whose earlier rows rise, found by patience
// sorting: tails[k] is the position ending the best run of length k + 1 found so far.
std::vector<std::size_t> longest_rising_run(const std::vector<std::size_t>& matched) {
  std::vector<std::size_t> tails, previous(matched.size(), kNone);
  for (std::size_t j = 0; j < matched.size(); ++j) {
    if (matched[j] == kNone) continue;
    auto place =
        std::lower_bound(tails.begin(), tails.end(), matched[j],
                         [&](std::size_t tail, std::size_t row) { return matched[tail] < row; });
    if (place != tails.begin()) previous[j] = *(place - 1);
    if (place == tails.end())
      tails.push_back(j);
    else
      *place = j;
  }
  std::vector<std::size_t> run;
  for (std::size_t j = tails.empty() ? kNone : tails.back(); j != kNone; j = previous[j])
    run.push_back(j);
  std::reverse(run.begin(), run.end());
  return run;
}

}  // namespace

std::string row_patch(const std::vector<std::string>& before,
                      const std::vector<std::string>& after) {
  // Rows at both ends that did not change are kept without being looked up.
  std::size_t shorter = std::min(before.size(), after.size());
  std::size_t head = 0;
  while (head < shorter && before[head] == after[head])
    ++head;
  std::size_t tail = 0;
  while (tail < shorter - head &&
         before[before.size() - 1 - tail] == after[after.size() - 1 - tail])
    ++tail;
  std::size_t before_end = before.size() - tail, after_end = after.size() - tail;

  std::vector<std::size_t> matched = match_rows(before, head, before_end, after, after_end);
  Steps steps;
  steps.keep(head);
  std::size_t earlier = head, later = head;
  for (std::size_t position : longest_rising_run(matched)) {
    steps.drop(matched[position] - earlier);
    steps.insert(later, head + position);
    steps.keep(1);
    earlier = matched[position] + 1;
    later = head + position + 1;
  }
  steps.drop(before_end - earlier);
  steps.insert(later, after_end);
  steps.keep(tail);
  return steps.json(after);
}

}  // namespace orv::host::web
