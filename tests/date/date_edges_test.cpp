// The century a two-digit ISO year falls in.
#include <gtest/gtest.h>

#include <orvexks/date.h>

#include <clocale>
#include <cstdlib>
#include <ctime>

namespace {

class DateEdges : public testing::Test {
 protected:
  void SetUp() override {
    setlocale(LC_ALL, "C");
    setenv("TZ", "UTC0", 1);
    tzset();
  }
};

TEST_F(DateEdges, TwoDigitIsoYearsBelow51AreOfThisCentury) {
  time_t t = -1;
  ASSERT_EQ(date_str_to_time2("500101", DATE_DIRECTION_PAST, &t), 0);
  struct tm tm = {};
  tm.tm_year = 2050 - 1900;
  tm.tm_mday = 1;
  EXPECT_EQ(t, timegm(&tm)) << "2050-01-01";
  t = 777;
  EXPECT_EQ(date_str_to_time2("510101", DATE_DIRECTION_PAST, &t), 1)
      << "1951 lies before the epoch";
  EXPECT_EQ(t, 777);
}

}  // namespace
