// The progress line while a large profile is read: its text, when it is drawn and wiped, and that
// the tool draws it only when standard error is a terminal (a pseudo-terminal made by script(1)).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "progress_line.hpp"

namespace zel_cli {
namespace {

TEST(ProgressLine, TextDrawingAndWiping) {
  EXPECT_EQ(progress_text("big.json", 1204000000, 2800000000),
            "zel-profile: reading big.json: 43% (1.2 GB of 2.8 GB)");
  EXPECT_EQ(progress_text("-", 70400000, 0), "zel-profile: reading standard input: 70 MB");
  EXPECT_EQ(progress_text("a.json.gz", 99000000, 99000000),
            "zel-profile: reading a.json.gz: 100% (99 MB of 99 MB)");

  std::ostringstream out;
  {
    ProgressLine line(out, "big.json", true);
    line.update(1 << 20, 0);  // small so far, size unknown: nothing yet
    EXPECT_EQ(out.str(), "");
    line.update(100000000, 200000000);
    line.update(100500000, 200000000);  // the same text: not drawn again
    line.update(200000000, 200000000);
  }  // wiped when it goes
  const std::string first = "zel-profile: reading big.json: 50% (100 MB of 200 MB)";
  const std::string last = "zel-profile: reading big.json: 100% (200 MB of 200 MB)";
  EXPECT_EQ(out.str(), "\r" + first + "\r" + last + "\r" + std::string(last.size(), ' ') + "\r");

  // A shorter text wipes the rest of the longer one before it.
  std::ostringstream shrinking;
  ProgressLine line(shrinking, "-", true);
  line.update(1500000000, 0);
  line.update(90000000, 0);
  EXPECT_EQ(shrinking.str(),
            "\rzel-profile: reading standard input: 1.5 GB"
            "\rzel-profile: reading standard input: 90 MB ");

  // Not drawn at all when it is not wanted, nor for a small file read quickly; a small file read
  // slowly (compressed, say) gets it after a second.
  static std::chrono::steady_clock::time_point time{};
  const auto clock = [] { return time; };
  std::ostringstream none;
  ProgressLine off(none, "big.json", false, clock);
  off.update(200000000, 200000000);
  ProgressLine small(none, "small.json.gz", true, clock);
  small.update(1000000, 3000000);
  time += std::chrono::milliseconds(999);
  small.update(2000000, 3000000);
  off.clear();
  EXPECT_EQ(none.str(), "");
  EXPECT_FALSE(progress_wanted(none));
  time += std::chrono::milliseconds(1);
  small.update(2000000, 3000000);
  EXPECT_EQ(none.str(), "\rzel-profile: reading small.json.gz: 66% (2 MB of 3 MB)");
}

std::string output_of(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  for (std::size_t count; (count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    output.append(buffer, count);
  }
  ::pclose(pipe);
  return output;
}

TEST(ProgressLine, ShownOnATerminalOnly) {
  if (std::system("command -v script > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "script(1) is not installed";
  }
  // A small profile followed by 70 MB of whitespace, which the reader takes.
  const std::string path =
      ::testing::TempDir() + "zel_progress_" + std::to_string(::getpid()) + ".json";
  {
    std::ofstream out(path, std::ios::binary);
    const std::string json =
        R"({"version": 1, "clock_hz": 1, "steps": [{"phase": 0, "operation": "op", )"
        R"("kind": "compute"}], "tiles": [{"physical_tile": 0, "samples": [[0, 1, 2]]}]})";
    out << json << std::string(70000000 - json.size(), ' ');
  }
  const std::string tool = ZEL_CLI_TOOL;
  const std::string line = "zel-profile: reading " + path + ": 100% (70 MB of 70 MB)";

  const std::string on_terminal =
      output_of("script -qec '" + tool + " query " + path + "' /dev/null");
  EXPECT_NE(on_terminal.find("\r" + line), std::string::npos) << on_terminal;
  EXPECT_NE(on_terminal.find("\r" + std::string(line.size(), ' ') + "\r"), std::string::npos);
  EXPECT_NE(on_terminal.find("1 tile, 1 sample, 1 matched"), std::string::npos) << on_terminal;

  const std::string piped = output_of(tool + " query " + path + " 2>&1");
  EXPECT_EQ(piped.find("reading"), std::string::npos) << piped;
  EXPECT_NE(piped.find("1 tile, 1 sample, 1 matched"), std::string::npos) << piped;
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace zel_cli
