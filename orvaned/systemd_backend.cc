#include "orvaned/systemd_backend.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include "orvaned/log.h"
#include "orvaned/systemd_replies.h"

namespace orv::service {

namespace {

// The manager answers a listing or a property read at once; this only bounds a stuck one.
constexpr std::chrono::seconds kQueryTimeout{25};
constexpr std::chrono::seconds kLoadTimeout{30};
constexpr std::size_t kMaxFetchesInFlight = 64;
// The system manager's own socket, which a root client may use instead of the system bus.
constexpr std::string_view kSystemManagerPrivateAddress = "unix:path=/run/systemd/private";

std::string manager_signal(const char* member) {
  return std::string("path='") + kManagerPath + "',interface='" + kManagerInterface + "',member='" +
         member + "'";
}

}  // namespace

struct SystemdBackend::JobWait {
  std::mutex mutex;
  std::condition_variable ended;
  std::optional<std::string> result;  // "done", or what went wrong

  void finish(std::string outcome) {
    std::lock_guard lock(mutex);
    if (!result) result = std::move(outcome);
    ended.notify_all();
  }
};

struct SystemdBackend::LoadRound {
  std::uint64_t generation = 0;
  std::vector<ListedUnit> loaded;
  std::map<std::string, ListedUnit> files;
  int replies = 0;
};

SystemdBackend::SystemdBackend(Settings settings)
    : settings_(std::move(settings)), protection_(settings_.protected_units) {}

Status SystemdBackend::start() {
  lost_ = FileDescriptor(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!lost_.valid()) return fail_errno("eventfd");
  loop_.set_on_lost([this] { on_lost(); });
  if (Status started = loop_.start(settings_.bus, [this](sd_bus* bus) { begin(bus); }); !started)
    return started;
  std::unique_lock lock(load_mutex_);
  if (!loaded_.wait_for(lock, kLoadTimeout, [&] { return load_done_ || load_failure_; }))
    return fail("the manager's units did not load in time");
  if (load_failure_) return fail(*load_failure_);
  return {};
}

JobStatus SystemdBackend::start_job(std::string_view label) {
  return run_job(label, true);
}

JobStatus SystemdBackend::stop_job(std::string_view label) {
  return run_job(label, false);
}

JobStatus SystemdBackend::run_job(std::string_view label, bool start) {
  const std::string verb = start ? "start" : "stop";
  std::optional<UnitState> unit = cache_.find(label);
  if (!unit) {
    log_line("cannot " + verb + " " + std::string(label) + ": no such unit");
    return JobStatus::UnknownLabel;
  }
  if (!start) {
    if (auto why = protection_.refusal(*unit)) {
      log_line("refusing to stop " + unit->name + ": " + *why);
      return JobStatus::Refused;
    }
  }
  auto wait = std::make_shared<JobWait>();
  loop_.post(
      [this, wait, name = unit->name, start](sd_bus* bus) { enqueue_job(bus, wait, name, start); });
  std::unique_lock lock(wait->mutex);
  if (!wait->ended.wait_for(lock, settings_.job_timeout,
                            [&] { return wait->result.has_value(); })) {
    log_line("the " + verb + " of " + unit->name + " did not end in time");
    loop_.post(
        [this, wait](sd_bus*) { std::erase_if(jobs_, [&](auto& j) { return j.second == wait; }); });
    return JobStatus::TimedOut;
  }
  if (*wait->result == "done") return JobStatus::Ok;
  log_line("the " + verb + " of " + unit->name + " failed: " + *wait->result);
  return JobStatus::JobFailed;
}

// The system manager's units are in the system journal; every other manager (the user bus, or an
// address other than the system manager's own private socket) is taken for a user manager, whose
// units the journal records by their user unit fields.
JournalPlace SystemdBackend::journal_place() const {
  const bool system = settings_.bus == "system" || settings_.bus == kSystemManagerPrivateAddress;
  if (system) return {JournalPlace::Kind::System, {}, false};
  return {JournalPlace::Kind::User, {}, true};
}

LogPage SystemdBackend::read_log(const LogQuery& query) const {
  if (!cache_.find(query.label)) return {JobStatus::UnknownLabel, {}, {}};
  Result<LogPage> page = read_journal(query.label, query, journal_place());
  if (page) return std::move(*page);
  log_line("cannot read the journal of " + query.label + ": " + page.error().message);
  return {JobStatus::NoLog, {}, {}};
}

void SystemdBackend::begin(sd_bus* bus) {
  cache_.set_default_user(loop_.manager_user(bus));
  follow_manager(bus);
  subscribe(bus);
  find_own_unit(bus);
}

void SystemdBackend::subscribe(sd_bus* bus) {
  BusLoop::call(bus, new_call(bus, kManagerPath, kManagerInterface, "Subscribe"), kQueryTimeout,
                [](sd_bus_message* reply) {
                  if (auto error = reply_error(reply))
                    log_line("cannot subscribe to the manager's signals: " + *error);
                });
}

void SystemdBackend::follow_manager(sd_bus* bus) {
  loop_.follow(bus, manager_signal("JobRemoved"),
               [this](sd_bus_message* signal) { on_job_removed(signal); });
  loop_.follow(bus, manager_signal("UnitNew"),
               [this, bus](sd_bus_message* signal) { on_unit_new(bus, signal); });
  loop_.follow(bus, manager_signal("UnitRemoved"),
               [this](sd_bus_message* signal) { on_unit_removed(signal); });
  loop_.follow(bus, manager_signal("Reloading"), [this, bus](sd_bus_message* signal) {
    int active = 1;
    if (sd_bus_message_read_basic(signal, 'b', &active) > 0 && !active) load(bus);
  });
  loop_.follow(bus,
               std::string("interface='") + kPropertiesInterface +
                   "',member='PropertiesChanged',path_namespace='" + kUnitPathPrefix + "'",
               [this, bus](sd_bus_message* signal) { on_properties_changed(bus, signal); });
  // A manager that comes back (re-executed, or restarted) knows nothing of the old one's
  // subscribers, and its units may have changed meanwhile.
  loop_.follow_manager_arrival(bus, [this, bus] {
    log_line("the manager is back on the bus; loading its units again");
    subscribe(bus);
    load(bus);
  });
}

// The service's own unit is asked for before the units load, so it is known before the first
// client can ask for a stop.
void SystemdBackend::find_own_unit(sd_bus* bus) {
  BusMessage call = new_call(bus, kManagerPath, kManagerInterface, "GetUnitByPID");
  const auto pid = static_cast<std::uint32_t>(::getpid());
  if (call) sd_bus_message_append_basic(call.get(), 'u', &pid);
  BusLoop::call(bus, std::move(call), kQueryTimeout, [this, bus](sd_bus_message* reply) {
    const char* path = nullptr;
    if (!reply_error(reply) && sd_bus_message_read_basic(reply, 'o', &path) > 0)
      protection_.set_own_unit(path);
    load(bus);
  });
}

void SystemdBackend::load(sd_bus* bus) {
  loaded_by_reading_.clear();
  auto round = std::make_shared<LoadRound>();
  round->generation = ++load_generation_;
  BusLoop::call(bus, new_call(bus, kManagerPath, kManagerInterface, "ListUnits"), kQueryTimeout,
                [this, bus, round](sd_bus_message* reply) {
                  std::optional<std::string> error = reply_error(reply);
                  if (!error && !read_unit_list(reply, round->loaded)) error = "malformed reply";
                  if (error) {
                    log_line("cannot list the manager's units: " + *error);
                    std::lock_guard lock(load_mutex_);
                    if (!load_done_) load_failure_ = "cannot list the manager's units: " + *error;
                    loaded_.notify_all();
                    return;
                  }
                  if (++round->replies == 2) finish_load(bus, *round);
                });
  BusLoop::call(bus, new_call(bus, kManagerPath, kManagerInterface, "ListUnitFiles"), kQueryTimeout,
                [this, bus, round](sd_bus_message* reply) {
                  std::optional<std::string> error = reply_error(reply);
                  if (!error && !read_unit_file_list(reply, round->files))
                    error = "malformed reply";
                  if (error) log_line("cannot list the manager's unit files: " + *error);
                  if (++round->replies == 2) finish_load(bus, *round);
                });
}

void SystemdBackend::finish_load(sd_bus* bus, LoadRound& round) {
  if (round.generation != load_generation_) return;  // a later reload is on its way
  std::vector<ListedUnit> units = std::move(round.loaded);
  for (ListedUnit& unit : units) {
    auto file = round.files.find(unit.name);
    if (file == round.files.end()) continue;
    unit.file_path = file->second.file_path;
    unit.unit_file_state = file->second.unit_file_state;
    round.files.erase(file);
  }
  for (auto& [name, unit] : round.files)
    units.push_back(std::move(unit));
  cache_.replace(units);
  listed_ = true;
  for (const ListedUnit& unit : units) {
    fetch_properties(bus, unit.object_path, kUnitInterface);
    fetch_properties(bus, unit.object_path, kServiceInterface);
  }
  if (units.empty()) note_fetch_done();
}

void SystemdBackend::fetch_properties(sd_bus* bus, const std::string& object_path,
                                      const char* interface) {
  fetch_queue_.push_back({object_path, interface});
  send_fetches(bus);
}

// A bus allows each connection only so many calls awaiting a reply (the system bus: 128), so
// a load of many units sends its reads a few at a time.
void SystemdBackend::send_fetches(sd_bus* bus) {
  if (sending_) return;  // a call that failed at once is answered inside the loop below
  sending_ = true;
  while (fetches_in_flight_ < kMaxFetchesInFlight && !fetch_queue_.empty()) {
    Fetch fetch = std::move(fetch_queue_.front());
    fetch_queue_.pop_front();
    BusMessage call = new_call(bus, fetch.object_path.c_str(), kPropertiesInterface, "GetAll");
    if (call) sd_bus_message_append_basic(call.get(), 's', fetch.interface);
    ++fetches_in_flight_;
    BusLoop::call(bus, std::move(call), kQueryTimeout,
                  [this, bus, path = std::move(fetch.object_path)](sd_bus_message* reply) {
                    if (!reply_error(reply) && !cache_.update(path, [reply](UnitState& unit) {
                          read_unit_properties(reply, unit);
                        }))
                      loaded_by_reading_.insert(path);
                    --fetches_in_flight_;
                    send_fetches(bus);
                    note_fetch_done();
                  });
  }
  sending_ = false;
}

void SystemdBackend::on_lost() {
  for (auto& [job, wait] : jobs_)
    wait->finish("lost the connection to the manager");
  jobs_.clear();
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(lost_.get(), &one, sizeof one);
}

void SystemdBackend::note_fetch_done() {
  if (fetches_in_flight_ > 0 || !fetch_queue_.empty() || !listed_) return;
  std::lock_guard lock(load_mutex_);
  load_done_ = true;
  loaded_.notify_all();
}

void SystemdBackend::enqueue_job(sd_bus* bus, const std::shared_ptr<JobWait>& wait,
                                 const std::string& name, bool start) {
  BusMessage call =
      new_call(bus, kManagerPath, kManagerInterface, start ? "StartUnit" : "StopUnit");
  if (call) sd_bus_message_append(call.get(), "ss", name.c_str(), "replace");
  BusLoop::call(bus, std::move(call), settings_.job_timeout, [this, wait](sd_bus_message* reply) {
    if (auto error = reply_error(reply)) return wait->finish(*error);
    const char* job = nullptr;
    if (sd_bus_message_read_basic(reply, 'o', &job) <= 0) return wait->finish("malformed reply");
    jobs_.emplace(job, wait);
  });
}

// JobRemoved (uoss): the job's id, object path, unit and result.
void SystemdBackend::on_job_removed(sd_bus_message* signal) {
  std::uint32_t id = 0;
  const char *job = nullptr, *unit = nullptr, *result = nullptr;
  if (sd_bus_message_read(signal, "uoss", &id, &job, &unit, &result) <= 0) return;
  auto [first, last] = jobs_.equal_range(job);
  for (auto waiting = first; waiting != last; ++waiting)
    waiting->second->finish(result);
  jobs_.erase(first, last);
}

void SystemdBackend::on_unit_new(sd_bus* bus, sd_bus_message* signal) {
  const char *name = nullptr, *path = nullptr;
  if (sd_bus_message_read(signal, "so", &name, &path) <= 0 || !is_listed_unit(name)) return;
  // A known unit's properties are current already. Reading them again could load the unit
  // anew after the manager dropped it, and so bring the next UnitNew, without end; so could
  // reading a unit that a read of ours has just loaded again after it was dropped.
  if (loaded_by_reading_.erase(path) > 0 || !cache_.add(name, path)) return;
  fetch_properties(bus, path, kUnitInterface);
  fetch_properties(bus, path, kServiceInterface);
}

void SystemdBackend::on_unit_removed(sd_bus_message* signal) {
  const char *name = nullptr, *path = nullptr;
  if (sd_bus_message_read(signal, "so", &name, &path) > 0) cache_.unloaded(name);
}

// PropertiesChanged (sa{sv}as): the changed values, then the names of those whose new value
// the signal leaves out (the manager does so for costly ones, such as ExecStart), which are
// read again when the record needs them.
void SystemdBackend::on_properties_changed(sd_bus* bus, sd_bus_message* signal) {
  const char* path = sd_bus_message_get_path(signal);
  const char* interface = nullptr;
  if (!path || sd_bus_message_read_basic(signal, 's', &interface) <= 0) return;
  const std::string_view iface = interface;
  const char* known = iface == kUnitInterface      ? kUnitInterface
                      : iface == kServiceInterface ? kServiceInterface
                                                   : nullptr;
  if (!known) return;
  bool complete = false;
  if (!cache_.update(path, [&](UnitState& unit) { complete = read_unit_properties(signal, unit); }))
    return;
  if (!complete || invalidates_a_read_property(signal)) fetch_properties(bus, path, known);
}

}  // namespace orv::service
