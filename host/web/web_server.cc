#include "host/web/web_server.h"

#include <httplib.h>

#include "host/web/web_assets.h"
#include "platform/json/json.h"

namespace orv::host::web {

namespace {

constexpr std::size_t kMaxRequestBytes = 64 * 1024;
// Enough threads for a few open tabs, each holding one for its event stream.
constexpr std::size_t kServerThreads = 16;
// An idle event stream says so this often, which also notices a browser that went away.
constexpr std::chrono::seconds kStreamIdle{15};
constexpr const char* kJson = "application/json";
constexpr const char* kContentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
    "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

void refuse(httplib::Response& res, int status, const std::string& why) {
  res.status = status;
  res.set_content(why + "\n", "text/plain; charset=utf-8");
}

const WebAsset* asset(std::string_view path) {
  for (const auto& file : web_assets())
    if (file.path == path) return &file;
  return nullptr;
}

}  // namespace

struct WebServer::Impl {
  Impl(WebState& shared, PageRequests handlers) : state(shared), requests(std::move(handlers)) {}

  WebState& state;
  PageRequests requests;
  httplib::Server server;
  std::thread thread;
  std::optional<RequestGuard> guard;

  void routes();
  void serve_asset(const WebAsset& file, const httplib::Request& req, httplib::Response& res);
  void stream_events(httplib::Response& res);
  void post(const char* path, std::function<Reply(const Value&)> handler);
};

void WebServer::Impl::routes() {
  // The library takes ownership of the queue it is handed.
  server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  server.set_payload_max_length(kMaxRequestBytes);
  server.set_default_headers({{"Content-Security-Policy", kContentSecurityPolicy},
                              {"X-Content-Type-Options", "nosniff"},
                              {"Referrer-Policy", "no-referrer"},
                              {"Cache-Control", "no-store"}});
  server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    auto refusal = guard->check({.method = req.method,
                                 .host = req.get_header_value("Host"),
                                 .origin = req.get_header_value("Origin"),
                                 .cookie = req.get_header_value("Cookie"),
                                 .query_token = req.get_param_value("token")});
    if (!refusal) return httplib::Server::HandlerResponse::Unhandled;
    refuse(res, refusal->status, refusal->why);
    return httplib::Server::HandlerResponse::Handled;
  });
  const WebAsset* index = asset("/index.html");
  server.Get("/", [this, index](const httplib::Request& req, httplib::Response& res) {
    serve_asset(*index, req, res);
  });
  for (const auto& file : web_assets())
    server.Get(std::string(file.path),
               [this, &file](const httplib::Request& req, httplib::Response& res) {
                 serve_asset(file, req, res);
               });
  server.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(state.snapshot().json, kJson);
  });
  server.Get("/api/events",
             [this](const httplib::Request&, httplib::Response& res) { stream_events(res); });
  server.Get("/api/log", [this](const httplib::Request& req, httplib::Response& res) {
    Reply reply = requests.log(req.get_param_value("after"));
    res.status = reply.status;
    res.set_content(reply.json, kJson);
  });
  post("/api/act", requests.act);
  post("/api/back", requests.back);
  post("/api/answer", requests.answer);
}

// The first visit brings the token in the query: it moves into the cookie, and the address
// bar loses it.
void WebServer::Impl::serve_asset(const WebAsset& file, const httplib::Request& req,
                                  httplib::Response& res) {
  if (req.has_param("token")) {
    res.set_header("Set-Cookie", guard->cookie());
    res.set_redirect("/", 303);
    return;
  }
  res.set_content(std::string(file.body), std::string(file.type).c_str());
}

// Each change goes out as one event, its id the state's version; the page goes with it only
// when it changed.
void WebServer::Impl::stream_events(httplib::Response& res) {
  struct Sent {
    std::uint64_t version = 0;
    std::uint64_t page_version = 0;
  };
  auto sent = std::make_shared<Sent>();
  res.set_chunked_content_provider("text/event-stream", [this, sent](std::size_t,
                                                                     httplib::DataSink& sink) {
    auto now = sent->version == 0
                   ? state.snapshot()
                   : state.wait_changed(sent->version, sent->page_version, kStreamIdle);
    if (state.closed()) {
      sink.done();
      return true;
    }
    std::string event = now.version == sent->version
                            ? ": idle\n\n"
                            : "id: " + std::to_string(now.version) + "\ndata: " + now.json + "\n\n";
    *sent = {now.version, now.page_version};
    return sink.write(event.data(), event.size());
  });
}

void WebServer::Impl::post(const char* path, std::function<Reply(const Value&)> handler) {
  server.Post(path, [handler](const httplib::Request& req, httplib::Response& res) {
    auto body = parse_json(req.body);
    if (!body || !body->is_dictionary()) return refuse(res, 400, "the body must be a JSON object");
    Reply reply = handler(*body);
    res.status = reply.status;
    res.set_content(reply.json, kJson);
  });
}

WebServer::WebServer(WebState& state, PageRequests requests)
    : impl_(std::make_unique<Impl>(state, std::move(requests))) {}

WebServer::~WebServer() {
  stop();
}

Result<ListenAddress> WebServer::bind(const ListenAddress& address) {
  ListenAddress bound = address;
  if (address.port == 0)
    bound.port = impl_->server.bind_to_any_port(address.host);
  else if (!impl_->server.bind_to_port(address.host, address.port))
    bound.port = -1;
  if (bound.port <= 0) return fail("cannot listen on " + authority(address));
  return bound;
}

void WebServer::serve(RequestGuard guard) {
  impl_->guard.emplace(std::move(guard));
  impl_->routes();
  impl_->thread = std::thread([this] { impl_->server.listen_after_bind(); });
}

void WebServer::stop() {
  if (!impl_->thread.joinable()) return;
  impl_->server.stop();
  impl_->thread.join();
}

}  // namespace orv::host::web
