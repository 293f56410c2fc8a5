// Dates at the edges of their rules: "now" is recent, and the century a
// two-digit ISO year falls in.
#include <gtest/gtest.h>

#include <orvexks/date.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

class DateEdges : public testing::Test {
 protected:
  void SetUp() override {
    setlocale(LC_ALL, "C");
    setenv("TZ", "UTC0", 1);
    tzset();
  }
};

TEST_F(DateEdges, NowIsListedWithItsTimeOfDay) {
  time_t now = time(nullptr);
  char *text = date_fmt_ls_date_time(now);
  ASSERT_NE(text, nullptr);
  char want[32];
  struct tm tm;
  localtime_r(&now, &tm);
  strftime(want, sizeof want, "%b %d %H:%M", &tm);
  std::string got = text;
  // The minute may turn between the two calls.
  if (got != want) {
    time_t later = now + 60;
    localtime_r(&later, &tm);
    strftime(want, sizeof want, "%b %d %H:%M", &tm);
  }
  EXPECT_EQ(got, want);
  EXPECT_EQ(std::string(date_fmt_ls_date_time(now + 86400)).find(':'),
            std::string::npos)
      << "a future time takes the year form";
}

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
