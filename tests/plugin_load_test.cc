// The plugin as a host meets it: loaded with dlopen from the staged bundle directory, its
// classes found by name and its exported functions by symbol. This program does not link the
// plugin, so everything it finds was registered by loading it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/ui/class_registry.h"
#include "tests/support/scripted_service.h"

namespace orv::test {
namespace {

constexpr const char* kPluginPath =
    ORVANE_BINARY_DIR "/root/Library/PreferenceBundles/OrvanePrefs.bundle/OrvanePrefs.so";

TEST(PluginLoad, RegistersItsClassesAndExportsItsFunctions) {
  const ClassRegistry& registry = ClassRegistry::shared();
  ASSERT_FALSE(registry.hasPage("OrvaneRootListController"));
  void* plugin = ::dlopen(kPluginPath, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(plugin, nullptr) << ::dlerror();

  EXPECT_TRUE(registry.hasPage("OrvaneRootListController"));
  EXPECT_TRUE(registry.hasPage("OrvaneDetailController"));
  EXPECT_TRUE(registry.hasCell("OrvaneMultilineCell"));
  for (const char* symbol : {"alert", "prompt", "ns_2_json", "json_2_ns"})
    EXPECT_NE(::dlsym(plugin, symbol), nullptr) << symbol;

  // With its bundle under the root and no control service, the root page shows its resource.
  PluginTestRoot root;
  ::setenv("ORVANE_RUNTIME_DIR", root.path().c_str(), 1);
  auto page = registry.createPage("OrvaneRootListController");
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->className(), "OrvaneRootListController");
  EXPECT_EQ(page->bundlePath(), "/Library/PreferenceBundles/OrvanePrefs.bundle");
  EXPECT_EQ(page->specifiers()->size(), 6u);
  EXPECT_EQ(registry.createPage("OrvaneDetailController")->className(), "OrvaneDetailController");
}

}  // namespace
}  // namespace orv::test
