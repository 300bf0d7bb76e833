#include <gtest/gtest.h>

#include <string>
#include <zel_profile/words.hpp>

namespace zel_profile {
namespace {

// Every listed word names the value of its index and is that value's word; nothing else names one.
TEST(Words, EachWordNamesItsValueAndBack) {
  for (std::size_t i = 0; i < group_by_words.size(); ++i) {
    EXPECT_EQ(group_by_from_word(group_by_words[i]), static_cast<GroupBy>(i));
    EXPECT_EQ(word_of(static_cast<GroupBy>(i)), group_by_words[i]);
  }
  for (std::size_t i = 0; i < sort_by_words.size(); ++i) {
    EXPECT_EQ(sort_by_from_word(sort_by_words[i]), static_cast<SortBy>(i));
    EXPECT_EQ(word_of(static_cast<SortBy>(i)), sort_by_words[i]);
  }
  for (std::size_t i = 0; i < step_kind_words.size(); ++i) {
    EXPECT_EQ(step_kind_from_word(step_kind_words[i]), static_cast<StepKind>(i));
    EXPECT_EQ(word_of(static_cast<StepKind>(i)), step_kind_words[i]);
  }
  EXPECT_EQ(word_of(GroupBy::Phase), "phase");
  EXPECT_EQ(word_of(SortBy::MaximumCycles), "maximum-cycles");
  EXPECT_EQ(word_of(StepKind::Synchronization), "synchronization");
  EXPECT_EQ(word_of(static_cast<SortBy>(200)), "unknown");
  for (const std::string word : {"", "Kernel", "kernel ", "phase_cycles", "compute\n"}) {
    EXPECT_EQ(group_by_from_word(word), std::nullopt) << word;
    EXPECT_EQ(sort_by_from_word(word), std::nullopt) << word;
    EXPECT_EQ(step_kind_from_word(word), std::nullopt) << word;
  }
  EXPECT_EQ(not_one_of(sort_by_words, "nme"),
            "expected one of phase-cycles|work-cycles|maximum-cycles|samples|name, got \"nme\"; "
            "did you mean 'name'?");
  EXPECT_EQ(not_one_of(step_kind_words, "frobnicate"),
            "expected one of exchange|compute|synchronization|idle, got \"frobnicate\"");
}

}  // namespace
}  // namespace zel_profile
