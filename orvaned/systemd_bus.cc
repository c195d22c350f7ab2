#include "orvaned/systemd_bus.h"

#include <poll.h>
#include <pwd.h>
#include <sys/eventfd.h>
#include <time.h>

#include <cstring>
#include <string>
#include <vector>

#include "orvaned/log.h"

namespace orv::service {

namespace {

int on_reply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
  (*static_cast<ReplyHandler*>(userdata))(reply);
  return 0;
}

void forget_reply_handler(void* userdata) {
  std::unique_ptr<ReplyHandler>(static_cast<ReplyHandler*>(userdata));
}

int on_signal(sd_bus_message* signal, void* userdata, sd_bus_error*) {
  (*static_cast<SignalHandler*>(userdata))(signal);
  return 0;
}

Result<sd_bus*> open_address(const std::string& address, bool bus_client) {
  sd_bus* bus = nullptr;
  int r = sd_bus_new(&bus);
  if (r < 0) return fail_errno("sd_bus_new", -r);
  if ((r = sd_bus_set_address(bus, address.c_str())) >= 0 &&
      (r = sd_bus_set_bus_client(bus, bus_client)) >= 0 && (r = sd_bus_start(bus)) >= 0)
    return bus;
  sd_bus_unref(bus);
  return fail_errno("cannot connect to " + address, -r);
}

// An address may name a bus or a manager's private socket, which answers no Hello: a
// connection whose Hello fails is made again as a direct one.
Result<sd_bus*> open_bus(const std::string& name, bool& bus_client) {
  sd_bus* bus = nullptr;
  bus_client = true;
  if (name == "system" || name == "user") {
    int r = name == "system" ? sd_bus_open_system(&bus) : sd_bus_open_user(&bus);
    if (r < 0) return fail_errno("cannot connect to the " + name + " bus", -r);
    return bus;
  }
  Result<sd_bus*> client = open_address(name, true);
  if (!client) return client;
  const char* unique = nullptr;
  if (sd_bus_get_unique_name(*client, &unique) >= 0) return client;
  sd_bus_flush_close_unref(*client);
  bus_client = false;
  return open_address(name, false);
}

std::uint64_t monotonic_usec() {
  struct timespec now {};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000 +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000;
}

std::string user_name(uid_t uid) {
  struct passwd entry {};
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
    return found->pw_name;
  return uid == 0 ? "root" : std::to_string(uid);
}

}  // namespace

BusMessage new_call(sd_bus* bus, const char* path, const char* interface, const char* member) {
  sd_bus_message* message = nullptr;
  if (sd_bus_message_new_method_call(bus, &message, kManagerService, path, interface, member) < 0)
    return nullptr;
  return BusMessage(message);
}

std::optional<std::string> reply_error(sd_bus_message* reply) {
  if (!reply) return "no reply";
  const sd_bus_error* error = sd_bus_message_get_error(reply);
  if (!error) return std::nullopt;
  return std::string(error->name ? error->name : "error") + ": " +
         (error->message ? error->message : "");
}

// The user the manager runs as: root for the system manager, the user of a user manager.
std::string BusLoop::manager_user(sd_bus* bus) const {
  sd_bus_creds* creds = nullptr;
  const std::uint64_t mask = SD_BUS_CREDS_EUID | SD_BUS_CREDS_UID | SD_BUS_CREDS_AUGMENT;
  int r = bus_client_ ? sd_bus_get_name_creds(bus, kManagerService, mask, &creds)
                      : sd_bus_get_owner_creds(bus, mask, &creds);
  uid_t uid = 0;
  if (r >= 0 && sd_bus_creds_get_euid(creds, &uid) < 0 && sd_bus_creds_get_uid(creds, &uid) < 0)
    uid = 0;
  sd_bus_creds_unref(creds);
  return user_name(uid);
}

BusLoop::~BusLoop() {
  stop();
  if (bus_) sd_bus_flush_close_unref(bus_);
}

void BusLoop::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wake_.get(), &one, sizeof one);
  thread_.join();
}

Status BusLoop::start(const std::string& bus, BusWork ready) {
  wake_ = FileDescriptor(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake_.valid()) return fail_errno("eventfd");
  Result<sd_bus*> opened = open_bus(bus, bus_client_);
  if (!opened) return fail(opened.error());
  bus_ = *opened;
  posted_.push_back(std::move(ready));
  thread_ = std::thread([this] { run(); });
  return {};
}

void BusLoop::post(BusWork work) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    posted_.push_back(std::move(work));
  }
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wake_.get(), &one, sizeof one);
}

void BusLoop::call(sd_bus* bus, BusMessage call, std::chrono::microseconds timeout,
                   ReplyHandler handler) {
  auto owned = std::make_unique<ReplyHandler>(std::move(handler));
  sd_bus_slot* slot = nullptr;
  if (!call || sd_bus_call_async(bus, &slot, call.get(), on_reply, owned.get(),
                                 static_cast<std::uint64_t>(timeout.count())) < 0) {
    (*owned)(nullptr);
    return;
  }
  // The bus frees the slot after the reply (or with the connection), and the handler with it.
  sd_bus_slot_set_destroy_callback(slot, forget_reply_handler);
  owned.release();
  sd_bus_slot_set_floating(slot, 1);
  sd_bus_slot_unref(slot);
}

void BusLoop::follow(sd_bus* bus, const std::string& match, SignalHandler handler) {
  std::string rule = "type='signal'," + match;
  if (bus_client_) rule += std::string(",sender='") + kManagerService + "'";
  add_match(bus, rule, std::move(handler));
}

void BusLoop::follow_manager_arrival(sd_bus* bus, std::function<void()> arrived) {
  if (!bus_client_) return;
  const std::string rule =
      "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
      "member='NameOwnerChanged',arg0='" +
      std::string(kManagerService) + "'";
  add_match(bus, rule, [arrived = std::move(arrived)](sd_bus_message* signal) {
    const char *name = nullptr, *old_owner = nullptr, *new_owner = nullptr;
    if (sd_bus_message_read(signal, "sss", &name, &old_owner, &new_owner) > 0 && *new_owner)
      arrived();
  });
}

void BusLoop::add_match(sd_bus* bus, const std::string& rule, SignalHandler handler) {
  auto& owned = signal_handlers_.emplace_back(std::make_unique<SignalHandler>(std::move(handler)));
  int r = sd_bus_add_match_async(bus, nullptr, rule.c_str(), on_signal, nullptr, owned.get());
  if (r < 0) log_line("cannot follow " + rule + ": " + std::strerror(-r));
}

void BusLoop::run_posted() {
  std::vector<BusWork> work;
  {
    std::lock_guard lock(mutex_);
    work.swap(posted_);
  }
  for (BusWork& item : work)
    item(bus_);
}

void BusLoop::wait_for_events() {
  std::uint64_t until = 0;
  int timeout_ms = -1;
  if (sd_bus_get_timeout(bus_, &until) >= 0 && until != UINT64_MAX) {
    std::uint64_t now = monotonic_usec();
    timeout_ms =
        until <= now
            ? 0
            : static_cast<int>(std::min<std::uint64_t>((until - now + 999) / 1000, 60'000));
  }
  int bus_fd = sd_bus_get_fd(bus_);
  int events = sd_bus_get_events(bus_);
  struct pollfd fds[2] = {{wake_.get(), POLLIN, 0},
                          {bus_fd, static_cast<short>(events < 0 ? 0 : events), 0}};
  ::poll(fds, bus_fd >= 0 ? 2 : 1, timeout_ms);
  std::uint64_t count = 0;
  [[maybe_unused]] ssize_t n = ::read(wake_.get(), &count, sizeof count);
}

void BusLoop::run() {
  bool connected = true;
  while (true) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
    }
    run_posted();
    if (connected) {
      int r = sd_bus_process(bus_, nullptr);
      if (r < 0) {
        log_line(std::string("lost the connection to the manager: ") + std::strerror(-r));
        connected = false;
        if (on_lost_) on_lost_();
      }
      if (r > 0) continue;
    }
    wait_for_events();
  }
}

}  // namespace orv::service
