#include <gtest/gtest.h>

#include "components/stats/StatsTable.h"

namespace udra::stats {
namespace {

TEST(StatsTableTest, NamesBeyondTheLimitCountInTotalsOnly) {
  StatsTable table;
  for (size_t i = 0; i < StatsTable::kMaxNames + 10; ++i) table.Requested(("n" + std::to_string(i)).c_str(), 1);
  table.Done("n0", 1, 1);  // a kept name still counts
  EXPECT_EQ(table.files().size(), StatsTable::kMaxNames);
  EXPECT_EQ(table.untrackedEvents(), 10u);
  EXPECT_EQ(table.totals().requested, StatsTable::kMaxNames + 10);
  EXPECT_EQ(table.files().at("n0").done, 1u);
  table.Reset();
  EXPECT_TRUE(table.files().empty());
  EXPECT_EQ(table.totals().requested, 0u);
}

TEST(StatsTableTest, HostileTextsStayOnTheirLineAndBounded) {
  StatsTable table;
  table.Failed("a\nb", 0, 1, std::string(1000, 'e').append("\r\n").c_str());
  table.Failed(nullptr, 0, 2, nullptr);
  const std::string summary = table.Summary();
  EXPECT_NE(summary.find("\na?b\t0\t0\t1\t"), std::string::npos);
  EXPECT_EQ(table.files().at("a?b").lastErrorText.size(), StatsTable::kMaxErrorText);
  EXPECT_EQ(table.files().count(""), 1u);
  EXPECT_EQ(summary.back(), '\n');
}

}  // namespace
}  // namespace udra::stats
