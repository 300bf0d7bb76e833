#include "connections.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zel_server {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Reads and writes (10 s without progress fail them) once a request's head has arrived.
constexpr milliseconds read_timeout{10000};
constexpr milliseconds write_timeout{10000};
// How often a connection waiting for its next request looks whether the server is stopping.
constexpr milliseconds stop_check{100};

// Whether `sock` becomes ready for `events` within `timeout` (a signal does not end the wait).
bool ready(socket_t sock, short events, milliseconds timeout) {
  const auto until = Clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now());
    pollfd descriptor{.fd = sock, .events = events, .revents = 0};
    const int result =
        ::poll(&descriptor, 1, static_cast<int>(std::max<long long>(0, left.count())));
    if (result > 0) return true;
    if (result == 0 || errno != EINTR) return false;
  }
}

void address_of(const sockaddr_storage& address, socklen_t length, std::string& ip, int& port) {
  std::array<char, NI_MAXHOST> host{};
  std::array<char, NI_MAXSERV> service{};
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host.data(), host.size(),
                    service.data(), service.size(), NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
    ip = host.data();
    port = std::atoi(service.data());
  }
}

// A connection's socket as the library reads and writes it, reads buffered. While a deadline is
// set (the head of a request is being read), no read waits past it.
class ConnectionStream : public httplib::Stream {
 public:
  explicit ConnectionStream(socket_t sock) : sock_(sock) {}

  void set_deadline(std::optional<Clock::time_point> deadline) { deadline_ = deadline; }

  bool is_readable() const override {
    if (begin_ < end_) return true;
    auto timeout = read_timeout;
    if (deadline_) {
      timeout =
          std::min(timeout, std::chrono::duration_cast<milliseconds>(*deadline_ - Clock::now()));
      if (timeout.count() <= 0) return false;
    }
    return ready(sock_, POLLIN, timeout);
  }
  bool is_writable() const override { return ready(sock_, POLLOUT, write_timeout); }

  ssize_t read(char* ptr, size_t size) override {
    if (begin_ == end_) {
      if (!is_readable()) return -1;
      ssize_t got;
      do {
        got = ::recv(sock_, buffer_.data(), buffer_.size(), 0);
      } while (got < 0 && errno == EINTR);
      if (got <= 0) return got;
      begin_ = 0;
      end_ = static_cast<std::size_t>(got);
    }
    const auto taken = std::min(size, end_ - begin_);
    std::copy_n(buffer_.data() + begin_, taken, ptr);
    begin_ += taken;
    return static_cast<ssize_t>(taken);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    ssize_t sent;
    do {
      sent = ::send(sock_, ptr, size, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(sock_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      address_of(address, length, ip, port);
    }
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(sock_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      address_of(address, length, ip, port);
    }
  }
  socket_t socket() const override { return sock_; }

  // Whether a request starts (or the client closes) within `timeout`; false early when `stopping`
  // says so.
  template <typename Stopping>
  bool next_request(milliseconds timeout, const Stopping& stopping) const {
    if (begin_ < end_) return true;
    const auto until = Clock::now() + timeout;
    while (!stopping()) {
      const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now());
      if (left.count() <= 0) return false;
      if (ready(sock_, POLLIN, std::min(left, stop_check))) return true;
    }
    return false;
  }

 private:
  socket_t sock_;
  std::optional<Clock::time_point> deadline_;
  std::array<char, 4096> buffer_{};
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

}  // namespace

GuardedHttpServer::GuardedHttpServer(const ConnectionLimits& limits) : limits_(limits) {
  new_task_queue = [threads = limits.threads] { return new httplib::ThreadPool(threads); };
}

std::uint64_t GuardedHttpServer::start_waiting(socket_t sock) {
  const std::lock_guard lock(mutex_);
  const auto ticket = next_ticket_++;
  waiting_.emplace(ticket, sock);
  if (waiting_.size() > limits_.waiting_connections) {
    // Its worker sees the connection end and closes it; the descriptor stays open until then, as
    // that worker must take this lock to stop waiting first.
    ::shutdown(waiting_.begin()->second, SHUT_RDWR);
    waiting_.erase(waiting_.begin());
  }
  return ticket;
}

void GuardedHttpServer::stop_waiting(std::uint64_t ticket) {
  const std::lock_guard lock(mutex_);
  waiting_.erase(ticket);
}

bool GuardedHttpServer::process_and_close_socket(socket_t sock) {
  ConnectionStream stream(sock);
  const auto stopping = [this] { return svr_sock_ == INVALID_SOCKET; };
  bool answered = false;
  for (std::size_t left = keep_alive_max_count_; left > 0; --left) {
    const auto ticket = start_waiting(sock);
    bool waiting = true;
    const auto done_waiting = [&] {
      if (waiting) stop_waiting(ticket);
      waiting = false;
      stream.set_deadline(std::nullopt);
    };
    if (!stream.next_request(limits_.keep_alive, stopping)) {
      done_waiting();
      break;
    }
    stream.set_deadline(Clock::now() + limits_.head_deadline);
    bool connection_closed = false;
    bool head_arrived = false;
    answered = process_request(stream, left == 1, connection_closed, [&](httplib::Request&) {
      head_arrived = true;
      done_waiting();
    });
    done_waiting();
    // A head that did not arrive whole in time, or was refused, ends the connection.
    if (!answered || connection_closed || !head_arrived) break;
  }
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return answered;
}

}  // namespace zel_server
