// The explorer's HTTP server: the page's assets and the JSON API on one address, guarded by a
// random token and a check of the Host header, read-only.
#pragma once

#include <memory>
#include <string>

#include <zel_server/api.hpp>

namespace zel_server {

struct ServeOptions {
  std::string host = "127.0.0.1";  // the address to bind
  int port = 0;                    // 0: any free port
  bool token = true;               // false: no token is asked for (every local user can read)
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
  // The address to open, with the token: "http://127.0.0.1:PORT/?token=...".
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

// Whether a Host header names the server for a browser on this machine: the bound host,
// "localhost", "127.0.0.1" or "[::1]", with the bound port or none.
bool host_allowed(const std::string& host_header, const std::string& bound_host, int port);

}  // namespace zel_server
