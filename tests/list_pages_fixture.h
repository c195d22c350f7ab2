// The world the page tests run in: one temporary root per test program with the staged bundle
// linked in, a virtual clock on the main run loop, a fresh scripted control service per test
// and empty settings. Pages are created by class name, so their registration is exercised too.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/runloop/run_loop.h"
#include "platform/ui/class_registry.h"
#include "platform/value/value.h"
#include "tests/support/scripted_service.h"

namespace orv::test {

using Names = std::vector<std::optional<std::string>>;
using Strings = std::vector<std::string>;

class PagesTest : public ::testing::Test {
 protected:
  // A virtual clock is installed before any page schedules a timer, so time moves only through
  // RunLoop::advance().
  static void SetUpTestSuite() {
    root();
    static const bool clock_installed =
        (RunLoop::main().set_clock(std::make_shared<VirtualClock>()), true);
    (void)clock_installed;
  }
  void SetUp() override {
    root().reset_settings();
    service = std::make_unique<ScriptedService>();
  }

  static PluginTestRoot& root() {
    static PluginTestRoot instance;
    return instance;
  }
  template <class Page>
  static std::shared_ptr<Page> open(std::string_view class_name) {
    auto page = std::dynamic_pointer_cast<Page>(ClassRegistry::shared().createPage(class_name));
    EXPECT_NE(page, nullptr) << class_name << " is not registered";
    return page;
  }

  static Value job(std::string label, Dictionary more = {}) {
    Dictionary record{{"Label", Value(std::move(label))}};
    for (const auto& [key, value] : more)
      record.set(key, value);
    return Value(std::move(record));
  }

  static Names names(const SpecifierList& rows) {
    Names out;
    for (const auto& row : rows)
      out.push_back(row->name());
    return out;
  }

  Strings request_names() const {
    Strings out;
    for (const auto& request : service->requests())
      out.push_back(request.name);
    return out;
  }

  std::unique_ptr<ScriptedService> service;
};

}  // namespace orv::test
