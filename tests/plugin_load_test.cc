// The plugin as a host meets it: loaded with dlopen from the staged bundle directory, its
// classes found by name and its exported functions by symbol. This program does not link the
// plugin, so everything it finds was registered by loading it. The host's tests run its pages.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/ui/class_registry.h"

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
}

}  // namespace
}  // namespace orv::test
