// Classes and methods by name. A plugin registers its page and cell classes when it is loaded
// (from a static registrar in the plugin); hosts and specifiers then find them by name, the way
// the platform resolves class names and selectors at run time.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/list_controller.h"
#include "platform/ui/table_cell.h"
#include "platform/value/value.h"

namespace orv {

// Type-erased methods of a page class, reached by selector name.
struct PageMethods {
  using Getter = std::function<Value(ListController&, Specifier&)>;
  using Setter = std::function<void(ListController&, const Value&, Specifier&)>;
  using Action = std::function<void(ListController&, Specifier*)>;
  std::vector<std::pair<std::string, Getter>> getters;
  std::vector<std::pair<std::string, Setter>> setters;
  std::vector<std::pair<std::string, Action>> actions;
};

// Builds a PageMethods table from member functions of a page class C.
template <class C>
class MethodTable {
 public:
  MethodTable& getter(std::string selector, Value (C::*method)(Specifier&)) {
    methods_.getters.emplace_back(std::move(selector),
                                  [method](ListController& self, Specifier& s) {
                                    return (static_cast<C&>(self).*method)(s);
                                  });
    return *this;
  }
  MethodTable& setter(std::string selector, void (C::*method)(const Value&, Specifier&)) {
    methods_.setters.emplace_back(std::move(selector),
                                  [method](ListController& self, const Value& v, Specifier& s) {
                                    (static_cast<C&>(self).*method)(v, s);
                                  });
    return *this;
  }
  // An action that takes nothing ("onRefresh").
  MethodTable& action(std::string selector, void (C::*method)()) {
    methods_.actions.emplace_back(std::move(selector), [method](ListController& self, Specifier*) {
      (static_cast<C&>(self).*method)();
    });
    return *this;
  }
  // An action that takes the row's specifier ("onTap:").
  MethodTable& action(std::string selector, void (C::*method)(Specifier&)) {
    methods_.actions.emplace_back(std::move(selector),
                                  [method](ListController& self, Specifier* s) {
                                    if (s) (static_cast<C&>(self).*method)(*s);
                                  });
    return *this;
  }
  PageMethods build() && { return std::move(methods_); }
  // For a chain of calls on a temporary, which yields an lvalue:
  // MethodTable<P>().getter(...).build().
  PageMethods build() & { return methods_; }

 private:
  PageMethods methods_;
};

class ClassRegistry {
 public:
  using PageFactory = std::function<std::shared_ptr<ListController>()>;
  using CellFactory = std::function<std::unique_ptr<TableCell>()>;

  static ClassRegistry& shared();

  // `bundle_path` is the logical bundle directory the class's resources live in.
  void registerPage(std::string name, PageFactory factory, PageMethods methods,
                    std::string bundle_path = {});
  void registerCell(std::string name, CellFactory factory);
  void unregister(std::string_view name);

  bool hasPage(std::string_view name) const;
  bool hasCell(std::string_view name) const;
  // Constructs the page, sets its bundle path, calls init(); null for an unknown name.
  std::shared_ptr<ListController> createPage(std::string_view name) const;
  std::unique_ptr<TableCell> createCell(std::string_view name) const;

  const PageMethods::Getter* getter(std::string_view page, std::string_view selector) const;
  const PageMethods::Setter* setter(std::string_view page, std::string_view selector) const;
  const PageMethods::Action* action(std::string_view page, std::string_view selector) const;

  struct Impl;
  ClassRegistry();
  ~ClassRegistry();

 private:
  std::unique_ptr<Impl> impl_;
};

// Registers a class at load time: `static orv::Registrar r([]{ ... });` in a plugin source.
struct Registrar {
  explicit Registrar(const std::function<void()>& register_classes) { register_classes(); }
};

}  // namespace orv
