// The page of one job, opened from a job row of the root page. Built from the daemon record in
// the opening specifier's "detail" property alone: the "Alive", "RunAtLoad" and "KeepAlive"
// switches, then sections for the long description, label, pid, property-list path, program and
// user. Flipping "Alive" starts or stops the job and then re-reads it from the control service.
#pragma once

#include <memory>
#include <string_view>

#include "platform/ui/class_registry.h"
#include "platform/ui/list_controller.h"
#include "platform/value/value.h"

class OrvaneDetailController : public orv::ListController {
 public:
  static constexpr std::string_view kClassName = "OrvaneDetailController";

  // "getAlive:", "setAlive:specifier:", "getRunAtLoad:", "setRunAtLoad:specifier:",
  // "getKeepAlive:", "setKeepAlive:specifier:".
  static orv::PageMethods methods();

  std::string_view className() const override { return kClassName; }

  // Records the choice under the job's label in "usr_pol" (before sending, whatever the
  // outcome), then sends "startOne". False without a client (nothing recorded), without a
  // reply, or with a negative status.
  bool startOne(bool isStart);
  orv::Value getAlive(orv::Specifier& specifier);
  // Puts the first record with the page's label from a fresh job list into the specifier's
  // "detail" (keeping the old one when the job is gone or no list came) and rebuilds the page.
  void updateCell();
  // Starts, or stops unless the job is protected (refused) or a system job the user declines
  // to stop; refreshes the page afterwards in every case.
  void setAlive(const orv::Value& value, orv::Specifier& specifier);
  // The launch options only show the record: the setters change the flag until the next build.
  orv::Value getRunAtLoad(orv::Specifier& specifier);
  void setRunAtLoad(const orv::Value& value, orv::Specifier& specifier);
  orv::Value getKeepAlive(orv::Specifier& specifier);
  void setKeepAlive(const orv::Value& value, orv::Specifier& specifier);

  std::shared_ptr<orv::SpecifierList> specifiers() override;

 private:
  // The record in the opening specifier's "detail" property, or null.
  orv::Value record() const;
  void stop_after_guard(const orv::Value& label);

  bool _Alive = false;
  bool _RunAtLoad = false;
  bool _KeepAlive = false;
};
