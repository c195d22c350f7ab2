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

class PagesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root();
    clock();
  }
  void SetUp() override {
    root().reset_settings();
    service = std::make_unique<ScriptedService>();
  }
  void TearDown() override { service.reset(); }

  static PluginTestRoot& root() {
    static PluginTestRoot instance;
    return instance;
  }
  // Installed before any page schedules a timer; time moves only through RunLoop::advance().
  static std::shared_ptr<VirtualClock> clock() {
    static std::shared_ptr<VirtualClock> instance = [] {
      auto made = std::make_shared<VirtualClock>();
      RunLoop::main().set_clock(made);
      return made;
    }();
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

  static std::vector<std::optional<std::string>> names(const SpecifierList& rows) {
    std::vector<std::optional<std::string>> out;
    for (const auto& row : rows)
      out.push_back(row->name());
    return out;
  }

  std::vector<std::string> request_names() const {
    std::vector<std::string> out;
    for (const auto& request : service->requests())
      out.push_back(request.name);
    return out;
  }

  std::unique_ptr<ScriptedService> service;
};

}  // namespace orv::test
