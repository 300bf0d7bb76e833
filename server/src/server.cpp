#include <zel_server/server.hpp>

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

// Equal texts, in a time that does not depend on where they differ.
bool same_secret(const std::string& given, const std::string& secret) {
  if (given.size() != secret.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < given.size(); ++i) {
    difference |= static_cast<unsigned char>(given[i] ^ secret[i]);
  }
  return difference == 0;
}

// The value of cookie `name` in a Cookie header, or "".
std::string cookie_value(const std::string& header, const std::string& name) {
  std::size_t at = 0;
  while (at < header.size()) {
    while (at < header.size() && (header[at] == ' ' || header[at] == ';')) ++at;
    const auto end = std::min(header.find(';', at), header.size());
    const auto pair = header.substr(at, end - at);
    if (pair.size() > name.size() && pair.compare(0, name.size(), name) == 0 &&
        pair[name.size()] == '=') {
      return pair.substr(name.size() + 1);
    }
    at = end;
  }
  return "";
}

void send_json(httplib::Response& response, int status, const std::string& body) {
  response.status = status;
  response.set_content(body, "application/json");
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

  std::string cookie_name() const { return "zel_profile_token_" + std::to_string(port); }
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
  const std::string suffix = ":" + std::to_string(port);
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

Server::Server(const Explorer& explorer, ServeOptions options)
    : state_(new State{
          .explorer = explorer, .options = options, .http = GuardedHttpServer(options.limits)}) {
  if (state_->options.token) state_->token = random_token();
  auto& http = state_->http;
  State& state = *state_;
  http.set_payload_max_length(maximum_body_bytes);
  http.set_default_headers({
      {"X-Content-Type-Options", "nosniff"},
      {"Referrer-Policy", "no-referrer"},
      {"Cache-Control", "no-store"},
      {"Content-Security-Policy",
       "default-src 'self'; img-src 'self' data:; style-src 'self'; frame-ancestors 'none'"},
  });

  // Every request: the Host header first (DNS rebinding), then the token.
  http.set_pre_routing_handler(
      [&state](const httplib::Request& request, httplib::Response& response) {
        if (!host_allowed(request.get_header_value("Host"), state.options.host, state.port)) {
          send_json(response, 403,
                    error_json("this server answers only to its own address", "Host", {}));
          return httplib::Server::HandlerResponse::Handled;
        }
        if (state.options.token) {
          const bool by_parameter = same_secret(request.get_param_value("token"), state.token);
          const bool by_cookie = same_secret(
              cookie_value(request.get_header_value("Cookie"), state.cookie_name()), state.token);
          if (!by_parameter && !by_cookie) {
            send_json(response, 403,
                      error_json("open the address with the token that zel-profile serve printed",
                                 "token", {}));
            return httplib::Server::HandlerResponse::Handled;
          }
          if (by_parameter) {
            response.set_header("Set-Cookie", state.cookie_name() + "=" + state.token +
                                                  "; Path=/; HttpOnly; SameSite=Strict");
          }
        }
        return httplib::Server::HandlerResponse::Unhandled;
      });

  http.Get(R"(/api/.*)", [&state](const httplib::Request& request, httplib::Response& response) {
    Parameters parameters;
    for (const auto& [name, value] : request.params) {
      if (name != "token") parameters.emplace_back(name, value);
    }
    const auto answer = state.explorer.get(request.path, parameters);
    response.status = answer.status;
    response.set_content(answer.body, answer.content_type.c_str());
  });
  http.Get(R"(/.*)", [](const httplib::Request& request, httplib::Response& response) {
    const Asset* asset = find_asset(request.path == "/" ? "/index.html" : request.path);
    if (asset == nullptr) {
      send_json(response, 404, error_json("no such path", request.path, {}));
      return;
    }
    response.set_content(asset->content.data(), asset->content.size(),
                         std::string(asset->content_type).c_str());
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
  http.set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (response.body.empty()) {
      send_json(response, response.status, error_json(status_text(response.status), "", {}));
    }
  });
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
