// The terminal UI with 5,000 jobs, from the plugin's real pages to the text grid the terminal
// copies out (ncurses' own copy to the screen is not included):
//   start: the list page created, built through a real socket to a real messaging-center server
//     answering "listAll" with 5,000 records, and drawn at 80x24 (the process start and the
//     plugin's dlopen come before, and are not included);
//   a key press to the repainted screen: moving (Down), filtering (typing one more character of
//     a filter), and returning from a job's page (Esc); after a stop on that page, returning
//     builds the list again, through the socket, which is measured apart.
// Each is the median and the worst of many runs; the goal is one frame at 60 Hz, 16 ms.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/staged_root.h"
#include "host/browser.h"
#include "list/root_list_controller.h"
#include "platform/ipc/messaging_center.h"
#include "platform/ui/class_registry.h"
#include "services/settings.h"

namespace fs = std::filesystem;
using orv::Array;
using orv::Dictionary;
using orv::Value;
using orv::host::Browser;
using orv::host::Key;
using orv::host::KeyCode;

namespace {

constexpr int kJobs = 5000;
constexpr int kRuns = 41;
constexpr double kFrameMs = 16.0;

Value job_records() {
  Array records;
  for (int i = 0; i < kJobs; ++i) {
    std::string label = "com.example.job" + std::to_string(i);
    records.emplace_back(Dictionary{{"Label", label},
                                    {"Pid", i % 3 == 0 ? -1 : 1000 + i},
                                    {"Type", 0},
                                    {"Plist", "/Library/LaunchDaemons/" + label + ".plist"}});
  }
  return Value(Dictionary{{"data", Value(std::move(records))}});
}

double elapsed_ms(const std::function<void()>& work) {
  auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

struct Figures {
  double median;
  double worst;
};

Figures figures(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times.back()};
}

void report(const char* what, Figures f, bool against_frame) {
  std::printf(
      "%-44s median %7.2f ms   worst %7.2f ms%s\n", what, f.median, f.worst,
      against_frame ? (f.median < kFrameMs ? "   (< 16 ms: yes)" : "   (< 16 ms: no)") : "");
}

std::unique_ptr<Browser> open_browser() {
  auto page = orv::ClassRegistry::shared().createPage(OrvaneRootListController::kClassName);
  if (!std::dynamic_pointer_cast<OrvaneRootListController>(page)) std::abort();
  return std::make_unique<Browser>(page, "Orvane", orv::host::BrowserContext{.now_text = [] {
                                     return std::string("12:00:00");
                                   }});
}

}  // namespace

int main() {
  if (!orv::bench::prepare_staged_root(orv::bench::staged_root("tui-bench"))) {
    std::fprintf(stderr, "tui_bench: the staged bundle was not found\n");
    return 1;
  }
  const Value reply = job_records();
  orv::MessagingCenterServer server(orv::center_socket_path(orv::kControlServiceCenterName));
  server.register_handler("listAll", [&](const Value&) -> std::optional<Value> { return reply; });
  if (!server.start()) {
    std::fprintf(stderr, "tui_bench: the server did not start\n");
    return 1;
  }

  std::vector<double> start_times;
  for (int i = 0; i < 11; ++i)
    start_times.push_back(elapsed_ms([] { open_browser()->draw(80, 24); }));

  auto browser = open_browser();
  browser->draw(80, 24);
  std::vector<double> moves, filters, returns, returns_after_flip;
  for (int i = 0; i < kRuns; ++i)
    moves.push_back(elapsed_ms([&] {
      browser->handle_key(Key::special(KeyCode::Down));
      browser->draw(80, 24);
    }));
  browser->handle_key(Key::character('/'));
  for (int i = 0; i < kRuns; ++i) {
    filters.push_back(elapsed_ms([&] {
      browser->handle_key(Key::character('1'));
      browser->draw(80, 24);
    }));
    browser->handle_key(Key::special(KeyCode::Backspace));
    browser->draw(80, 24);
  }
  browser->handle_key(Key::special(KeyCode::Enter));   // ends typing the filter
  browser->handle_key(Key::special(KeyCode::Escape));  // clears it
  browser->draw(80, 24);
  for (bool flip : {false, true})
    for (int i = 0; i < kRuns; ++i) {
      browser->handle_key(Key::special(KeyCode::End));
      browser->handle_key(Key::special(KeyCode::Enter));  // opens the last job's page
      browser->draw(80, 24);
      if (flip) browser->handle_key(Key::character('x'));
      (flip ? returns_after_flip : returns).push_back(elapsed_ms([&] {
        browser->handle_key(Key::special(KeyCode::Escape));
        browser->draw(80, 24);
      }));
    }

  std::printf("Terminal UI, %d jobs, 80x24, %d runs each\n", kJobs, kRuns);
  report("start to the first full screen", figures(start_times), false);
  report("key to repainted screen: move (Down)", figures(moves), true);
  report("key to repainted screen: filter (one more key)", figures(filters), true);
  report("key to repainted screen: back from a job (Esc)", figures(returns), true);
  report("back from a job after a stop (Esc, list rebuilt)", figures(returns_after_flip), true);
  std::error_code ec;
  fs::remove_all(orv::bench::staged_root("tui-bench"), ec);
  return 0;
}
