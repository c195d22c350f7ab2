#include "host/terminal_ui.h"

#include <unistd.h>

#include <chrono>
#include <ctime>
#include <memory>

#include "host/browser.h"
#include "host/dialog_box.h"
#include "host/host_texts.h"
#include "host/job_log.h"
#include "host/log_command.h"
#include "host/service_trouble.h"
#include "host/terminal.h"
#include "platform/ipc/messaging_center.h"
#include "platform/runloop/run_loop.h"
#include "platform/ui/class_registry.h"
#include "platform/ui/user_notification.h"

namespace orv::host {

namespace {

// How often the UI looks for a terminal resize while idle: ncurses reports it as a key, and
// no key arrives on standard input when only the window changed.
constexpr double kResizeCheckSeconds = 0.25;
constexpr int kDialogPollMs = 200;
// A request that takes longer than this is worth telling the user about.
constexpr std::chrono::milliseconds kWaitNoticeAfter{500};

// The UI's log view keeps as many lines as one request may bring.
tl::expected<LogPage, LogFailure> fetch_job_log(const std::string& label,
                                                const std::string& after) {
  return fetch_log(label, kMaxLogLines, after);
}

bool quits(const Key& key) {
  return key.is_char('q') || key.is_char(kCtrlC);
}

// Dialogs as modal boxes over the page. present() runs its own key loop, so the main thread
// stays blocked while a dialog is open, as the platform's dialogs block it. Keys typed before
// the dialog appeared are dropped; once the UI is quitting, dialogs close at once, unanswered.
class TerminalPresenter : public DialogPresenter {
 public:
  TerminalPresenter(Terminal& terminal, Browser& browser, const bool& quitting)
      : terminal_(terminal), browser_(browser), quitting_(quitting) {}

  std::optional<DialogResponse> present(const DialogRequest& request) override {
    DialogBox box(request);
    if (quitting_) return box.timed_out();
    using Clock = std::chrono::steady_clock;
    bool expires = request.timeout > 0;
    auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(request.timeout));
    paint(box);
    terminal_.discard_typeahead();
    while (true) {
      if (expires && Clock::now() >= deadline) return answered(request, box.timed_out());
      auto key = terminal_.read_key(kDialogPollMs);
      if (key)
        if (auto answer = box.handle_key(*key)) return answered(request, *answer);
      paint(box);
    }
  }

 private:
  DialogResponse answered(const DialogRequest& request, DialogResponse answer) {
    if (request.alternate_button && answer.flags != kCFUserNotificationDefaultResponse)
      browser_.confirmation_declined();
    return answer;
  }

  void paint(const DialogBox& box) {
    std::string_view keys =
        tr(box.has_field() ? "type the answer  Enter OK  Tab buttons  Esc cancel"
                           : "Tab or arrows choose  Enter answers  Esc cancels");
    TextGrid grid =
        browser_.draw_under_dialog(terminal_.width(), terminal_.height(), std::string(keys));
    box.draw(grid);
    terminal_.paint(grid);
  }

  Terminal& terminal_;
  Browser& browser_;
  const bool& quitting_;
};

class TerminalUi {
 public:
  TerminalUi(const LoadedBundle& bundle, bool utf8) : bundle_(bundle), utf8_(utf8) {}

  int run() {
    auto root = ClassRegistry::shared().createPage(bundle_.principal_class);
    if (!root) return 2;
    Terminal terminal(utf8_);
    terminal_ = &terminal;
    set_reply_wait_observer([this](std::chrono::milliseconds waited) { return waiting(waited); });
    browser_ = std::make_unique<Browser>(root, bundle_.display_name,
                                         BrowserContext{.now_text = local_clock_text,
                                                        .changed = [this] { repaint(); },
                                                        .service_trouble = control_service_trouble,
                                                        .fetch_log = fetch_job_log});
    set_dialog_presenter(std::make_shared<TerminalPresenter>(terminal, *browser_, quitting_));

    auto& loop = RunLoop::main();
    loop.watch_fd(STDIN_FILENO, [this] { read_keys(); });
    auto token = std::make_shared<int>(0);
    auto resize_check = Timer::scheduledTimerWithTimeInterval(
        kResizeCheckSeconds, token, [this] { read_keys(); }, true);
    auto log_follow = Timer::scheduledTimerWithTimeInterval(
        kLogFollowPollMs / 1000.0, token,
        [this] {
          if (browser_->poll_log()) repaint();
        },
        true);
    repaint();
    loop.run();

    resize_check->invalidate();
    log_follow->invalidate();
    loop.unwatch_fd(STDIN_FILENO);
    set_dialog_presenter(nullptr);
    set_reply_wait_observer(nullptr);
    browser_.reset();
    terminal_ = nullptr;
    return 0;
  }

 private:
  // A page drawn for the first time also drops what was typed before it appeared.
  void repaint() {
    if (!terminal_ || !browser_ || quitting_) return;
    bool unseen = browser_->page_unseen();
    terminal_->paint(browser_->draw(terminal_->width(), terminal_->height()));
    if (unseen) terminal_->discard_typeahead();
  }

  void read_keys() {
    bool any = false;
    while (!quitting_) {
      auto key = terminal_->read_key(0);
      if (!key) break;
      any = true;
      if (key->code != KeyCode::Resize) browser_->handle_key(*key);
      if (browser_->quit_requested()) return quit();
    }
    if (any) repaint();
  }

  // Called while a request keeps the main thread waiting: after a moment the status bar says
  // so, and q or Ctrl-C give the request up and end the program. Other keys typed at the
  // frozen screen are dropped.
  bool waiting(std::chrono::milliseconds waited) {
    if (!isMainThread() || !terminal_ || !browser_) return true;
    if (quitting_) return false;
    if (waited >= kWaitNoticeAfter)
      terminal_->paint(browser_->draw_waiting_for_service(terminal_->width(), terminal_->height()));
    while (auto key = terminal_->read_key(0))
      if (quits(*key)) {
        quit();
        return false;
      }
    return true;
  }

  void quit() {
    quitting_ = true;
    RunLoop::main().stop();
  }

  const LoadedBundle& bundle_;
  bool utf8_;
  Terminal* terminal_ = nullptr;
  std::unique_ptr<Browser> browser_;
  bool quitting_ = false;
};

}  // namespace

int run_terminal_ui(const LoadedBundle& bundle, bool utf8) {
  return TerminalUi(bundle, utf8).run();
}

}  // namespace orv::host
