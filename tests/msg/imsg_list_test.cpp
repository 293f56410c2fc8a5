// Message lists: growth of the collected text, messages longer than the
// message buffer, tagging modes, reset and destroy, and the printed form
// to a stream and through message output.
#include <orvexks/imsg.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "internal/nt_alloc_fault.h"

#include "msg_fixture.h"

namespace {

using msg_test::collect;

const char *const kTexts[] = {"Disk %s is full\n", "%s\n"};
const int16_t kIds[] = {1, 2};
const ks_msg_table_t kTable = {"ks_lib", "qmtest", 6, 2, kTexts, kIds};

std::string text_of(imsg_list_t *list) {
  char *text = nullptr;
  char *returned = imsg_list_get_buf(list, &text);
  EXPECT_EQ(returned, text);
  return text;
}

TEST(ImsgList, TextGrowsInChunksAndResetShrinksIt) {
  imsg_list_t list;
  imsg_list_create(&list, 0);
  EXPECT_EQ(list.list_buf_size, 512u);
  EXPECT_EQ(list.one_msg_buf_size, 16384u);
  EXPECT_EQ(list.tag_mode, IMSG_TAG_NEVER);
  imsg_list_add_str(&list, nullptr);
  imsg_list_add_str(&list, "");
  EXPECT_EQ(list.list_buf_len, 0u);
  // 511 bytes and the NUL fill the first chunk exactly.
  imsg_list_add_str(&list, std::string(511, 'a').c_str());
  EXPECT_EQ(list.list_buf_size, 512u);
  imsg_list_add_str(&list, "b");
  EXPECT_EQ(list.list_buf_size, 1024u);
  imsg_list_add_str(&list, std::string(1100, 'c').c_str());
  EXPECT_EQ(list.list_buf_size, 2048u);
  EXPECT_EQ(list.list_buf_len, 1612u);
  EXPECT_EQ(text_of(&list),
            std::string(511, 'a') + "b" + std::string(1100, 'c'));
  imsg_list_reset(&list);
  EXPECT_EQ(list.list_buf_size, 512u);
  EXPECT_EQ(text_of(&list), "");
  imsg_list_add_str(&list, std::string(600, 'd').c_str());
  EXPECT_EQ(list.list_buf_size, 1024u);
  imsg_list_destroy(&list);
  EXPECT_EQ(list.list_buf, nullptr);
  EXPECT_EQ(list.one_msg_buf, nullptr);
  EXPECT_EQ(list.list_buf_size, 0u);
  imsg_list_destroy(nullptr);
}

TEST(ImsgList, MessagesAreFormattedWhateverTheirLength) {
  imsg_list_t list;
  imsg_list_create(&list, 0);
  imsg_list_add_msg(&list, &kTable, 0, "C:");
  imsg_list_add_msg(&list, "raw %d;", -1, 7);
  const std::string big(20000, 'x');
  imsg_list_add_msg(&list, &kTable, 1, big.c_str());
  EXPECT_EQ(list.one_msg_buf_size, big.size() + 2);
  // A bad index adds nothing, not even the previous message again.
  imsg_list_add_msg(&list, &kTable, 9);
  EXPECT_EQ(text_of(&list), "Disk C: is full\nraw 7;" + big + "\n");
  imsg_list_destroy(&list);
}

TEST(ImsgList, TaggingModeDecidesWhetherMessagesAreTagged) {
  imsg_list_t never, always, odd;
  imsg_list_create(&never, 0);
  imsg_list_create_taggable(IMSG_TAG_ALWAYS, &always, 0);
  imsg_list_create_taggable(7, &odd, 0);
  EXPECT_EQ(odd.tag_mode, IMSG_TAG_ENABLED);
  imsg_ate_enable_tagging();
  for (imsg_list_t *list : {&never, &always, &odd})
    imsg_list_add_msg(list, &kTable, 0, "E:");
  imsg_ate_disable_tagging();
  imsg_list_add_msg(&always, &kTable, 0, "F:");
  char tagged_e[512], tagged_f[512];
  imsg_snprintf_taggable(IMSG_TAG_ALWAYS, tagged_e, sizeof tagged_e, &kTable, 0,
                         "E:");
  imsg_snprintf_taggable(IMSG_TAG_ALWAYS, tagged_f, sizeof tagged_f, &kTable, 0,
                         "F:");
  ASSERT_STRNE(tagged_e, "Disk E: is full\n");
  EXPECT_EQ(text_of(&never), "Disk E: is full\n");
  EXPECT_EQ(text_of(&odd), tagged_e);
  EXPECT_EQ(text_of(&always), std::string(tagged_e) + tagged_f);
  for (imsg_list_t *list : {&never, &always, &odd}) imsg_list_destroy(list);
}

TEST(ImsgList, PrintedFormGoesToAStreamOrThroughMessageOutput) {
  imsg_list_t list;
  imsg_list_create(&list, 0);
  imsg_list_add_msg(&list, &kTable, 0, "G:");
  imsg_list_add_str(&list, "100% done\n");
  FILE *stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  imsg_list_fprint(&list, stream);
  std::rewind(stream);
  char line[64] = {};
  std::string written;
  while (std::fgets(line, sizeof line, stream) != nullptr) written += line;
  std::fclose(stream);
  EXPECT_EQ(written, "Disk G: is full\n100% done\n");

  std::vector<std::string> seen;
  imsg_writer_t writers[IMSG_REDIRECT_SLOTS];
  for (imsg_writer_t &w : writers) w = collect;
  imsg_set_redirect_procs(writers, IMSG_REDIRECT_SLOTS, &seen);
  imsg_list_print(&list, IMSG_OK);
  imsg_list_print(&list, IMSG_WARNING);
  for (imsg_writer_t &w : writers) w = imsg_console_writer;
  imsg_set_redirect_procs(writers, IMSG_REDIRECT_SLOTS, nullptr);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], "Disk G: is full\n100% done\n");
  EXPECT_EQ(seen[1], std::string(imsg_get_app_name()) +
                         ": Warning: Disk G: is full\n100% done\n");
  imsg_list_destroy(&list);
}

#ifdef ORVEX_ALLOC_FAULTS
TEST(ImsgList, RunningOutOfMemoryIsFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  imsg_list_t list;
  EXPECT_DEATH(
      {
        nt_alloc_fault_arm(1);
        imsg_list_create(&list, 0);
      },
      "imsg_list_p->one_msg_buf != NULL");
  imsg_list_create(&list, 0);
  EXPECT_DEATH(
      {
        nt_alloc_fault_arm(1);
        imsg_list_add_str(&list, std::string(600, 'x').c_str());
      },
      "imsg_list_p->list_buf != NULL");
  imsg_list_destroy(&list);
}
#endif

}  // namespace
