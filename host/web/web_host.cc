#include "host/web/web_host.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <ctime>
#include <memory>
#include <thread>

#include "host/browser.h"
#include "host/command_line.h"
#include "host/job_log.h"
#include "host/service_trouble.h"
#include "host/web/page_model.h"
#include "host/web/web_presenter.h"
#include "host/web/web_server.h"
#include "platform/ipc/messaging_center.h"
#include "platform/runloop/run_loop.h"
#include "platform/ui/class_registry.h"

namespace orv::host {

namespace {

using web::Reply;

// How long a request waits for the page thread before it answers with the state as it is
// (the event stream brings the rest).
constexpr std::chrono::seconds kActionWait{10};

// SIGINT and SIGTERM, blocked in every thread and taken by one that waits for them.
sigset_t stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

class WebHost {
 public:
  explicit WebHost(const LoadedBundle& bundle) : bundle_(bundle) {}

  int run(const std::string& listen, std::FILE* out, std::FILE* err);

 private:
  Reply act(const Value& request);
  Reply back(const Value& request);
  Reply answer(const Value& request);
  Reply log(const std::string& after);
  // Runs `work` on the page thread unless another action or a dialog is under way; answers
  // with the state once it is done or waits for a dialog's answer. `work` returns false when
  // the request no longer fits the page.
  // `page_version`: the page the browser has.
  Reply on_page_thread(std::function<bool()> work, std::uint64_t page_version);
  void publish() { state_.set_page(web::page_json(*browser_), web::log_label(*browser_)); }
  // A page rebuilt by the page's own timer goes out at once; one rebuilt during an action goes
  // out with the action's outcome, once.
  void rebuilt() {
    if (!acting_) publish();
  }
  void wait_for_stop_signal();

  const LoadedBundle& bundle_;
  web::WebState state_;
  std::unique_ptr<Browser> browser_;
  bool acting_ = false;  // page thread only
};

std::optional<RowKind> row_kind(std::string_view name) {
  if (name == "switch") return RowKind::Switch;
  if (name == "button") return RowKind::Button;
  if (name == "link") return RowKind::Link;
  return std::nullopt;
}

Reply bad_request(const char* why) {
  return {400, std::string(R"({"error":")") + why + "\"}"};
}

// The page version the browser has, so the answer brings only what changed since.
std::uint64_t known_page(const Value& request) {
  return static_cast<std::uint64_t>(
      std::max<std::int64_t>(request["page_version"].read_int64(), 0));
}

Reply WebHost::act(const Value& request) {
  auto kind = row_kind(request["kind"].read_string().value_or(""));
  const std::string* id = request["id"].if_string();
  std::int64_t depth = request["depth"].read_int64();
  if (!kind || !id || depth < 1) return bad_request("act takes depth, kind and id");
  return on_page_thread(
      [this, kind = *kind, id = *id, depth] {
        return browser_->act_on(static_cast<std::size_t>(depth), kind, id);
      },
      known_page(request));
}

Reply WebHost::back(const Value& request) {
  std::int64_t depth = request["depth"].read_int64();
  if (depth < 1) return bad_request("back takes depth");
  return on_page_thread(
      [this, depth] {
        browser_->back_to(static_cast<std::size_t>(depth));
        return true;
      },
      known_page(request));
}

Reply WebHost::answer(const Value& request) {
  auto id = static_cast<std::uint64_t>(request["dialog"].read_int64());
  const Value& button = request["button"];
  if (!button.is_integer()) return bad_request("answer takes dialog, button and text");
  std::string text(request["text"].read_string().value_or(""));
  if (!state_.answer(id, {button.read_int32(), std::move(text)}))
    return {409, state_.snapshot(known_page(request)).json};
  return {200, state_.wait_settled(id, kActionWait, known_page(request)).json};
}

// Served on the HTTP thread, so the pages go on while the control service answers.
Reply WebHost::log(const std::string& after) {
  std::string label = state_.log_label();
  if (label.empty()) return {404, R"({"error":"no job page is open"})"};
  return {200,
          web::log_json(label,
                        fetch_log(label, after.empty() ? kDefaultLogLines : kMaxLogLines, after))};
}

Reply WebHost::on_page_thread(std::function<bool()> work, std::uint64_t page_version) {
  if (!state_.begin_action()) return {409, state_.snapshot(page_version).json};
  auto refused = std::make_shared<std::atomic<bool>>(false);
  RunLoop::main().dispatch_async([this, work = std::move(work), refused] {
    acting_ = true;
    if (!work()) *refused = true;
    acting_ = false;
    publish();
    state_.end_action();
  });
  auto now = state_.wait_settled(0, kActionWait, page_version);
  return {*refused ? 409 : 200, std::move(now.json)};
}

void WebHost::wait_for_stop_signal() {
  sigset_t set = stop_signals();
  int signal = 0;
  sigwait(&set, &signal);
  state_.close();
  RunLoop::main().dispatch_async([] { RunLoop::main().stop(); });
}

int WebHost::run(const std::string& listen, std::FILE* out, std::FILE* err) {
  auto address = web::parse_listen_address(listen.empty() ? ":0" : listen);
  auto token = web::new_token();
  if (!address || !token) {
    print_error(err, (!address ? address.error() : token.error()).message);
    return kExitUsage;
  }
  auto root = ClassRegistry::shared().createPage(bundle_.principal_class);
  if (!root) {
    print_error(err, "the page class " + bundle_.principal_class + " could not be created");
    return kExitUsage;
  }
  sigset_t signals = stop_signals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before any thread starts
  // A browser that closes its connection while the server writes must not end the program.
  std::signal(SIGPIPE, SIG_IGN);
  web::WebServer server(state_, {.act = [this](const Value& r) { return act(r); },
                                 .back = [this](const Value& r) { return back(r); },
                                 .answer = [this](const Value& r) { return answer(r); },
                                 .log = [this](const std::string& after) { return log(after); }});
  auto bound = server.bind(*address);
  if (!bound) {
    print_error(err, bound.error().message);
    return kExitFailed;
  }
  // The address goes out first: a browser's requests wait in the socket's backlog while the
  // list is first built, and a stop signal gives up a control service that does not answer.
  set_reply_wait_observer([this](std::chrono::milliseconds) { return !state_.closed(); });
  std::thread signals_thread([this] { wait_for_stop_signal(); });
  std::fprintf(out, "Orvane web: http://%s/?token=%s\n", web::authority(*bound).c_str(),
               token->c_str());
  std::fflush(out);
  browser_ = std::make_unique<Browser>(root, bundle_.display_name,
                                       BrowserContext{.now_text = local_clock_text,
                                                      .changed = [this] { rebuilt(); },
                                                      .service_trouble = control_service_trouble});
  set_dialog_presenter(std::make_shared<web::WebPresenter>(state_, *browser_));
  publish();
  server.serve(web::RequestGuard(*token, *bound));

  RunLoop::main().run();

  signals_thread.join();
  server.stop();
  set_reply_wait_observer(nullptr);
  set_dialog_presenter(nullptr);
  browser_.reset();
  return kExitOk;
}

}  // namespace

int run_web_host(const LoadedBundle& bundle, const std::string& listen, std::FILE* out,
                 std::FILE* err) {
  return WebHost(bundle).run(listen, out, err);
}

}  // namespace orv::host
