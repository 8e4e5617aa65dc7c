// The result rows shared by the main window and scrivara-cli: names compared without case.
#include <gtest/gtest.h>

#include <vector>

#include "query/resultrows.h"

TEST(ResultRows, NamesCompareWithoutCaseAlsoForCp1252Capitals) {
  EXPECT_EQ(CompareNames("SMITH^JOHN", "smith^john"), 0);
  EXPECT_EQ(CompareNames("\xC3\x89MILE", "\xC3\xA9mile"), 0);   // E acute
  EXPECT_EQ(CompareNames("\xC5\xA0imon", "\xC5\xA1imon"), 0);   // S caron
  EXPECT_EQ(CompareNames("\xC5\xB8ves", "\xC3\xBFves"), 0);     // Y diaeresis
  EXPECT_NE(CompareNames("\xC3\x97", "\xC3\xB7"), 0);           // multiplication and division signs are no pair
  EXPECT_LT(CompareNames("adams", "Baker"), 0);
  EXPECT_GT(CompareNames("Smith", "smit"), 0);

  std::vector<ResultRow> rows(4);
  rows[0][0] = "smith";
  rows[0][1] = "S1";
  rows[1][0] = "Adams";
  rows[2][0] = "de Vries";
  rows[3][0] = "Baker";
  SortResultRows(rows);
  EXPECT_EQ(rows[0][0], "Adams");
  EXPECT_EQ(rows[1][0], "Baker");
  EXPECT_EQ(rows[2][0], "de Vries");
  EXPECT_EQ(rows[3][0], "smith");
  EXPECT_EQ(rows[3][1], "S1");  // whole rows move
}
