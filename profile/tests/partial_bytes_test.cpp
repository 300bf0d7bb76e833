// The binary form of partial results: random partials survive the round trip unchanged, and bytes
// from anywhere (cut short, with any byte changed) either decode to a partial that encodes back to
// the same bytes or throw std::invalid_argument; they never crash or allocate without bound.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>

#include <zel_package/packed.hpp>
#include <zel_profile/partial.hpp>
#include <zel_profile/partial_bytes.hpp>

#include "random_profiles.hpp"

namespace zel_profile {
namespace {

// Either a clean refusal or a partial whose encoding is exactly the bytes: one spelling each.
void expect_refused_or_canonical(const std::string& bytes, int round) {
  try {
    const PartialQuery decoded = decode_partial(bytes);
    EXPECT_EQ(encode(decoded), bytes) << "round " << round;
  } catch (const std::invalid_argument&) {
  }
}

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
  const std::string header = std::string("\x01", 1) + std::string(5, '\0');  // format, 5 numbers
  EXPECT_EQ(decode_partial(header + std::string(2, '\0')), PartialQuery{});
  refuse(std::string("\x02", 1) + std::string(7, '\0'));               // unknown format
  refuse(header + "\x7f" + '\0');                                      // 127 groups in 2 bytes
  refuse(header + "\xff\xff\xff\xff\xff\xff\xff\xff\xff\x7f" + '\0');  // a count beyond 2^64
  refuse(header + "\x80" + '\0' + '\0');                               // an overlong zero
  // One sample whose tile number does not fit 32 bits.
  refuse(header + '\0' + '\x01' + "\x80\x80\x80\x80\x10" + std::string(12, '\0'));
  // Two groups named "b" and "a": out of order.
  const std::string empty_group(7, '\0');
  refuse(header + '\x02' +
         "\x01"
         "b" +
         empty_group +
         "\x01"
         "a" +
         empty_group + '\0');
  EXPECT_EQ(decode_partial(header + '\x02' +
                           "\x01"
                           "a" +
                           empty_group +
                           "\x01"
                           "b" +
                           empty_group + '\0')
                .groups.size(),
            2u);

  // A partial that breaks its orderings is not encoded.
  PartialQuery unordered;
  unordered.groups.resize(2);  // two groups of the same name
  EXPECT_THROW(encode(unordered), std::invalid_argument);
  unordered.groups[1].name = "b";
  unordered.groups[1].tiles = {{5, 9}, {10, 12}};  // adjacent ranges
  EXPECT_THROW(encode(unordered), std::invalid_argument);
}

}  // namespace
}  // namespace zel_profile
