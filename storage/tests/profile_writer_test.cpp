// Writing the packed form, and the records form through it.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include <zel_generator/generator.hpp>
#include <zel_storage/storage.hpp>

namespace zel_storage {
using namespace zel_package;
namespace {

TEST(PackedProfileWriter, WritesTheDocumentedLayout) {
  const PackedProfile profile{
      .clock_hz = 1000,
      .steps = {{.phase = 1,
                 .operation = "mm",
                 .kind = ProfileStepKind::Compute,
                 .kernel = "gemm",
                 .metadata = {{"block", "0"}}},
                {.local_index = 2, .operation = "x\n", .kind = ProfileStepKind::Exchange}},
      .tiles = {{.physical_tile = 4, .samples = {{1, 4294967295u, 3}, {0, 3, 9}}},
                {.physical_tile = 5}}};
  EXPECT_EQ(write_profile(profile),
            "{\n"
            "  \"version\": 1,\n"
            "  \"clock_hz\": 1000,\n"
            "  \"steps\": [\n"
            "    {\"local_index\": 0, \"phase\": 1, \"epoch\": 0, \"operation\": \"mm\", \"kind\": "
            "\"compute\", \"kernel\": \"gemm\", \"metadata\": [{\"name\": \"block\", \"value\": "
            "\"0\"}]},\n"
            "    {\"local_index\": 2, \"phase\": 0, \"epoch\": 0, \"operation\": \"x\\n\", "
            "\"kind\": \"exchange\", \"kernel\": \"\", \"metadata\": []}\n"
            "  ],\n"
            "  \"tiles\": [\n"
            "    {\"physical_tile\": 4, \"samples\": [[1,4294967295,3],[0,3,9]]},\n"
            "    {\"physical_tile\": 5, \"samples\": []}\n"
            "  ]\n"
            "}\n");
  EXPECT_EQ(write_profile(PackedProfile{}),
            "{\n  \"version\": 1,\n  \"clock_hz\": 0,\n  \"steps\": [],\n  \"tiles\": []\n}\n");
}

TEST(PackedProfileWriter, KeepsStepsAsTheyAreAndReadsBackEqual) {
  // Repeated and unused steps stay, in their order: the packed writer does not deduplicate.
  const ProfileStep a{.phase = 2, .operation = "a", .kind = ProfileStepKind::Compute};
  const ProfileStep b{.phase = 3, .operation = "b", .kind = ProfileStepKind::Idle};
  const PackedProfile profile{
      .clock_hz = 5,
      .steps = {b, a, b, a},
      .tiles = {{.physical_tile = 1, .samples = {{3, 0, 1}, {1, 1, 2}}}, {.physical_tile = 1}}};
  EXPECT_EQ(read_packed_profile(write_profile(profile)), profile);
  EXPECT_EQ(read_profile(write_profile(profile)), unpack(profile));
}

TEST(PackedProfileWriter, RecordsAreWrittenAsTheirPackedForm) {
  const auto report = zel_generator::generate_profile({.tiles = 5, .epochs = 2, .phases = 6});
  const std::string text = write_profile(report);
  EXPECT_EQ(text, write_profile(pack(report)));
  EXPECT_EQ(read_packed_profile(text), pack(report));
}

TEST(PackedProfileWriter, RefusesTextThatIsNotUtf8NamingTheStep) {
  PackedProfile profile{.steps = {{.operation = "ok"}, {.operation = "ok"}, {.operation = "ok"}},
                        .tiles = {{.samples = {{0, 0, 1}}}}};
  profile.steps[2].kernel = "\xc3";  // unused by any sample, still written and so refused
  try {
    write_profile(profile);
    FAIL() << "expected std::invalid_argument";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(), "cannot write the profile: steps[2].kernel is not valid UTF-8");
  }
  // A kind byte outside the four has no word; it was read past the end of the table of words.
  profile.steps[2].kernel = "";
  profile.steps[1].kind = static_cast<ProfileStepKind>(9);
  try {
    write_profile(profile);
    FAIL() << "expected std::invalid_argument";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(),
                 "cannot write the profile: steps[1].kind is 9, not one of the four step kinds");
  }
}

TEST(PackedProfileWriter, RefusesAStepIndexOutOfRange) {
  const PackedProfile profile{
      .steps = {{.operation = "ok"}},
      .tiles = {{.samples = {{0, 0, 1}}}, {.samples = {{0, 1, 2}, {1, 2, 3}}}}};
  try {
    write_profile(profile);
    FAIL() << "expected std::invalid_argument";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(),
                 "cannot write the profile: tiles[1].samples[1] refers to step 1, but there are 1 "
                 "steps");
  }
  EXPECT_THROW(write_profile(PackedProfile{.tiles = {{.samples = {{0, 0, 1}}}}}),
               std::invalid_argument);
}

}  // namespace
}  // namespace zel_storage
