// The server on loopback: the token, the Host check, read-only paths and sizes, slow request heads,
// and a bounded load of 16 clients.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <nlohmann/json.hpp>
#include <zel_generator/generator.hpp>
#include <zel_server/server.hpp>

namespace {

using zel_server::Explorer;

class Serving {
 public:
  explicit Serving(bool token, zel_server::ConnectionLimits limits = {})
      : explorer_(
            {{"chip.json", zel_generator::generate_packed_profile({.tiles = 24, .seed = 3})}}),
        server_(explorer_, {.host = "127.0.0.1", .port = 0, .token = token, .limits = limits}) {
    server_.bind();
    thread_ = std::thread([this] { server_.run(); });
  }
  ~Serving() {
    server_.stop();
    thread_.join();
  }
  int port() const { return server_.port(); }
  std::string token() const {
    const auto url = server_.url();
    const auto at = url.find("token=");
    return at == std::string::npos ? "" : url.substr(at + 6);
  }

 private:
  Explorer explorer_;
  zel_server::Server server_;
  std::thread thread_;
};

struct Case {
  std::string method;
  std::string path;  // "$T" is replaced by the token
  httplib::Headers headers;
  int status;
};

TEST(Http, GuardsEveryPathWithTokenAndHostAndAnswersOnlyReads) {
  Serving serving(true);
  const auto port = std::to_string(serving.port());
  const auto token = serving.token();
  ASSERT_EQ(token.size(), 32u);
  const std::string long_path = "/api/query?kernel=" + std::string(20000, 'k') + "&token=$T";
  const Case cases[] = {
      // The page's own files hold nothing of the profiles; the API needs the token, as a
      // parameter or in the header the page sends, never in a cookie, which a browser would send
      // to every other port of this host too.
      {"GET", "/", {}, 200},
      {"GET", "/app.js", {}, 200},
      {"GET", "/api/info", {}, 403},
      {"GET", "/api/info?token=0123", {}, 403},
      {"GET", "/api/info?token=" + std::string(32, '0'), {}, 403},
      {"GET", "/api/info", {{"X-Zel-Token", std::string(32, '0')}}, 403},
      {"GET", "/api/info", {{"Cookie", "zel_profile_token_" + port + "=" + token}}, 403},
      {"GET", "/api/timeline", {{"Cookie", "zel_profile_token=" + token}}, 403},
      {"GET", "/?token=$T", {}, 200},
      {"GET", "/api/info?token=$T", {}, 200},
      {"GET", "/api/info", {{"X-Zel-Token", token}}, 200},
      {"HEAD", "/api/info?token=$T", {}, 200},
      // DNS rebinding: a name that resolves here, but is not this server's.
      {"GET", "/api/info?token=$T", {{"Host", "attacker.example:" + port}}, 403},
      {"GET", "/api/info?token=$T", {{"Host", "localhost.attacker.example"}}, 403},
      {"GET", "/api/info?token=$T", {{"Host", "localhost:" + port}}, 200},
      {"GET", "/api/info?token=$T", {{"Host", "[::1]:" + port}}, 200},
      // Only the compiled-in files exist.
      {"GET", "/../../../../etc/passwd?token=$T", {}, 404},
      {"GET", "/%2e%2e/%2e%2e/etc/passwd?token=$T", {}, 404},
      {"GET", "/server/assets/app.js?token=$T", {}, 404},
      {"GET", "/api/../index.html?token=$T", {}, 404},
      {"GET", "/api/query?group-by=kernal&token=$T", {}, 400},
      {"GET", "/api/timeline?bins=99999999999999999999999&token=$T", {}, 400},
      // Rows, bins and categories each allowed, but too many cells for one answer.
      {"GET", "/api/timeline?rows=4096&bins=8192&color-by=group&token=$T", {}, 400},
      {"GET", "/api/nothing?token=$T", {}, 404},
      {"POST", "/api/query?token=$T", {}, 405},
      {"PUT", "/index.html?token=$T", {}, 405},
      {"DELETE", "/api/info?token=$T", {}, 405},
      {"GET", long_path, {}, 414},
      {"GET", "/api/info?token=$T", {{"X-Large", std::string(10000, 'x')}}, 400},
  };
  httplib::Client client("127.0.0.1", serving.port());
  for (const auto& c : cases) {
    auto path = c.path;
    if (const auto at = path.find("$T"); at != std::string::npos) path.replace(at, 2, token);
    SCOPED_TRACE(c.method + " " + path.substr(0, 100));
    httplib::Request request;
    request.method = c.method;
    request.path = path;
    request.headers = c.headers;
    const auto result = client.send(request);
    ASSERT_TRUE(result) << httplib::to_string(result.error());
    EXPECT_EQ(result->status, c.status) << result->body;
    EXPECT_FALSE(result->has_header("Set-Cookie"));
    if (c.status != 200 && c.method != "HEAD" && !result->body.empty()) {
      EXPECT_TRUE(nlohmann::json::parse(result->body).contains("error"));
    }
  }
  // Nothing is compressed, whatever the client accepts: on loopback, compressing costs more than
  // sending (Brotli at its slowest took 4.5 s for a timeline computed in 0.12 s).
  for (const std::string path : {"/api/timeline?bins=800&rows=24", "/api/query", "/app.js"}) {
    const auto answer =
        client.Get(path, {{"X-Zel-Token", token}, {"Accept-Encoding", "gzip, deflate, br"}});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200) << path;
    EXPECT_FALSE(answer->has_header("Content-Encoding")) << path;
    EXPECT_EQ(answer->get_header_value("Content-Length"), std::to_string(answer->body.size()));
  }
  // A body larger than the server reads is refused before the method is looked at.
  const auto large =
      client.Post("/api/query?token=" + token, std::string(100000, 'x'), "text/plain");
  ASSERT_TRUE(large);
  EXPECT_EQ(large->status, 413);
}

TEST(Http, WithoutTokenAnswersButStillChecksTheHost) {
  Serving serving(false);
  httplib::Client client("127.0.0.1", serving.port());
  EXPECT_EQ(client.Get("/api/info")->status, 200);
  EXPECT_EQ(client.Get("/api/info", {{"Host", "evil.example"}})->status, 403);
}

TEST(Http, OnlyLoopbackAddressesKeepTheServerToThisMachine) {
  for (const char* host : {"127.0.0.1", "127.4.5.6", "localhost", "::1", "::ffff:127.0.0.1"}) {
    EXPECT_TRUE(zel_server::loopback_only(host)) << host;
  }
  for (const char* host : {"0.0.0.0", "::", "192.168.1.5", "10.0.0.1", "::ffff:10.0.0.1", "fe80::1",
                           "128.0.0.1", "example.org", ""}) {
    EXPECT_FALSE(zel_server::loopback_only(host)) << host;
  }
}

// A connection to the server from which a request's head arrives a byte at a time, never whole.
class SlowHead {
 public:
  explicit SlowHead(int port) : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    static const std::string request_line = "GET /api/info HTTP/1.1\r\n";
    connected_ = ::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 ::send(socket_, request_line.data(), request_line.size(), MSG_NOSIGNAL) ==
                     static_cast<ssize_t>(request_line.size());
  }
  ~SlowHead() { ::close(socket_); }
  bool connected() const { return connected_; }
  // Sends the next byte; false once the server has closed the connection.
  bool send_byte() {
    // Whole header lines after a request line sent at once, so that a head cut off by its
    // deadline is answered 400 (and the connection must then be closed, not read on for another
    // request).
    static const std::string head = [] {
      std::string text;
      for (int line = 0; line < 100; ++line) text += "X-Slow: s\r\n";
      return text;
    }();
    char answer[512];
    for (;;) {
      const auto got = ::recv(socket_, answer, sizeof answer, MSG_DONTWAIT);
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) return false;
      if (got < 0) break;  // nothing yet; an answer (400) is read and the end awaited
    }
    return ::send(socket_, &head[sent_++ % head.size()], 1, MSG_NOSIGNAL) == 1;
  }

 private:
  int socket_;
  bool connected_ = false;
  std::size_t sent_ = 0;
};

// Twice as many connections as threads, each sending a byte of a head every 50 ms: every one is
// closed by the head deadline or to make room, and a request sent meanwhile is answered at once.
TEST(Http, SlowHeadsAreCutAndCannotHoldEveryThread) {
  using std::chrono::milliseconds;
  const zel_server::ConnectionLimits limits{.threads = 4,
                                            .head_deadline = milliseconds(600),
                                            .keep_alive = milliseconds(2000),
                                            .waiting_connections = 2};
  Serving serving(true, limits);
  std::vector<std::unique_ptr<SlowHead>> slow;
  for (std::size_t c = 0; c < 2 * limits.threads; ++c) {
    slow.push_back(std::make_unique<SlowHead>(serving.port()));
    ASSERT_TRUE(slow.back()->connected());
  }
  const auto start = std::chrono::steady_clock::now();
  std::thread page([&] {
    std::this_thread::sleep_for(milliseconds(200));
    httplib::Client client("127.0.0.1", serving.port());
    client.set_connection_timeout(2, 0);
    client.set_read_timeout(2, 0);
    const auto answer = client.Get("/api/info?token=" + serving.token());
    ASSERT_TRUE(answer) << httplib::to_string(answer.error());
    EXPECT_EQ(answer->status, 200);
  });
  // Each connection's time to be closed, from the start.
  std::vector<double> closed_after(slow.size(), -1);
  for (int round = 0; round < 80; ++round) {  // at most 4 s
    bool open = false;
    for (std::size_t c = 0; c < slow.size(); ++c) {
      if (closed_after[c] >= 0) continue;
      if (slow[c]->send_byte()) {
        open = true;
      } else {
        closed_after[c] =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      }
    }
    if (!open) break;
    std::this_thread::sleep_for(milliseconds(50));
  }
  page.join();
  for (std::size_t c = 0; c < slow.size(); ++c) {
    EXPECT_GE(closed_after[c], 0) << "connection " << c << " still open";
    EXPECT_LT(closed_after[c], 2.5) << "connection " << c;
  }
}

TEST(Http, SixteenClientsOfAHundredRequestsEachGetNoError) {
  Serving serving(true);
  const auto token = serving.token();
  const std::vector<std::string> paths{"/api/info",
                                       "/api/query?group-by=kernel",
                                       "/api/query?group-by=tile&samples=5",
                                       "/api/timeline?bins=400&rows=24",
                                       "/api/timeline?from=1000&to=90000&bins=800&color-by=group",
                                       "/api/load-balance",
                                       "/api/samples?tile=3&at=5000",
                                       "/",
                                       "/app.js"};
  constexpr int clients = 16;
  constexpr int requests = 100;
  std::vector<std::vector<double>> latencies(clients);
  std::vector<int> errors(clients, 0);
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      httplib::Client client("127.0.0.1", serving.port());
      client.set_read_timeout(20, 0);
      client.set_keep_alive(true);
      for (int r = 0; r < requests; ++r) {
        const auto& path = paths[(c + r) % paths.size()];
        const auto start = std::chrono::steady_clock::now();
        const auto result =
            client.Get(path + (path.find('?') == std::string::npos ? "?" : "&") + "token=" + token);
        latencies[c].push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        if (!result || result->status != 200) ++errors[c];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::vector<double> all;
  for (const auto& each : latencies) all.insert(all.end(), each.begin(), each.end());
  std::sort(all.begin(), all.end());
  ASSERT_EQ(all.size(), std::size_t{clients * requests});
  const double p50 = all[all.size() / 2];
  const double p99 = all[all.size() * 99 / 100];
  std::printf("load: %d clients x %d requests, p50 %.2f ms, p99 %.2f ms, max %.2f ms\n", clients,
              requests, p50, p99, all.back());
  RecordProperty("p99_ms", std::to_string(p99));
  int total_errors = 0;
  for (const int e : errors) total_errors += e;
  EXPECT_EQ(total_errors, 0);
}

}  // namespace
