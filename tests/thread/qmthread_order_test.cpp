// Lock-order groups: only a lower level taken under a higher one of the
// same group is a violation.
#include <gtest/gtest.h>

#include <orvexks/qmthread.h>

namespace {

int violations;

void count_violation(qmthread_mutex_t *, qmthread_mutex_t *,
                     qmthread_mutex_group_t *) {
  ++violations;
}

TEST(QmthreadOrder, SameLevelIsNoViolationLowerLevelIs) {
  violations = 0;
  qmthread_mutex_group_t group{count_violation};
  qmthread_mutex_group_t other{count_violation};
  qmthread_mutex_t a, b, low, foreign;
  ASSERT_EQ(qmthread_mutex_init_full(&a, 0, 2, 0, &group), 0);
  ASSERT_EQ(qmthread_mutex_init_full(&b, 0, 2, 0, &group), 0);
  ASSERT_EQ(qmthread_mutex_init_full(&low, 0, 1, 0, &group), 0);
  ASSERT_EQ(qmthread_mutex_init_full(&foreign, 0, 1, 0, &other), 0);

  qmthread_mutex_lock(&a);
  qmthread_mutex_lock(&b);  // the same level
  EXPECT_EQ(violations, 0) << "two mutexes at one level may be held together";
  qmthread_mutex_lock(&foreign);  // lower, but another group
  EXPECT_EQ(violations, 0);
  qmthread_mutex_unlock(&foreign);
  qmthread_mutex_lock(&low);
  EXPECT_EQ(violations, 2) << "one report for each higher mutex held";
  qmthread_mutex_unlock(&low);
  qmthread_mutex_unlock(&b);
  qmthread_mutex_unlock(&a);
  for (qmthread_mutex_t *m : {&a, &b, &low, &foreign})
    qmthread_mutex_destroy(m);
}

}  // namespace
