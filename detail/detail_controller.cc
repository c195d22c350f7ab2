#include "detail/detail_controller.h"

#include <optional>
#include <string>

#include "services/control_service.h"
#include "services/descriptions.h"
#include "services/dialogs.h"
#include "services/localization.h"
#include "services/protected_jobs.h"
#include "services/settings.h"

using orv::Specifier;
using orv::SpecifierList;
using orv::Value;

static_assert(sizeof(bool) == 1, "the page's three flags are one byte each");

namespace {

constexpr std::string_view kMultilineCellClass = "OrvaneMultilineCell";

std::optional<std::string> string_of(const Value& value) {
  if (auto text = value.read_string()) return std::string(*text);
  return std::nullopt;
}

// A number's decimal text; no title at all when the record holds no number there.
std::optional<std::string> number_title(const Value& value) {
  if (!value.is_number()) return std::nullopt;
  return value.number_text();
}

// launchd also accepts a dictionary of conditions for "KeepAlive": the job is then kept alive
// under those conditions, which the switch shows as on.
bool launch_option_on(const Value& value) {
  return value.is_dictionary() || value.read_bool();
}

// The arguments joined by single spaces, unquoted; elements that are not strings are left out.
// Without "ProgramArguments", the "Program" string; else nothing.
std::string program_text(const Value& record) {
  if (const Value* arguments = record.as_dictionary().find("ProgramArguments")) {
    std::string text;
    bool first = true;
    for (const Value& argument : arguments->as_array()) {
      auto piece = argument.read_string();
      if (!piece) continue;
      if (!first) text += ' ';
      text += *piece;
      first = false;
    }
    return text;
  }
  return string_of(record["Program"]).value_or("");
}

std::string user_text(const Value& record) {
  return string_of(record["User"]).value_or("mobile");
}

void record_choice(std::string_view label, bool is_start) {
  setPrefEntry(kUserPolicyKey, label, Value(is_start));
}

}  // namespace

orv::PageMethods OrvaneDetailController::methods() {
  using Page = OrvaneDetailController;
  orv::MethodTable<Page> table;
  table.getter("getAlive:", &Page::getAlive)
      .setter("setAlive:specifier:", &Page::setAlive)
      .getter("getRunAtLoad:", &Page::getRunAtLoad)
      .setter("setRunAtLoad:specifier:", &Page::setRunAtLoad)
      .getter("getKeepAlive:", &Page::getKeepAlive)
      .setter("setKeepAlive:specifier:", &Page::setKeepAlive);
  return std::move(table).build();
}

Value OrvaneDetailController::record() const {
  if (!specifier()) return Value(orv::Dictionary{});
  const Value& detail = specifier()->propertyForKey("detail");
  // Anything but a dictionary is read as an empty record, so the page is still built.
  return detail.is_dictionary() ? detail : Value(orv::Dictionary{});
}

std::shared_ptr<SpecifierList> OrvaneDetailController::specifiers() {
  const Value job = record();
  auto self = shared_from_this();
  auto rows = std::make_shared<SpecifierList>();
  _specifiers = rows;

  auto add = [&](std::optional<std::string> name, int cell, std::string set = {},
                 std::string get = {}) {
    rows->push_back(Specifier::preferenceSpecifierNamed(std::move(name), self, std::move(set),
                                                        std::move(get), "", cell, ""));
    return rows->back();
  };
  auto add_switch = [&](std::string name, std::string set, std::string get, bool enabled) {
    add(std::move(name), orv::PSSwitchCell, std::move(set), std::move(get))
        ->setProperty(Value(enabled), orv::PSEnabledKey);
  };
  auto add_multiline = [&](const Value& content) {
    auto row = add(std::string(), orv::PSStaticTextCell);
    row->setProperty(Value(kMultilineCellClass), orv::PSCellClassKey);
    row->setProperty(content, "content");
  };

  const Value& label = job["Label"];
  const Value& pid = job["Pid"];
  // The flags are set before their switches exist, so the first getter calls see this build.
  _Alive = pid.read_int32() >= 0;
  add_switch("Alive", "setAlive:specifier:", "getAlive:", true);
  _RunAtLoad = launch_option_on(job["RunAtLoad"]);
  add_switch("RunAtLoad", "setRunAtLoad:specifier:", "getRunAtLoad:", false);
  _KeepAlive = launch_option_on(job["KeepAlive"]);
  add_switch("KeepAlive", "setKeepAlive:specifier:", "getKeepAlive:", false);

  add(std::string(), orv::PSGroupCell);
  add_multiline(Value(get_desc(label.read_string().value_or(""), true,
                               job["Description"].read_string().value_or(""))));
  add("Label", orv::PSGroupCell);
  add(string_of(label), orv::PSStaticTextCell);
  add("Pid", orv::PSGroupCell);
  add(number_title(pid), orv::PSStaticTextCell);
  if (const Value* plist = job.as_dictionary().find("Plist")) {
    add("Plist", orv::PSGroupCell);
    add_multiline(*plist);
  }
  add("Program", orv::PSGroupCell);
  add_multiline(Value(program_text(job)));
  add("User", orv::PSGroupCell);
  add(user_text(job), orv::PSStaticTextCell);
  return _specifiers;
}

Value OrvaneDetailController::getAlive(Specifier&) {
  return Value(_Alive);
}

void OrvaneDetailController::setAlive(const Value& value, Specifier&) {
  if (value.read_bool()) {
    // Starting is never confirmed, whatever the job.
    startOne(true);
    _Alive = true;
  } else {
    stop_after_guard(record()["Label"]);
  }
  updateCell();
}

void OrvaneDetailController::stop_after_guard(const Value& label) {
  const std::string_view text = label.read_string().value_or("");
  if (is_protected_job(text)) {
    alert("Alert", localize("$STOPKEY"), kAlertTimeout, false, nullptr);
    return;
  }
  if (is_system_job(text)) {
    // The completion keeps the page alive until the user has answered.
    auto self = std::static_pointer_cast<OrvaneDetailController>(shared_from_this());
    alert("Alert", localize("$STOPSYS"), kAlertTimeout, true, [self](bool confirmed) {
      if (confirmed) {
        self->startOne(false);
        self->_Alive = false;
      }
      self->updateCell();
    });
    return;
  }
  startOne(false);
  _Alive = false;
}

bool OrvaneDetailController::startOne(bool isStart) {
  auto center = get_ipc();
  if (!center) return false;
  const Value job = record();
  // The choice is kept before the request goes out, whatever the service answers.
  if (auto label = job["Label"].read_string()) record_choice(*label, isStart);
  return send_start_one(*center, job, isStart);
}

void OrvaneDetailController::updateCell() {
  const Value label = record()["Label"];
  const Value daemons = getAllDaemons();
  if (label.is_string() && specifier()) {
    for (const Value& candidate : daemons.as_array()) {
      if (candidate["Label"] == label) {
        specifier()->setProperty(candidate, "detail");
        break;
      }
    }
  }
  reloadSpecifiers();
}

Value OrvaneDetailController::getRunAtLoad(Specifier&) {
  return Value(_RunAtLoad);
}
void OrvaneDetailController::setRunAtLoad(const Value& value, Specifier&) {
  _RunAtLoad = value.read_bool();
}
Value OrvaneDetailController::getKeepAlive(Specifier&) {
  return Value(_KeepAlive);
}
void OrvaneDetailController::setKeepAlive(const Value& value, Specifier&) {
  _KeepAlive = value.read_bool();
}
