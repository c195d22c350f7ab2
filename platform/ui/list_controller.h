// The list controller: a page of rows. A page class derives from ListController, overrides
// specifiers() and registers itself, its getters, setters and actions by name in the class
// registry (class_registry.h), which is how specifiers, resources and hosts reach them.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ui/preference_row.h"

namespace orv {

class ListController : public std::enable_shared_from_this<ListController> {
 public:
  virtual ~ListController() = default;

  // Called once by the class registry right after construction, when shared_from_this() works
  // (the platform's init). Pages that schedule timers or keep weak references do it here.
  virtual void init() {}

  // The name under which the page's class is registered.
  virtual std::string_view className() const = 0;

  // The page's rows. The base returns _specifiers as it is (empty when never set).
  virtual std::shared_ptr<SpecifierList> specifiers();
  // The list as the last build left it, without building it again (hosts draw from this after
  // a reload); null before the first build.
  const std::shared_ptr<SpecifierList>& currentSpecifiers() const { return _specifiers; }

  // The specifier that opened this page (a link row of the previous page), or null.
  const SpecifierPtr& specifier() const { return specifier_; }
  void setSpecifier(SpecifierPtr specifier) { specifier_ = std::move(specifier); }

  // Drops the list, calls specifiers() and asks the host to redraw the page.
  void reloadSpecifiers();

  // Reads "<name>.plist" from the page's bundle directory and makes one specifier per
  // dictionary of its "items", in order, aimed at `target`. A missing or unreadable file gives
  // an empty list; items that are not dictionaries are skipped. The bundle is the one the page's
  // class was registered with. Per entry: name from "label" (unlocalized; none when missing),
  // cell type from "cell" (missing: a group, as group entries are written; an unknown name:
  // static text, so the row still shows), "get"/"set"/"action" selectors, the "detail" page
  // class only when such a page is registered. The whole entry becomes the properties, except
  // that a "cellClass" naming no registered cell is dropped and a missing "id" is the label.
  // A value of the wrong kind (a number as "label") counts as missing.
  std::shared_ptr<SpecifierList> loadSpecifiersFromPlistName(
      std::string_view name, const std::shared_ptr<ListController>& target);

  // Hosts observe rebuilds: the callback runs after every reloadSpecifiers().
  void setReloadObserver(std::function<void(ListController&)> observer) {
    reload_observer_ = std::move(observer);
  }

  // The page's bundle directory (logical path); set by the class registry on creation.
  const std::string& bundlePath() const { return bundle_path_; }
  void setBundlePath(std::string logical_path) { bundle_path_ = std::move(logical_path); }

 protected:
  std::shared_ptr<SpecifierList> _specifiers;

 private:
  SpecifierPtr specifier_;
  std::string bundle_path_;
  std::function<void(ListController&)> reload_observer_;
};

using ListControllerPtr = std::shared_ptr<ListController>;

}  // namespace orv
