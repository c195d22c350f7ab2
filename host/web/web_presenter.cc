#include "host/web/web_presenter.h"

#include "host/dialog_box.h"
#include "host/web/page_model.h"

namespace orv::host::web {

std::optional<DialogResponse> WebPresenter::present(const DialogRequest& request) {
  DialogBox box(request);
  if (state_.closed()) return box.timed_out();
  // A dialog without a time-out waits a year, which is as long as anyone will.
  auto deadline = WebState::Clock::now() + std::chrono::hours(24 * 365);
  if (request.timeout > 0)
    deadline = WebState::Clock::now() + std::chrono::duration_cast<WebState::Clock::duration>(
                                            std::chrono::duration<double>(request.timeout));
  std::uint64_t id = state_.open_dialog(dialog_json(request, box));
  auto answer = state_.wait_answer(id, deadline);
  state_.close_dialog();
  DialogResponse response = answer ? box.answer(answer->button, answer->text) : box.timed_out();
  if (request.alternate_button && response.flags != kCFUserNotificationDefaultResponse)
    browser_.confirmation_declined();
  return response;
}

}  // namespace orv::host::web
