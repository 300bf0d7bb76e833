// The binary form of partial results: random partials survive the round trip unchanged, and bytes
// from anywhere (cut short, with any byte changed) either decode to a partial that encodes back to
// the same bytes or throw std::invalid_argument; they never crash or allocate without bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/partial.hpp>
#include <zel_profile/partial_bytes.hpp>

#include "random_profiles.hpp"

namespace zel_profile {
namespace {

// 64-bit FNV-1a, written here from its definition, as the checksum the bytes end with.
std::string checksum_of(const std::string& bytes) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
  std::string little;
  for (int i = 0; i < 8; ++i) little += static_cast<char>(hash >> (8 * i) & 0xff);
  return little;
}

// `body` as whole bytes: the format, a zero query fingerprint, the body and its checksum.
std::string sealed(const std::string& body) {
  const std::string bytes = std::string("\x04", 1) + std::string(8, '\0') + body;
  return bytes + checksum_of(bytes);
}

// Either a clean refusal or a partial whose encoding is exactly the bytes: one spelling each.
void expect_refused_or_canonical(const std::string& bytes, int round) {
  try {
    const PartialQuery decoded = decode_partial(bytes);
    EXPECT_EQ(encode(decoded), bytes) << "round " << round;
  } catch (const std::invalid_argument&) {
  }
}

std::size_t step_of(const std::string& bytes) { return 1 + 8 * bytes.size() / 1000; }

TEST(PartialBytes, RandomPartialsRoundTripAndDamagedBytesAreRefused) {
  testing::RandomProfiles random(911);
  std::mt19937 damage(5);
  std::size_t encoded_bytes = 0;
  for (int round = 0; round < 300; ++round) {
    const auto packed = zel_package::pack(random.profile(round % 3 == 0 ? 400 : 30));
    const Query query = random.query(zel_package::unpack(packed));
    const std::size_t tiles = packed.tiles.size();
    const std::size_t first = damage() % (tiles + 1);
    const PartialQuery partial = partial_query(packed, query, first, tiles);
    const std::string bytes = encode(partial);
    encoded_bytes += bytes.size();
    ASSERT_EQ(decode_partial(bytes), partial) << "round " << round;
    ASSERT_EQ(bytes.substr(bytes.size() - 8), checksum_of(bytes.substr(0, bytes.size() - 8)));
    // Every flip of one bit is refused, of short encodings; about a thousand of long ones.
    for (std::size_t bit = damage() % step_of(bytes); bit < 8 * bytes.size();
         bit += step_of(bytes)) {
      std::string flipped = bytes;
      flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << bit % 8));
      EXPECT_THROW(decode_partial(flipped), std::invalid_argument)
          << "round " << round << ", bit " << bit;
    }

    // Every cut of short encodings, about a thousand spread over long ones.
    const std::size_t step = 1 + bytes.size() / 1000;
    for (std::size_t cut = damage() % step; cut < bytes.size(); cut += step) {
      EXPECT_THROW(decode_partial(bytes.substr(0, cut)), std::invalid_argument)
          << "round " << round << ", cut at " << cut;
    }
    EXPECT_THROW(decode_partial(bytes + '\0'), std::invalid_argument) << "round " << round;
    for (int change = 0; change < 20; ++change) {
      std::string damaged = bytes;
      damaged[damage() % damaged.size()] = static_cast<char>(damage());
      expect_refused_or_canonical(damaged, round);
    }
  }
  EXPECT_GT(encoded_bytes, 300u * 20u);  // the profiles were not all empty
}

TEST(PartialBytes, NumbersOutOfRangeAndImpossibleCountsAreRefused) {
  const auto refuse = [](const std::string& bytes) {
    EXPECT_THROW(decode_partial(bytes), std::invalid_argument) << ::testing::PrintToString(bytes);
  };
  const std::string header(7, '\0');  // 7 numbers: the totals and the chips
  EXPECT_EQ(decode_partial(sealed(header + std::string(2, '\0'))), PartialQuery{});
  std::string other_format = sealed(header + std::string(2, '\0'));
  other_format[0] = '\x03';  // the format before groups could be finished
  refuse(other_format.substr(0, other_format.size() - 8) +
         checksum_of(other_format.substr(0, other_format.size() - 8)));  // unknown format
  refuse(sealed(header + "\x7f" + '\0'));                                // 127 groups in 2 bytes
  refuse(sealed(header + "\xff\xff\xff\xff\xff\xff\xff\xff\xff\x7f" + '\0'));  // beyond 2^64
  refuse(sealed(header + "\x80" + '\0' + '\0'));                               // an overlong zero
  // One sample whose tile number does not fit 32 bits.
  refuse(sealed(header + '\0' + '\x01' + "\x80\x80\x80\x80\x10" + std::string(12, '\0')));
  // Two groups named "b" and "a": out of order.
  const std::string empty_group(8, '\0');
  refuse(sealed(header + '\x02' +
                "\x01"
                "b" +
                empty_group +
                "\x01"
                "a" +
                empty_group + '\0'));
  EXPECT_EQ(decode_partial(sealed(header + '\x02' +
                                  "\x01"
                                  "a" +
                                  empty_group +
                                  "\x01"
                                  "b" +
                                  empty_group + '\0'))
                .groups.size(),
            2u);
  // A group of an unknown form, and finished groups whose p95 and maximum pass 2^32.
  const std::string unnamed("\x01\x00\x00\x00", 4);  // one group: no name, dimensions or tiles
  refuse(sealed(header + unnamed + '\x02' + std::string(7, '\0') + '\0'));
  // One tile of two samples, 5 and 10 cycles long, in a span of 20 cycles: a finished group of
  // them, its figures (work 15, offsets 0 to 15, one (phase, epoch) of 15 cycles, 2 samples).
  const std::string finished_head = std::string("\0\x01\x02\x02\x14\0\0", 7) + '\x01' +
                                    std::string("\0\0\x01\0\0\0", 6) + '\x01' +
                                    std::string("\x0f\0\x0f\x01\x0f\x02", 6);
  refuse(sealed(finished_head + "\xff\xff\xff\xff\x0f" + "\x01" + '\0' + '\0'));
  refuse(sealed(finished_head + '\0' + "\xff\xff\xff\xff\x0f" + "\x01" + '\0'));
  const PartialQuery finished =
      decode_partial(sealed(finished_head + std::string("\x05\0\x05\0", 4)));
  ASSERT_EQ(finished.groups.size(), 1u);
  EXPECT_EQ(finished.groups[0].finished, (FinishedFigures{.phase_count = 1,
                                                          .phase_cycles = 15,
                                                          .sample_count = 2,
                                                          .p50 = 5,
                                                          .p95 = 5,
                                                          .maximum = 10}));

  // Bytes too short to hold the format, a fingerprint and a checksum.
  for (std::size_t size = 0; size < 17; ++size) refuse(std::string(size, '\x03'));

  // A partial that breaks its orderings is not encoded.
  PartialQuery unordered;
  unordered.groups.resize(2);  // two groups of the same name
  EXPECT_THROW(encode(unordered), std::invalid_argument);
  unordered.groups[1].name = "b";
  unordered.groups[1].tiles = {{5, 9}, {10, 12}};  // adjacent ranges
  EXPECT_THROW(encode(unordered), std::invalid_argument);
  unordered.groups[1].tiles.clear();
  unordered.groups[1].finished = FinishedFigures{.p50 = 3, .p95 = 2, .maximum = 4};
  EXPECT_THROW(encode(unordered), std::invalid_argument);  // percentiles out of order
  unordered.groups[1].finished = FinishedFigures{.p50 = 2, .p95 = 3, .maximum = 4};
  unordered.groups[1].lengths = {{.length = 2, .count = 1}};
  EXPECT_THROW(encode(unordered), std::invalid_argument);  // finished, yet with lengths
  unordered.groups[1].lengths.clear();
  EXPECT_NO_THROW(encode(unordered));
}

// Every list's count is checked against the fewest bytes its items take before anything is
// allocated for it: bytes claiming one item more than they can hold are refused at the count.
TEST(PartialBytes, CountsAreCheckedAgainstTheSmallestItem) {
  const std::string header(7, '\0');                             // the totals and the chips
  const std::string group = header + '\x01' + '\0';              // one group, no name
  const std::string group_lists = group + std::string(6, '\0');  // dims, tiles, form, figures
  const std::string sample = header + '\0' + '\x01' + std::string(5, '\0') + '\0' + '\0' + '\0';
  const struct {
    std::string before;  // the bytes before the count
    std::size_t item;    // the fewest bytes an item takes
    std::string field;
  } lists[] = {
      {header, 9, "groups"},
      {group, 2, "dimensions"},
      {group + '\0', 3, "tile ranges"},
      {group_lists, 5, "runs"},
      {group_lists + '\0', 2, "lengths"},
      {header + '\0', 9, "samples"},
      {sample, 2, "sample metadata"},
  };
  const std::size_t rest = 1000;  // zeros after the count
  for (const auto& list : lists) {
    SCOPED_TRACE(list.field);
    std::string count;
    for (std::size_t n = rest / list.item + 1;; n >>= 7) {
      count += static_cast<char>(n >= 0x80 ? (n & 0x7f) | 0x80 : n);
      if (n < 0x80) break;
    }
    try {
      decode_partial(sealed(list.before + count + std::string(rest, '\0')));
      ADD_FAILURE() << "decoded";
    } catch (const std::invalid_argument& error) {
      EXPECT_EQ(std::string(error.what()),
                "malformed partial result bytes: count larger than the bytes in " + list.field);
    }
  }
}

// What every report of a real profile satisfies, checked here without the engine's help.
void expect_possible(const QueryReport& report, const std::string& where) {
  EXPECT_LE(report.matched_sample_count, report.sample_count) << where;
  EXPECT_LE(report.samples.size(), report.matched_sample_count) << where;
  for (const GroupSummary& group : report.groups) {
    SCOPED_TRACE(where + ", group " + group.name);
    EXPECT_LE(group.sample_count, report.matched_sample_count);
    EXPECT_LE(group.tile_count, std::min(group.sample_count, report.tile_count));
    EXPECT_LE(group.phase_count, group.sample_count);
    EXPECT_LE(group.phase_cycles, group.work_cycles);
    EXPECT_LE(group.p50_cycles, group.p95_cycles);
    EXPECT_LE(group.p95_cycles, group.maximum_cycles);
    EXPECT_LE(group.mean_cycles, group.maximum_cycles);
    EXPECT_LE(group.maximum_cycles, group.work_cycles);
    EXPECT_LE(group.first_offset, group.last_offset);
    EXPECT_LE(group.maximum_cycles, group.last_offset - group.first_offset);
    EXPECT_LE(group.last_offset, report.profile_span_cycles);
  }
}

// Bytes changed anywhere and sealed again with a correct checksum (as a careless or hostile sender
// would) either are refused or decode to a partial that finishes into a possible report.
TEST(PartialBytes, ResealedChangesNeverFinishIntoAnImpossibleReport) {
  testing::RandomProfiles random(77);
  std::mt19937 damage(3);
  for (int round = 0; round < 40; ++round) {
    const auto packed = zel_package::pack(random.profile(60));
    Query query = random.query(zel_package::unpack(packed));
    query.sample_limit = 3;
    const std::string bytes = encode(partial_query(packed, query, Parallelism{.threads = 1}));
    const std::string body = bytes.substr(0, bytes.size() - 8);
    for (int change = 0; change < 100; ++change) {
      std::string changed = body;
      changed[1 + 8 + damage() % (changed.size() - 9)] = static_cast<char>(damage());
      const std::string where =
          "round " + std::to_string(round) + ", change " + std::to_string(change);
      try {
        expect_possible(finish(decode_partial(changed + checksum_of(changed)), query), where);
      } catch (const std::invalid_argument&) {
      } catch (const std::overflow_error&) {
      }
    }
  }
}

// A partial result is tied to the query that made it: merging or finishing it under a query that
// groups, filters or keeps samples differently is refused, also after a round trip through its
// bytes; the order and the limit, which only finishing applies, may differ.
TEST(PartialBytes, PartialsAreTiedToTheirQuery) {
  testing::RandomProfiles random(17);
  const auto packed = zel_package::pack(random.profile(30));
  const Query query{.group_by = GroupBy::Phase, .kernel = "k", .sample_limit = 2};
  const PartialQuery partial = decode_partial(encode(partial_query(packed, query, 0, 99)));
  Query reordered = query;
  reordered.sort_by = SortBy::Name;
  reordered.limit = 1;
  EXPECT_NO_THROW(finish(merge(partial, partial, reordered), reordered));

  std::vector<Query> others(10, query);
  others[0].group_by = GroupBy::Kernel;
  others[1].kernel.reset();
  others[2].kernel = "";
  others[3].kind = StepKind::Compute;
  others[4].operation_contains = "k";
  others[5].tiles = {0};
  others[6].phases = {0};
  others[7].metadata = {{.name = "k", .value = std::nullopt}};
  others[8].at_offset = 0;
  others[9].sample_limit = 3;
  for (std::size_t i = 0; i < others.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_THROW(finish(partial, others[i]), std::invalid_argument);
    EXPECT_THROW(merge(partial, partial_query(packed, others[i], 0, 99), others[i]),
                 std::invalid_argument);
    EXPECT_THROW(merge(partial_query(packed, others[i], 0, 99), partial, others[i]),
                 std::invalid_argument);
  }
}

}  // namespace
}  // namespace zel_profile
