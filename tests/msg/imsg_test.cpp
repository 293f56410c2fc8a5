// Trace selection: TRACE_VERBOSITY and TRACE_SUBSYS decide which
// subsystems trace at which level.
#include <gtest/gtest.h>
#include <orvexks/imsg.h>

#include <cstdlib>

namespace {

TEST(TraceSelection, EnvironmentIsReadAtTheFirstCheck) {
  // Until the first check reads the environment the verbosity is 32767, so
  // the cheap pre-test lets every level through to imsg_should_trace.
  setenv("TRACE_VERBOSITY", "3", 1);
  setenv("TRACE_SUBSYS", "ks:rt", 1);
  EXPECT_EQ(imsg_get_desired_verbosity(), 32767);
  EXPECT_EQ(imsg_get_verbosity_ev(), 3);
  EXPECT_EQ(imsg_should_trace("ks", 3), 1);
  EXPECT_EQ(imsg_get_desired_verbosity(), 3);
  EXPECT_EQ(imsg_should_trace("ks", 4), 0);
  EXPECT_EQ(imsg_should_trace("rt", 1), 1);
  // Whole elements only.
  EXPECT_EQ(imsg_should_trace("ks/imsg", 1), 0);
  EXPECT_EQ(imsg_should_trace("r", 1), 0);
}

TEST(TraceSelection, ListForms) {
  imsg_set_trace_verbosity(5);
  imsg_set_trace_subsys("*");
  EXPECT_EQ(imsg_should_trace("anything", 5), 1);
  imsg_set_trace_subsys("");
  EXPECT_EQ(imsg_should_trace("ks", 1), 0);
  imsg_set_trace_subsys("a:ks/stg:b");
  EXPECT_EQ(imsg_should_trace("ks/stg", 2), 1);
  EXPECT_EQ(imsg_should_trace("ks/st", 2), 0);
  EXPECT_EQ(imsg_should_trace("b", 2), 1);
  imsg_set_trace_subsys(nullptr);
  EXPECT_EQ(imsg_should_trace("ks/stg", 2), 0);
  imsg_set_trace_verbosity(0);
}

TEST(TraceSelection, VerbosityTextThatIsNotANumberCountsAsZero) {
  setenv("TRACE_VERBOSITY", "high", 1);
  EXPECT_EQ(imsg_get_verbosity_ev(), 0);
  unsetenv("TRACE_VERBOSITY");
  EXPECT_EQ(imsg_get_verbosity_ev(), 0);
}

}  // namespace
