// The HTTP library's server with bounded waits for request heads: every connection gets a
// deadline for the whole head of each request, and only so many connections may wait for a head
// at once (the oldest is closed to make room), so slow or silent clients cannot hold every worker
// thread and starve the page.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>

#include <httplib.h>

#include <zel_server/server.hpp>

namespace zel_server {

class GuardedHttpServer : public httplib::Server {
 public:
  explicit GuardedHttpServer(const ConnectionLimits& limits);

 private:
  // Answers the requests of one accepted connection, then closes it.
  bool process_and_close_socket(socket_t sock) override;

  // Counts `sock` among the connections waiting for a request head; when that makes more than
  // the limit, shuts the oldest waiting one down. Returns the ticket that stop_waiting takes.
  std::uint64_t start_waiting(socket_t sock);
  void stop_waiting(std::uint64_t ticket);

  ConnectionLimits limits_;
  std::mutex mutex_;
  std::uint64_t next_ticket_ = 0;
  std::map<std::uint64_t, socket_t> waiting_;  // by ticket, so the oldest first
};

}  // namespace zel_server
