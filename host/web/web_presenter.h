// Dialogs in the web page. The page thread shows a dialog by publishing it and then blocks,
// as the platform's dialogs block it, until the browser's answer arrives or the dialog's
// time-out passes; the answer reaches it directly through the shared state.
#pragma once

#include "host/browser.h"
#include "host/web/web_state.h"
#include "platform/ui/user_notification.h"

namespace orv::host::web {

class WebPresenter : public DialogPresenter {
 public:
  WebPresenter(WebState& state, Browser& browser) : state_(state), browser_(browser) {}

  std::optional<DialogResponse> present(const DialogRequest& request) override;

 private:
  WebState& state_;
  Browser& browser_;
};

}  // namespace orv::host::web
