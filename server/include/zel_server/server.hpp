// The explorer's HTTP server: the page's assets and the JSON API on one address, guarded by a
// random token and a check of the Host header, read-only.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include <zel_server/api.hpp>

namespace zel_server {

// What connections may hold before their requests are answered, so that slow or silent clients
// (one byte of a request every few seconds, or none) cannot keep every thread from the page.
struct ConnectionLimits {
  // Worker threads, each serving one connection at a time. A browser keeps up to six connections
  // open, so several pages and clients never wait for one to close.
  std::size_t threads = 32;
  // From a request's first byte to the end of its head (request line and headers); a connection
  // that has not sent the whole head by then is closed.
  std::chrono::milliseconds head_deadline{5000};
  // How long a connection may wait idle for its next request.
  std::chrono::milliseconds keep_alive{2000};
  // Connections waiting for a request head (idle or part-way through it) at once; one more closes
  // the one that has waited longest, so at least threads - waiting_connections threads are
  // always free for requests that have arrived whole.
  std::size_t waiting_connections = 16;
};

struct ServeOptions {
  std::string host = "127.0.0.1";  // the address to bind
  int port = 0;                    // 0: any free port
  bool token = true;               // false: no token is asked for (every local user can read)
  ConnectionLimits limits{};
};

class Server {
 public:
  // Serves `explorer`, which must outlive the server.
  Server(const Explorer& explorer, ServeOptions options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds the address. Throws std::runtime_error when it cannot.
  void bind();
  // The bound port.
  int port() const;
  // The address to open, with the token: "http://127.0.0.1:PORT/?token=...". A server bound to
  // every address (0.0.0.0 or ::) is opened through this machine's loopback address.
  std::string url() const;
  // Answers requests until stop() is called (from another thread). Returns false if serving failed.
  bool run();
  void stop();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// A new random token, 32 hexadecimal digits from the system's random device.
std::string random_token();

// Whether a server bound to `host` can be reached from this machine only: "localhost" or a
// loopback address (127.0.0.0/8, ::1). Any other, 0.0.0.0 and :: above all, is open to every
// machine on the network that can reach this one.
bool loopback_only(const std::string& host);

// Whether a Host header names the server for a browser on this machine: the bound host,
// "localhost", "127.0.0.1" or "[::1]", with the bound port or none.
bool host_allowed(const std::string& host_header, const std::string& bound_host, int port);

}  // namespace zel_server
