#include "orvaned/options.h"

#include <getopt.h>
#include <grp.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

namespace orv::service {

namespace {

std::optional<std::chrono::milliseconds> parse_seconds(std::string_view text) {
  double seconds = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(seconds) ||
      seconds < 0 || seconds > 86400)
    return std::nullopt;
  return std::chrono::milliseconds(static_cast<long long>(std::llround(seconds * 1000)));
}

std::optional<unsigned> parse_id(std::string_view text) {
  unsigned id = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty() ||
      id == std::numeric_limits<unsigned>::max())
    return std::nullopt;
  return id;
}

std::optional<gid_t> parse_group(const std::string& text) {
  if (auto id = parse_id(text)) return static_cast<gid_t>(*id);
  struct group grp {};
  struct group* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getgrnam_r(text.c_str(), &grp, buffer.data(), buffer.size(), &found) != 0 || !found)
    return std::nullopt;
  return found->gr_gid;
}

enum OptionId {
  kRoot = 1,
  kRuntimeDir,
  kThrottle,
  kStopTimeout,
  kAllowUid,
  kAllowGroup,
  kForeground,
  kBackend,
  kBus,
  kProtect,
  kJobTimeout,
  kHelp,
  kVersion
};

// Replies to the client come within its own 30 s, so a unit's job is waited for less.
constexpr std::chrono::milliseconds kLongestJobTimeout{25'000};

std::optional<Backend> parse_backend(std::string_view text) {
  if (text == "jobs") return Backend::Jobs;
  if (text == "systemd") return Backend::Systemd;
  return std::nullopt;
}

}  // namespace

const char* usage_text() {
  return "Usage: orvaned [OPTIONS]\n"
         "Answers the messaging center \"msgport.orvane\" for one of two backends:\n"
         "  jobs     supervises the jobs of the root's /System/Library/LaunchDaemons and\n"
         "           /Library/LaunchDaemons; SIGTERM or SIGINT stops every job and exits\n"
         "  systemd  lists, starts and stops the .service units of a systemd manager over\n"
         "           D-Bus; SIGTERM or SIGINT exits and leaves the units as they are\n"
         "Runs in the foreground.\n"
         "\n"
         "  --backend NAME       jobs (the default) or systemd\n"
         "  --bus BUS            the systemd manager's bus: system (the default), user, or a\n"
         "                       D-Bus address such as unix:path=/run/systemd/private\n"
         "  --protect UNIT       never stop this unit (repeatable); the service's own unit,\n"
         "                       dbus, dbus-broker, systemd-journald, systemd-logind and\n"
         "                       units that refuse a manual stop are always protected\n"
         "  --job-timeout S      longest wait for a unit's start or stop (25, at most 25)\n"
         "  --root DIR           root prefix of all logical paths (default: $ORVANE_ROOT,\n"
         "                       else the root compiled in)\n"
         "  --runtime-dir DIR    directory of the service socket (default: $ORVANE_RUNTIME_DIR,\n"
         "                       else <root>/var/run/orvane)\n"
         "  --throttle S         least seconds between two starts of a KeepAlive job (10)\n"
         "  --stop-timeout S     seconds between SIGTERM and SIGKILL when stopping a job (5)\n"
         "  --allow-uid UID      also admit clients of this user id (repeatable); root and\n"
         "                       the service's own user are always admitted\n"
         "  --allow-group GROUP  also admit clients whose group, or one of whose groups, is\n"
         "                       GROUP (name or id; repeatable)\n"
         "                       The socket belongs to the one group when that is all that is\n"
         "                       named; with any --allow-uid or several groups every user may\n"
         "                       reach it and the service admits or refuses each client\n"
         "  --foreground         run in the foreground (the default and only mode)\n"
         "  --help               show this text\n"
         "  --version            show the version\n";
}

Result<Options> parse_options(int argc, char** argv) {
  static const struct option kLongOptions[] = {
      {"root", required_argument, nullptr, kRoot},
      {"runtime-dir", required_argument, nullptr, kRuntimeDir},
      {"throttle", required_argument, nullptr, kThrottle},
      {"stop-timeout", required_argument, nullptr, kStopTimeout},
      {"allow-uid", required_argument, nullptr, kAllowUid},
      {"allow-group", required_argument, nullptr, kAllowGroup},
      {"foreground", no_argument, nullptr, kForeground},
      {"backend", required_argument, nullptr, kBackend},
      {"bus", required_argument, nullptr, kBus},
      {"protect", required_argument, nullptr, kProtect},
      {"job-timeout", required_argument, nullptr, kJobTimeout},
      {"help", no_argument, nullptr, kHelp},
      {"version", no_argument, nullptr, kVersion},
      {nullptr, 0, nullptr, 0},
  };
  Options options;
  ::optind = 1;
  ::opterr = 0;
  int id;
  while ((id = ::getopt_long(argc, argv, "h", kLongOptions, nullptr)) != -1) {
    std::string value = ::optarg ? ::optarg : "";
    switch (id) {
      case kRoot:
        options.root = value;
        break;
      case kRuntimeDir:
        options.runtime_dir = value;
        break;
      case kThrottle:
      case kStopTimeout: {
        auto seconds = parse_seconds(value);
        if (!seconds) return fail("not a number of seconds: " + value);
        (id == kThrottle ? options.throttle : options.stop_timeout) = *seconds;
        break;
      }
      case kAllowUid: {
        auto uid = parse_id(value);
        if (!uid) return fail("not a user id: " + value);
        options.allowed_uids.push_back(static_cast<uid_t>(*uid));
        break;
      }
      case kAllowGroup: {
        auto gid = parse_group(value);
        if (!gid) return fail("no such group: " + value);
        options.allowed_gids.push_back(*gid);
        break;
      }
      case kForeground:
        break;
      case kBackend: {
        auto backend = parse_backend(value);
        if (!backend) return fail("no such backend: " + value);
        options.backend = *backend;
        break;
      }
      case kBus:
        if (value.empty()) return fail("no bus given");
        options.bus = value;
        break;
      case kProtect:
        options.protected_units.push_back(value);
        break;
      case kJobTimeout: {
        auto seconds = parse_seconds(value);
        if (!seconds || *seconds > kLongestJobTimeout || seconds->count() == 0)
          return fail("not a number of seconds up to 25: " + value);
        options.job_timeout = *seconds;
        break;
      }
      case 'h':
      case kHelp:
        options.help = true;
        break;
      case kVersion:
        options.version = true;
        break;
      default: {
        std::string arg = argv[::optind - 1] ? argv[::optind - 1] : "";
        return fail("unknown option or missing value: " + arg);
      }
    }
  }
  if (::optind < argc) return fail(std::string("unexpected argument: ") + argv[::optind]);
  return options;
}

}  // namespace orv::service
