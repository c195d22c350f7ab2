#include "host/dialog_box.h"

#include <algorithm>

namespace orv::host {

namespace {

constexpr Attr kBoxAttr{};
constexpr Attr kHeaderAttr{.bold = true};
constexpr Attr kFocusAttr{.bold = true, .reverse = true};
constexpr Attr kFieldAttr{.underline = true};

}  // namespace

DialogBox::DialogBox(const DialogRequest& request)
    : header_(request.header), message_(request.message) {
  buttons_.push_back(request.default_button.value_or("OK"));
  button_flags_.push_back(kCFUserNotificationDefaultResponse);
  if (request.alternate_button) {
    buttons_.push_back(*request.alternate_button);
    button_flags_.push_back(kCFUserNotificationAlternateResponse);
  }
  if (request.other_button) {
    buttons_.push_back(*request.other_button);
    button_flags_.push_back(kCFUserNotificationOtherResponse);
  }
  has_field_ = !request.text_field_titles.empty();
  if (has_field_) {
    field_title_ = request.text_field_titles.front();
    focus_ = -1;
  } else if (request.alternate_button) {
    focus_ = 1;  // a confirmation: Enter alone takes the answer that changes nothing
  }
}

void DialogBox::move_focus(int step) {
  int first = has_field_ ? -1 : 0;
  int count = static_cast<int>(buttons_.size()) - first;
  focus_ = first + ((focus_ - first + step) % count + count) % count;
}

DialogResponse DialogBox::answer_with_button(int index) const {
  DialogResponse response;
  response.flags = button_flags_[static_cast<std::size_t>(index)];
  if (has_field_) response.text_field_values = {field_};
  return response;
}

// Esc answers with the cancelling button when there is one, else as a dismissal.
DialogResponse DialogBox::escape_answer() const {
  DialogResponse response;
  response.flags = buttons_.size() > 1 ? kCFUserNotificationAlternateResponse
                                       : kCFUserNotificationCancelResponse;
  return response;
}

DialogResponse DialogBox::answer(int index, std::string text) const {
  if (index < 0 || index >= static_cast<int>(buttons_.size())) return escape_answer();
  DialogResponse response = answer_with_button(index);
  if (has_field_) response.text_field_values = {std::move(text)};
  return response;
}

DialogResponse DialogBox::timed_out() const {
  return DialogResponse{};
}

std::optional<DialogResponse> DialogBox::handle_key(const Key& key) {
  switch (key.code) {
    case KeyCode::Enter:
      return answer_with_button(std::max(focus_, 0));
    case KeyCode::Escape:
      return escape_answer();
    case KeyCode::Tab:
    case KeyCode::Right:
    case KeyCode::Down:
      move_focus(1);
      return std::nullopt;
    case KeyCode::BackTab:
    case KeyCode::Left:
    case KeyCode::Up:
      move_focus(-1);
      return std::nullopt;
    case KeyCode::Backspace:
      if (focus_ == -1 && !field_.empty()) {
        auto points = decode_utf8(field_);
        points.pop_back();
        field_.clear();
        for (char32_t cp : points)
          field_ += encode_utf8(cp);
      }
      return std::nullopt;
    case KeyCode::Char:
      if (focus_ == -1 && key.ch >= 0x20 && key.ch != 0x7F) field_ += encode_utf8(key.ch);
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

void DialogBox::draw(TextGrid& grid) const {
  int width = std::min(grid.width() - 2, 60);
  if (width < 12) width = grid.width();
  int inner = std::max(1, width - 4);
  auto header = wrap_words(header_, inner);
  std::vector<std::string> message;
  if (!message_.empty()) message = wrap_words(message_, inner);

  int height = 2 + static_cast<int>(header.size()) + (message.empty() ? 0 : 1) +
               static_cast<int>(message.size()) + (has_field_ ? 2 : 0) + 2;
  height = std::min(height, grid.height());
  int left = std::max(0, (grid.width() - width) / 2);
  int top = std::max(0, (grid.height() - height) / 2);

  for (int y = top; y < top + height; ++y) {
    grid.put(left, y, std::string(static_cast<std::size_t>(width), ' '), kBoxAttr);
    grid.put(left, y, "│");
    grid.put(left + width - 1, y, "│");
  }
  std::string edge;
  for (int i = 0; i < width - 2; ++i)
    edge += "─";
  grid.put(left, top, "┌" + edge + "┐");
  grid.put(left, top + height - 1, "└" + edge + "┘");

  int y = top + 1;
  for (const auto& line : header)
    grid.put(left + 2, y++, line, kHeaderAttr);
  if (!message.empty()) ++y;
  for (const auto& line : message)
    grid.put(left + 2, y++, line);
  if (has_field_) {
    ++y;
    std::string shown = field_ + (focus_ == -1 ? "_" : "");
    int field_width = inner - display_width(field_title_) - (field_title_.empty() ? 0 : 1);
    int x = left + 2;
    if (!field_title_.empty()) x = grid.put(x, y, field_title_ + " ");
    // The end of a long entry is what the user is typing: keep it in view.
    auto points = decode_utf8(shown);
    while (display_width(shown) > field_width && !points.empty()) {
      points.erase(points.begin());
      shown.clear();
      for (char32_t cp : points)
        shown += encode_utf8(cp);
    }
    grid.put(
        x, y,
        shown + std::string(
                    static_cast<std::size_t>(std::max(0, field_width - display_width(shown))), ' '),
        kFieldAttr);
    ++y;
  }
  int x = left + 2;
  y = top + height - 2;
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    std::string label = "< " + buttons_[i] + " >";
    x = grid.put(x, y, label, static_cast<int>(i) == focus_ ? kFocusAttr : kBoxAttr) + 2;
  }
}

}  // namespace orv::host
