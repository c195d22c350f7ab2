// A modal dialog drawn over the page: header, message, an optional text field and the
// buttons. The state and its key handling are plain values; the presenter only feeds keys in
// and paints the grid. The focus starts on the text field when there is one, on the cancelling
// button of a confirmation, and on the only button otherwise.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/key.h"
#include "host/text_grid.h"
#include "platform/ui/user_notification.h"

namespace orv::host {

class DialogBox {
 public:
  explicit DialogBox(const DialogRequest& request);

  // Feeds one key; returns the answer once the dialog is closed by it.
  std::optional<DialogResponse> handle_key(const Key& key);
  // The answer of a pointer: button `index` pressed with the field holding `text`; an index
  // that names no button answers as Esc does.
  DialogResponse answer(int index, std::string text) const;
  // The answer when the dialog closes by itself (its time-out).
  DialogResponse timed_out() const;

  // Draws the box centred over what the grid already shows.
  void draw(TextGrid& grid) const;

  const std::vector<std::string>& buttons() const { return buttons_; }
  int focus() const { return focus_; }
  const std::string& field_text() const { return field_; }
  bool has_field() const { return has_field_; }

 private:
  // Focus positions: the text field (when there is one) is -1, buttons 0..n-1.
  void move_focus(int step);
  DialogResponse answer_with_button(int index) const;
  DialogResponse escape_answer() const;

  std::string header_;
  std::string message_;
  std::vector<std::string> buttons_;
  std::vector<CFOptionFlags> button_flags_;
  bool has_field_ = false;
  std::string field_title_;
  std::string field_;
  int focus_ = 0;
};

}  // namespace orv::host
