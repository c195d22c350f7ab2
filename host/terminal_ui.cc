#include "host/terminal_ui.h"

#include <unistd.h>

#include <chrono>
#include <ctime>
#include <memory>

#include "host/browser.h"
#include "host/dialog_box.h"
#include "host/terminal.h"
#include "platform/runloop/run_loop.h"
#include "platform/ui/class_registry.h"
#include "platform/ui/user_notification.h"

namespace orv::host {

namespace {

// How often the UI looks for a terminal resize while idle: ncurses reports it as a key, and
// no key arrives on standard input when only the window changed.
constexpr double kResizeCheckSeconds = 0.25;
constexpr int kDialogPollMs = 200;

std::string clock_text() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16] = {};
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

class TerminalUi;

// Dialogs as modal boxes over the page. present() runs its own key loop, so the main thread
// stays blocked while a dialog is open, as the platform's dialogs block it.
class TerminalPresenter : public DialogPresenter {
 public:
  TerminalPresenter(Terminal& terminal, std::function<TextGrid(int, int)> background)
      : terminal_(terminal), background_(std::move(background)) {}

  std::optional<DialogResponse> present(const DialogRequest& request) override {
    DialogBox box(request);
    using Clock = std::chrono::steady_clock;
    bool expires = request.timeout > 0;
    auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(request.timeout));
    while (true) {
      TextGrid grid = background_(terminal_.width(), terminal_.height());
      box.draw(grid);
      terminal_.paint(grid);
      if (expires && Clock::now() >= deadline) return box.timed_out();
      auto key = terminal_.read_key(kDialogPollMs);
      if (!key) continue;
      if (auto answer = box.handle_key(*key)) return answer;
    }
  }

 private:
  Terminal& terminal_;
  std::function<TextGrid(int, int)> background_;
};

class TerminalUi {
 public:
  explicit TerminalUi(const LoadedBundle& bundle) : bundle_(bundle) {}

  int run() {
    auto root = ClassRegistry::shared().createPage(bundle_.principal_class);
    if (!root) return 2;
    Terminal terminal;
    terminal_ = &terminal;
    browser_ =
        std::make_unique<Browser>(root, bundle_.display_name, clock_text, [this] { repaint(); });
    set_dialog_presenter(std::make_shared<TerminalPresenter>(
        terminal, [this](int w, int h) { return browser_->draw(w, h); }));

    auto& loop = RunLoop::main();
    loop.watch_fd(STDIN_FILENO, [this] { read_keys(); });
    auto token = std::make_shared<int>(0);
    auto resize_check = Timer::scheduledTimerWithTimeInterval(
        kResizeCheckSeconds, token, [this] { read_keys(); }, true);
    repaint();
    loop.run();

    resize_check->invalidate();
    loop.unwatch_fd(STDIN_FILENO);
    set_dialog_presenter(nullptr);
    browser_.reset();
    terminal_ = nullptr;
    return 0;
  }

 private:
  void repaint() {
    if (terminal_ && browser_)
      terminal_->paint(browser_->draw(terminal_->width(), terminal_->height()));
  }

  void read_keys() {
    bool any = false;
    while (auto key = terminal_->read_key(0)) {
      any = true;
      if (key->code != KeyCode::Resize) browser_->handle_key(*key);
      if (browser_->quit_requested()) {
        RunLoop::main().stop();
        return;
      }
    }
    if (any) repaint();
  }

  const LoadedBundle& bundle_;
  Terminal* terminal_ = nullptr;
  std::unique_ptr<Browser> browser_;
};

}  // namespace

int run_terminal_ui(const LoadedBundle& bundle) {
  return TerminalUi(bundle).run();
}

}  // namespace orv::host
