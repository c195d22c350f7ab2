// The web page follows a long list through the steps from one rebuild to the next; they must
// give exactly the new rows, and stay small when few rows changed.
#include <gtest/gtest.h>

#include <random>

#include "host/web/row_patch.h"
#include "platform/json/json.h"

namespace orv::host::web {
namespace {

using Rows = std::vector<std::string>;

// Applies the steps as the page's script does; the rows' JSON is compared as written back.
Rows applied(const Rows& before, const std::string& steps) {
  auto parsed = parse_json(steps);
  EXPECT_TRUE(parsed && parsed->is_array()) << steps;
  Rows out;
  std::size_t at = 0;
  for (const Value& step : parsed ? parsed->as_array() : Array{}) {
    if (step.is_array()) {
      for (const Value& row : step.as_array())
        out.push_back(*write_json(row));
      continue;
    }
    std::int64_t count = step.read_int64();
    auto rows = static_cast<std::size_t>(std::abs(count));
    if (at + rows > before.size()) {
      ADD_FAILURE() << "steps beyond the rows: " << steps;
      break;
    }
    if (count > 0) out.insert(out.end(), before.begin() + at, before.begin() + at + rows);
    at += rows;
  }
  EXPECT_EQ(at, before.size()) << steps;
  return out;
}

TEST(WebRowPatch, StepsGiveTheNewRowsAndStaySmallForFewChanges) {
  std::mt19937 random(7);
  // Short rows from a small alphabet, so lists share, repeat, move and lose rows.
  auto list = [&random](std::size_t size) {
    Rows rows;
    for (std::size_t i = 0; i < size; ++i)
      rows.push_back("[" + std::to_string(random() % 6) + "]");
    return rows;
  };
  for (int round = 0; round < 400; ++round) {
    Rows before = list(random() % 12), after = list(random() % 12);
    EXPECT_EQ(applied(before, row_patch(before, after)), after);
  }

  Rows jobs;
  for (int i = 0; i < 5000; ++i)
    jobs.push_back(R"(["link","job)" + std::to_string(i) + R"(","job",1])");
  Rows changed = jobs;
  changed[2500] = R"(["link","job2500","job",9])";
  changed.insert(changed.begin() + 10, {R"(["link","new1"])", R"(["link","new2"])"});
  changed.erase(changed.begin() + 4000);
  std::string steps = row_patch(jobs, changed);
  EXPECT_EQ(applied(jobs, steps), changed);
  EXPECT_EQ(steps, R"([10,[["link","new1"],["link","new2"]],2490,-1,[["link","job2500","job",9]],)"
                   R"(1497,-1,1001])");
}

}  // namespace
}  // namespace orv::host::web
