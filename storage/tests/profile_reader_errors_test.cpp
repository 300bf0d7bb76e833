#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <zel_storage/storage.hpp>

#include "reader_detail.hpp"

// Every case runs against each reader: read_profile, the packed reader unpacked, and the full
// reader alone (what the fast path falls back to). The fast path must decline every case, so
// that the full reader's exact error is what users see.

namespace zel_storage {
using namespace zel_package;
namespace {

struct Reader {
  std::string name;
  std::function<ProfileReport(std::string_view)> read;
};

void PrintTo(const Reader& reader, std::ostream* out) { *out << reader.name; }

const std::vector<Reader>& readers() {
  static const std::vector<Reader> all = {
      {"records", [](std::string_view json) { return read_profile(json); }},
      {"packed", [](std::string_view json) { return unpack(read_packed_profile(json)); }},
      {"full", [](std::string_view json) { return unpack(detail::read_packed_full(json)); }}};
  return all;
}

struct BadInput {
  std::string json;
  std::string json_path;
  std::string problem;  // exact, or the start of it when it ends in "..."
};

class ProfileReaderErrors : public ::testing::TestWithParam<Reader> {
 protected:
  void expect_rejected(const std::vector<BadInput>& cases) const;
};

// The error of the full reader; every reader must throw exactly this one.
std::optional<ProfileReadError> reference_error(const std::string& json) {
  try {
    detail::read_packed_full(json);
  } catch (const ProfileReadError& error) {
    return error;
  }
  return std::nullopt;
}

void ProfileReaderErrors::expect_rejected(const std::vector<BadInput>& cases) const {
  for (const auto& bad : cases) {
    SCOPED_TRACE(bad.json);
    EXPECT_FALSE(detail::try_read_packed_fast(bad.json).has_value());
    EXPECT_FALSE(detail::try_read_packed_fast(bad.json, {.parallel_min_bytes = 0}).has_value());
    const auto reference = reference_error(bad.json);
    try {
      GetParam().read(bad.json);
      ADD_FAILURE() << "read without error";
    } catch (const ProfileReadError& error) {
      EXPECT_EQ(error.source(), "");
      EXPECT_EQ(error.json_path(), bad.json_path);
      const bool prefix = bad.problem.ends_with("...");
      if (prefix) {
        EXPECT_TRUE(error.problem().starts_with(bad.problem.substr(0, bad.problem.size() - 3)))
            << error.problem();
      } else {
        EXPECT_EQ(error.problem(), bad.problem);
      }
      // Text that is not JSON is placed by line and column.
      std::string where = error.line() ? "line " + std::to_string(*error.line()) + ", column " +
                                             std::to_string(*error.column()) + ": "
                                       : "";
      if (!bad.json_path.empty()) where += bad.json_path + ": ";
      EXPECT_EQ(std::string(error.what()), where + error.problem());
      ASSERT_TRUE(reference.has_value());
      EXPECT_EQ(error.source(), reference->source());
      EXPECT_EQ(error.json_path(), reference->json_path());
      EXPECT_EQ(error.problem(), reference->problem());
      EXPECT_STREQ(error.what(), reference->what());
    }
  }
}

// A valid profile with `steps` and `tiles` spliced in.
std::string profile(const std::string& steps, const std::string& tiles) {
  return R"({"version": 1, "clock_hz": 5, "steps": )" + steps + R"(, "tiles": )" + tiles + "}";
}

const std::string one_step = R"([{"phase": 0, "operation": "op", "kind": "compute"}])";

std::string with_step(const std::string& step) { return profile("[" + step + "]", "[]"); }

std::string with_samples(const std::string& samples) {
  return profile(one_step, R"([{"physical_tile": 0, "samples": [[0, 1, 2]]},
                              {"physical_tile": 1, "samples": )" +
                               samples + "}]");
}

const std::string u32_range = "expected an integer from 0 to 4294967295";

TEST_P(ProfileReaderErrors, DocumentThatIsNotOneJsonObject) {
  expect_rejected({
      {"", "", "not valid JSON: ..."},
      {"  \n", "", "not valid JSON: ..."},
      {"[1, 2]", "", "expected a JSON object holding the profile"},
      {"17", "", "expected a JSON object holding the profile"},
      {"{\"version\": 1", "", "not valid JSON: ..."},
      {"{\"version\": \"1\xff\"}", "", "not valid JSON: ..."},  // not UTF-8
      {with_step(R"({"phase": 0, "operation": "bad escape \x", "kind": "idle"})"),
       "steps[0].operation", "not valid JSON: ..."},
      {profile("[]", "[]") + " {}", "", "unexpected content after the profile object"},
      {profile("[]", "[]") + "}", "", "unexpected content after the profile object"},
      {"{\"version\": 1, \"clock_hz\": 5 \"steps\": []}", "", "not valid JSON: ..."},
      // Whatever follows the object, even text that is not JSON at all.
      {profile("[]", "[]") + " x", "", "unexpected content after the profile object"},
      {profile("[]", "[]") + " {", "", "unexpected content after the profile object"},
      {profile("[]", "[]") + "\n[", "", "unexpected content after the profile object"},
      {profile("[]", "[]") + " \"open", "", "unexpected content after the profile object"},
      {profile("[]", "[]") + "\xff", "", "unexpected content after the profile object"},
      {profile("[]", R"([{"physical_tile": 0, "samples": [[3, 1, 2]]}])") + " {\"a\": ", "",
       "unexpected content after the profile object"},
      // ... but a problem inside the object comes first.
      {R"({"version": 2, "clock_hz": 5, "steps": [], "tiles": []} {)", "version",
       "expected 1 (the only version this reader knows)"},
      // Byte-order marks of other encodings than UTF-8 are named.
      {"\xFE\xFF" + profile("[]", "[]"), "", "not valid JSON: the text is UTF-16, not UTF-8"},
      {"\xFF\xFE" + profile("[]", "[]"), "", "not valid JSON: the text is UTF-16, not UTF-8"},
      {std::string("\xFF\xFE\0\0", 4) + "{}", "", "not valid JSON: the text is UTF-32, not UTF-8"},
      {std::string("\0\0\xFE\xFF", 4) + "{}", "", "not valid JSON: the text is UTF-32, not UTF-8"},
  });
}

// A UTF-8 byte-order mark is skipped: the profile is the one read without it.
TEST_P(ProfileReaderErrors, Utf8ByteOrderMarkIsSkipped) {
  const std::string json =
      profile(one_step, R"([{"physical_tile": 3, "samples": [[0, 1, 2], [0, 7, 9]]}])");
  const ProfileReport expected = GetParam().read(json);
  ASSERT_EQ(expected.tiles.size(), 1u);
  EXPECT_EQ(GetParam().read("\xEF\xBB\xBF" + json), expected);
  EXPECT_EQ(GetParam().read("\xEF\xBB\xBF  \n" + json), expected);
  // Only one mark, and only at the start: another one is text that is not JSON.
  expect_rejected({{"\xEF\xBB\xBF\xEF\xBB\xBF" + json, "", "not valid JSON: expected a value"},
                   {" \xEF\xBB\xBF" + json, "", "not valid JSON: expected a value"}});
}

// A field name from the input is cut in the path, so a huge one gives a short message.
TEST_P(ProfileReaderErrors, HugeUnknownFieldNameIsCut) {
  const std::string name(100000, 'a');
  const std::string cut_path = "[\"" + std::string(64, 'a') + "\"\u2026]";
  // A cut never splits a character: the 64th byte here starts a 2-byte one.
  std::string wide = std::string(63, 'a');
  for (int i = 0; i < 1000; ++i) wide += "\xC3\xA9";
  expect_rejected({
      {R"({"version": 1, ")" + name + R"(": 5})", cut_path, "unknown field"},
      {with_step(R"({"phase": 0, ")" + name + R"(": 5})"), "steps[0]" + cut_path, "unknown field"},
      {R"({"version": 1, ")" + wide + R"(": 5})", "[\"" + std::string(63, 'a') + "\"\u2026]",
       "unknown field"},
  });
  try {
    GetParam().read(R"({")" + name + R"(": 5})");
    ADD_FAILURE() << "read without error";
  } catch (const ProfileReadError& error) {
    EXPECT_LT(std::string(error.what()).size(), 200u) << error.what();
  }
}

TEST_P(ProfileReaderErrors, TopLevelFields) {
  expect_rejected({
      {R"({"clock_hz": 5, "steps": [], "tiles": []})", "version", "missing required field"},
      {R"({"version": 1, "steps": [], "tiles": []})", "clock_hz", "missing required field"},
      {R"({"version": 1, "clock_hz": 5, "tiles": []})", "steps", "missing required field"},
      {R"({"version": 1, "clock_hz": 5, "steps": []})", "tiles", "missing required field"},
      {R"({"version": 2, "clock_hz": 5, "steps": [], "tiles": []})", "version",
       "expected 1 (the only version this reader knows)"},
      {R"({"version": "1"})", "version", "expected 1 (the only version this reader knows)"},
      {R"({"version": 1.0})", "version", "expected 1 (the only version this reader knows)"},
      {R"({"version": 1, "version": 1})", "version", "repeated field"},
      {R"({"version": 1, "clock": 5})", "clock", "unknown field"},
      {R"({"version": 1, "clock hz": 5})", R"(["clock hz"])", "unknown field"},
      {R"({"version": 1, "clock_hz": -1})", "clock_hz",
       "expected an integer from 0 to 18446744073709551615"},
      {R"({"version": 1, "clock_hz": 18446744073709551616})", "clock_hz",
       "expected an integer from 0 to 18446744073709551615"},
      {R"({"version": 1, "clock_hz": 1e9})", "clock_hz",
       "expected an integer from 0 to 18446744073709551615"},
      {R"({"version": 1, "clock_hz": null})", "clock_hz",
       "expected an integer from 0 to 18446744073709551615"},
      {R"({"version": 1, "clock_hz": 5, "steps": {}})", "steps", "expected an array of steps"},
      {R"({"version": 1, "clock_hz": 5, "tiles": "none"})", "tiles", "expected an array of tiles"},
  });
}

TEST_P(ProfileReaderErrors, Steps) {
  expect_rejected({
      {profile("[1]", "[]"), "steps[0]", "expected a step object"},
      {with_step(R"({"operation": "op", "kind": "compute"})"), "steps[0].phase",
       "missing required field"},
      {with_step(R"({"phase": 0, "kind": "compute"})"), "steps[0].operation",
       "missing required field"},
      {with_step(R"({"phase": 0, "operation": "op"})"), "steps[0].kind", "missing required field"},
      {profile(R"([{"phase": 0, "operation": "op", "kind": "idle"},
                   {"phase": 0, "operation": "op", "kind": "Compute"}])",
               "[]"),
       "steps[1].kind", R"(expected one of "exchange", "compute", "synchronization", "idle")"},
      {with_step(R"({"phase": 0, "operation": "op", "kind": 1})"), "steps[0].kind",
       R"(expected one of "exchange", "compute", "synchronization", "idle")"},
      {with_step(R"({"phase": 4294967296, "operation": "op", "kind": "idle"})"), "steps[0].phase",
       u32_range},
      {with_step(R"({"phase": 0, "local_index": -1, "operation": "op", "kind": "idle"})"),
       "steps[0].local_index", u32_range},
      {with_step(R"({"phase": 0, "epoch": 0.5, "operation": "op", "kind": "idle"})"),
       "steps[0].epoch", u32_range},
      {with_step(R"({"phase": 0, "operation": 3, "kind": "idle"})"), "steps[0].operation",
       "expected a string"},
      {with_step(R"({"phase": 0, "operation": "op", "kind": "idle", "kernel": null})"),
       "steps[0].kernel", "expected a string"},
      {with_step(R"({"phase": 0, "operation": "op", "kind": "idle", "kernal": ""})"),
       "steps[0].kernal", "unknown field"},
      {with_step(R"({"phase": 0, "phase": 1, "operation": "op", "kind": "idle"})"),
       "steps[0].phase", "repeated field"},
      {with_step(R"({"phase": 0, "operation": "op", "kind": "idle", "metadata": {}})"),
       "steps[0].metadata", "expected an array of metadata entries"},
      {with_step(R"({"phase": 0, "operation": "op", "kind": "idle",
                     "metadata": [{"name": "a", "value": "b"}, ["a", "b"]]})"),
       "steps[0].metadata[1]", R"(expected an object {"name": ..., "value": ...})"},
      {with_step(R"({"phase": 0, "operation": "op", "kind": "idle", "metadata": [{"name": "a"}]})"),
       "steps[0].metadata[0].value", "missing required field"},
      {with_step(R"({"phase": 0, "operation": "op", "kind": "idle",
                     "metadata": [{"name": "a", "value": 1}]})"),
       "steps[0].metadata[0].value", "expected a string"},
      {with_step(R"({"phase": 0, "operation": "op", "kind": "idle",
                     "metadata": [{"name": "a", "value": "b", "note": "c"}]})"),
       "steps[0].metadata[0].note", "unknown field"},
  });
}

TEST_P(ProfileReaderErrors, TilesAndSamples) {
  expect_rejected({
      {profile(one_step, "[[]]"), "tiles[0]", "expected a tile object"},
      {profile(one_step, R"([{"samples": []}])"), "tiles[0].physical_tile",
       "missing required field"},
      {profile(one_step, R"([{"physical_tile": 0}])"), "tiles[0].samples",
       "missing required field"},
      {profile(one_step, R"([{"physical_tile": 4294967296, "samples": []}])"),
       "tiles[0].physical_tile", u32_range},
      {profile(one_step, R"([{"physical_tile": 0, "samples": [], "name": "t"}])"), "tiles[0].name",
       "unknown field"},
      {with_samples("{}"), "tiles[1].samples", "expected an array of samples"},
      {with_samples("[[0, 1, 2], 3]"), "tiles[1].samples[1]",
       "expected a sample [step, start_cycle, end_cycle]"},
      {with_samples("[[0, 1]]"), "tiles[1].samples[0]",
       "expected a sample [step, start_cycle, end_cycle] of 3 integers"},
      {with_samples("[[0, 1, 2, 3]]"), "tiles[1].samples[0]",
       "expected a sample [step, start_cycle, end_cycle] of 3 integers"},
      {with_samples("[[0, 1, 2], [0, 1, 4294967296]]"), "tiles[1].samples[1][2]", u32_range},
      {with_samples("[[0, -1, 2]]"), "tiles[1].samples[0][1]", u32_range},
      {with_samples("[[0, 1.5, 2]]"), "tiles[1].samples[0][1]", u32_range},
      {with_samples("[[0, 1, \"2\"]]"), "tiles[1].samples[0][2]", u32_range},
      {with_samples("[[-1, 1, 2]]"), "tiles[1].samples[0][0]", "expected a step index"},
      {with_samples("[[0, 1, 2], [1, 1, 2]]"), "tiles[1].samples[1][0]",
       "expected a step index from 0 to 0"},
      {profile("[]", R"([{"physical_tile": 0, "samples": [[0, 1, 2]]}])"), "tiles[0].samples[0][0]",
       "expected a step index, but there are no steps"},
      // Broken JSON is reported where the reader meets it.
      {with_samples("[[0, 1, 2],, [0, 1, 2]]"), "tiles[1].samples", "not valid JSON: ..."},
      {with_samples("[[0, 1 2]]"), "tiles[1].samples[0][2]", "not valid JSON: ..."},
  });
}

INSTANTIATE_TEST_SUITE_P(EveryReader, ProfileReaderErrors, ::testing::ValuesIn(readers()),
                         [](const ::testing::TestParamInfo<Reader>& info) {
                           return info.param.name;
                         });

TEST(ProfileReadErrorMessage, NamesSourcePathAndProblem) {
  EXPECT_STREQ(ProfileReadError("p.json", "tiles[3]", "bad").what(), "p.json: tiles[3]: bad");
  EXPECT_STREQ(ProfileReadError("-", "", "cannot read: x").what(),
               "standard input: cannot read: x");
  EXPECT_STREQ(ProfileReadError("", "", "bad").what(), "bad");
}

}  // namespace
}  // namespace zel_storage
