// The plugin's root page: the show-system switch, the refresh, export and import buttons of the
// "Root" resource, then one row per job that the control service lists. The whole list is built
// again at every specifiers() call; a repeating 10-second timer keeps it fresh while the page
// lives.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/ui/class_registry.h"
#include "platform/ui/list_controller.h"
#include "platform/value/value.h"

class OrvaneRootListController : public orv::ListController {
 public:
  static constexpr std::string_view kClassName = "OrvaneRootListController";
  static constexpr double kRefreshInterval = 10.0;

  // The selectors the "Root" resource names: "getShowSys:", "setShowSys:specifier:",
  // "onRefresh", "onExport", "onImport".
  static orv::PageMethods methods();

  // Schedules the refresh timer. The timer and its selector hold the page weakly, so a page the
  // host has let go is destroyed and its timer stops.
  void init() override;
  std::string_view className() const override { return kClassName; }

  // Asks the control service to stop the job of `record` ("Label", "Plist"). True when a reply
  // came with a "status" of 0 or more; false without a client or reply.
  bool stopOne(const orv::Value& record);
  // Export and import of the user policy table (export_import.cc).
  void onExport();
  void onImport();
  void onRefresh();
  // The show-system switch: the stored "show_sys" unchanged, or false when none is stored.
  orv::Value getShowSys(orv::Specifier& specifier);
  // Stores the value unchanged under "show_sys" and rebuilds the list at once.
  void setShowSys(const orv::Value& value, orv::Specifier& specifier);
  // Renames every row whose "label" property is a string to its localized text.
  void parseLocalizationsForSpecifiers(orv::SpecifierList& specifiers);

  // "Root" entries, localized, followed by one job row per shown record, in the reply's order.
  std::shared_ptr<orv::SpecifierList> specifiers() override;

 private:
  // Reads the named export file and stops the jobs it marks as stopped.
  void import_policies(const std::string& name);
};
