// Text that is not JSON: the error names the line and column where it breaks. Each case marks the
// expected place with '@' (taken out before reading); the test counts the line and column from the
// text before the mark itself: line feeds, and characters (the two bytes of 'é' are one, and a
// byte-order mark is none).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>
#include <zlib.h>

#include <zel_storage/storage.hpp>

namespace zel_storage {
using namespace zel_package;
namespace {

// A small profile over several lines, one of them with a character of two bytes.
const std::string document = R"({
  "version": 1,
  "clock_hz": 1000,
  "steps": [
    {"phase": 0, "operation": "café", "kind": "compute"},
    {"phase": 1, "operation": "x", "kind": "idle"}
  ],
  "tiles": [
    {"physical_tile": 0, "samples": [[0, 1, 2], [1, 2, 3]]}
  ]
}
)";

// `document` with its first `from` replaced by `to`, which holds the mark.
std::string broken(const std::string& from, const std::string& to) {
  std::string text = document;
  const auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return text.replace(at, from.size(), to);
}

struct Expected {
  std::string text;  // without the mark
  std::uint64_t line = 1;
  std::uint64_t column = 1;
};

Expected expected_at_mark(const std::string& marked) {
  const auto mark = marked.find('@');
  EXPECT_NE(mark, std::string::npos);
  Expected expected{marked.substr(0, mark) + marked.substr(mark + 1)};
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < mark; ++i) {
    if (marked[i] == '\n') {
      ++expected.line;
      line_start = i + 1;
    }
  }
  const std::string before = marked.substr(line_start, mark - line_start);
  std::size_t wide = 0;
  for (auto at = before.find("é"); at != std::string::npos; at = before.find("é", at + 1)) ++wide;
  // A byte-order mark is no character of the text.
  const std::size_t mark_bytes = line_start == 0 && before.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  expected.column = 1 + before.size() - wide - mark_bytes;
  return expected;
}

TEST(ProfileSyntaxPosition, ErrorsNameTheLineAndColumnWhereTheTextBreaks) {
  ASSERT_NO_THROW(read_packed_profile(document));
  const std::vector<std::string> cases = {
      // A missing comma between samples, and between fields.
      broken("[0, 1, 2], [1", "[0, 1, 2] @[1"),
      broken(R"("x", "kind")", R"("x" @"kind")"),
      // A bad literal where a number, and where a string, should be.
      broken(R"("phase": 1)", R"("phase": tru@)"),
      broken(R"("kind": "idle")", R"("kind": nul@1)"),
      broken(R"("kind": "compute")", R"("kind": @compute)"),  // after the 'é' on the line
      // A string that never ends, placed at its opening quote; a line break inside one.
      R"({"version": 1, "clock_hz": 1000, "steps": [@"op)",
      broken(R"("café")", "\"caf\u00e9@\n\""),
      // Not UTF-8, a bad escape, and a number that is not JSON.
      broken(R"("x")", "\"@\xff\""),
      broken(R"("x")", R"("@\q")"),
      broken(R"([[0, 1, 2])", R"([[0, 0@1, 2])"),
      // The end too early, and something after the profile.
      document.substr(0, document.size() - 4) + "@",
      document + "\n @x",
      // Nesting beyond the limit, at the bracket that passes it, before a string never closed.
      R"({"x": )" + std::string(1023, '[') + "@[ \"open",
      // A byte-order mark is not counted.
      "\xEF\xBB\xBF" + broken(R"({)", R"({ "version" @1,)"),
  };
  for (const auto& marked : cases) {
    const auto expected = expected_at_mark(marked);
    SCOPED_TRACE(expected.text);
    try {
      read_packed_profile(expected.text);
      ADD_FAILURE() << "read";
    } catch (const ProfileReadError& error) {
      EXPECT_EQ(error.line(), expected.line) << error.what();
      EXPECT_EQ(error.column(), expected.column) << error.what();
      EXPECT_TRUE(error.problem().starts_with("not valid JSON: ") ||
                  error.problem() == "unexpected content after the profile object")
          << error.problem();
      const std::string place = "line " + std::to_string(expected.line) + ", column " +
                                std::to_string(expected.column) + ": ";
      EXPECT_TRUE(std::string(error.what()).starts_with(place)) << error.what();
    }
  }
}

TEST(ProfileSyntaxPosition, FilesNameThePlaceAfterTheirNameAndOtherProblemsHaveNone) {
  const auto expected = expected_at_mark(broken("[0, 1, 2], [1", "[0, 1, 2] @[1"));
  const auto path = std::filesystem::temp_directory_path() /
                    ("zel_syntax_" + std::to_string(::getpid()) + ".json.gz");
  {
    // Positions count in the decompressed text.
    std::string gz(compressBound(expected.text.size()) + 32, '\0');
    z_stream stream{};
    ASSERT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(expected.text.data()));
    stream.avail_in = static_cast<uInt>(expected.text.size());
    stream.next_out = reinterpret_cast<Bytef*>(gz.data());
    stream.avail_out = static_cast<uInt>(gz.size());
    ASSERT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    gz.resize(stream.total_out);
    deflateEnd(&stream);
    std::ofstream(path, std::ios::binary) << gz;
  }
  try {
    read_packed_profile_file(path.string());
    ADD_FAILURE() << "read";
  } catch (const ProfileReadError& error) {
    EXPECT_EQ(std::string(error.what()),
              path.string() + ":" + std::to_string(expected.line) + ":" +
                  std::to_string(expected.column) + ": " +
                  (error.json_path().empty() ? "" : error.json_path() + ": ") +
                  "not valid JSON: expected ',' or ']'");
  }
  std::filesystem::remove(path);

  // Valid JSON that is not a valid profile has no place in the text, only its path.
  try {
    read_packed_profile(broken(R"("phase": 1)", R"("phase": -1)"));
    ADD_FAILURE() << "read";
  } catch (const ProfileReadError& error) {
    EXPECT_EQ(error.json_path(), "steps[1].phase");
    EXPECT_FALSE(error.line().has_value());
    EXPECT_FALSE(error.column().has_value());
  }
  EXPECT_STREQ(ProfileReadError("p.json", "tiles[3]", "bad", 12, 7).what(),
               "p.json:12:7: tiles[3]: bad");
  EXPECT_STREQ(ProfileReadError("-", "", "bad", 1, 2).what(), "standard input:1:2: bad");
  EXPECT_STREQ(ProfileReadError("", "", "bad", 3, 4).what(), "line 3, column 4: bad");
}

}  // namespace
}  // namespace zel_storage
