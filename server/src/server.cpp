#include <zel_server/server.hpp>

#include <algorithm>
#include <memory>
#include <random>
#include <stdexcept>

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>

#include "assets.hpp"
#include "connections.hpp"

namespace zel_server {
namespace {

// Bodies are never read: the API only answers GET.
constexpr std::size_t maximum_body_bytes = 4096;
// The header that carries the token of an API call (or the parameter `token`).
constexpr const char* token_header = "X-Zel-Token";

// Equal texts, in a time that does not depend on where they differ.
bool same_secret(const std::string& given, const std::string& secret) {
  if (given.size() != secret.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < given.size(); ++i) {
    difference |= static_cast<unsigned char>(given[i] ^ secret[i]);
  }
  return difference == 0;
}

// Sends `body` as it is. The HTTP library compresses a body given whole whenever the client
// accepts it, with Brotli at its slowest level (4.5 s for a timeline that takes 0.12 s to compute);
// on loopback that costs far more than the bytes it saves. A body handed over by a provider of
// known length is sent as it is.
void send_as_is(httplib::Response& response, std::string body, const std::string& type) {
  auto shared = std::make_shared<const std::string>(std::move(body));
  response.set_content_provider(
      shared->size(), type,
      [shared](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        return sink.write(shared->data() + offset, std::min(length, shared->size() - offset));
      });
}

void send_json(httplib::Response& response, int status, const std::string& body) {
  response.status = status;
  send_as_is(response, body, "application/json");
}

// What an error status that the HTTP library sets by itself means.
std::string status_text(int status) {
  switch (status) {
    case 400:
      return "bad request";
    case 404:
      return "no such path";
    case 405:
      return "method not allowed";
    case 413:
      return "request body too large";
    case 414:
      return "address too long";
    case 431:
      return "request headers too large";
    default:
      return "request failed with status " + std::to_string(status);
  }
}

}  // namespace

struct Server::State {
  const Explorer& explorer;
  ServeOptions options;
  std::string token;
  int port = 0;
  GuardedHttpServer http;
};

std::string random_token() {
  std::random_device device;
  static constexpr char digits[] = "0123456789abcdef";
  std::string token;
  for (int word = 0; word < 4; ++word) {
    auto bits = device();
    for (int digit = 0; digit < 8; ++digit, bits >>= 4) token += digits[bits & 15];
  }
  return token;
}

bool host_allowed(const std::string& host_header, const std::string& bound_host, int port) {
  std::string suffix = ":";
  suffix += std::to_string(port);
  std::string host = host_header;
  if (host.ends_with(suffix)) host.resize(host.size() - suffix.size());
  const std::string bracketed =
      bound_host.find(':') != std::string::npos ? "[" + bound_host + "]" : bound_host;
  return host == bracketed || host == "localhost" || host == "127.0.0.1" || host == "[::1]";
}

bool loopback_only(const std::string& host) {
  if (host == "localhost") return true;
  in_addr v4{};
  if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (::inet_pton(AF_INET6, host.c_str(), &v6) != 1) return false;
  return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
}

void guard_requests(GuardedHttpServer& http, const ServeOptions& options, const std::string& token,
                    const int& port) {
  // Every request: the Host header first (DNS rebinding), then, for the API, the token. The
  // page's own files hold nothing of the profiles; the page keeps the token of the address it was
  // opened with and sends it with every API call in a header. No cookie holds it: a browser sends
  // a host's cookies to all of its ports, so any other local server it visits would get it.
  http.set_pre_routing_handler(
      [&options, &token, &port](const httplib::Request& request, httplib::Response& response) {
        if (!host_allowed(request.get_header_value("Host"), options.host, port)) {
          send_json(response, 403,
                    error_json("this server answers only to its own address", "Host", {}));
          return httplib::Server::HandlerResponse::Handled;
        }
        if (options.token && request.path.rfind("/api/", 0) == 0 &&
            !same_secret(request.get_param_value("token"), token) &&
            !same_secret(request.get_header_value(token_header), token)) {
          send_json(response, 403,
                    error_json("open the address with the token that zel-profile serve printed",
                               "token", {}));
          return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
      });
}

// The API, the page's own files, and a refusal of every method that would change something.
void add_routes(GuardedHttpServer& http, const Explorer& explorer) {
  http.Get(R"(/api/.*)", [&explorer](const httplib::Request& request, httplib::Response& response) {
    Parameters parameters;
    for (const auto& [name, value] : request.params) {
      if (name != "token") parameters.emplace_back(name, value);
    }
    auto answer = explorer.get(request.path, parameters);
    response.status = answer.status;
    send_as_is(response, std::move(answer.body), answer.content_type);
  });
  http.Get(R"(/.*)", [](const httplib::Request& request, httplib::Response& response) {
    const Asset* asset = find_asset(request.path == "/" ? "/index.html" : request.path);
    if (asset == nullptr) {
      send_json(response, 404, error_json("no such path", request.path, {}));
      return;
    }
    send_as_is(response, std::string(asset->content), std::string(asset->content_type));
  });
  const auto refuse = [](const httplib::Request&, httplib::Response& response) {
    response.set_header("Allow", "GET, HEAD");
    send_json(response, 405,
              error_json("this server is read-only: GET only", "method", {"GET", "HEAD"}));
  };
  http.Post(R"(.*)", refuse);
  http.Put(R"(.*)", refuse);
  http.Patch(R"(.*)", refuse);
  http.Delete(R"(.*)", refuse);
  http.Options(R"(.*)", refuse);
}

// Every failure answers with a JSON body: exceptions as 500, the library's own statuses too.
void answer_failures_in_json(GuardedHttpServer& http) {
  http.set_exception_handler(
      [](const httplib::Request&, httplib::Response& response, std::exception_ptr error) {
        std::string message = "internal error";
        try {
          if (error) std::rethrow_exception(error);
        } catch (const std::exception& exception) {
          message = exception.what();
        } catch (...) {
        }
        send_json(response, 500, error_json(message, "", {}));
      });
  // The statuses the library sets by itself get a body; those of the handlers have one (given to
  // the library by send_as_is, which it holds as the length of what its provider will write).
  http.set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (response.body.empty() && response.content_length_ == 0) {
      send_json(response, response.status, error_json(status_text(response.status), "", {}));
    }
  });
}

Server::Server(const Explorer& explorer, ServeOptions options)
    : state_(new State{
          .explorer = explorer, .options = options, .http = GuardedHttpServer(options.limits)}) {
  if (state_->options.token) state_->token = random_token();
  state_->http.set_payload_max_length(maximum_body_bytes);
  state_->http.set_default_headers({
      {"X-Content-Type-Options", "nosniff"},
      {"Referrer-Policy", "no-referrer"},
      {"Cache-Control", "no-store"},
      {"Content-Security-Policy",
       "default-src 'self'; img-src 'self' data:; style-src 'self'; frame-ancestors 'none'"},
  });
  guard_requests(state_->http, state_->options, state_->token, state_->port);
  add_routes(state_->http, explorer);
  answer_failures_in_json(state_->http);
}

Server::~Server() = default;

void Server::bind() {
  auto& state = *state_;
  if (state.options.port == 0) {
    state.port = state.http.bind_to_any_port(state.options.host);
    if (state.port < 0) state.port = 0;
  } else if (state.http.bind_to_port(state.options.host, state.options.port)) {
    state.port = state.options.port;
  }
  if (state.port <= 0) {
    throw std::runtime_error("cannot listen on " + state.options.host + " port " +
                             std::to_string(state.options.port));
  }
}

int Server::port() const { return state_->port; }

std::string Server::url() const {
  auto host = state_->options.host;
  if (host == "0.0.0.0") host = "127.0.0.1";
  if (host == "::") host = "::1";
  const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return "http://" + shown + ":" + std::to_string(state_->port) + "/" +
         (state_->options.token ? "?token=" + state_->token : "");
}

bool Server::run() { return state_->http.listen_after_bind(); }

void Server::stop() { state_->http.stop(); }

}  // namespace zel_server
