// Message lists: formatted messages collected into one growing text that
// is shown at once. The collected text grows in chunks of 512 bytes; each
// message is formatted first into a buffer of its own, which grows to fit
// the largest message. Running out of memory is fatal.
#include <orvexks/imsg.h>
#include <orvexks/pfm.h>
#include <orvexks/stg.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "msg/msg_out.h"

namespace {

constexpr uint64_t kOneMsgBufSize = 16384;
constexpr uint64_t kGrowSize = 512;

void create(imsg_list_t *imsg_list_p, int mode) {
  *imsg_list_p = {};
  imsg_list_p->one_msg_buf = static_cast<char *>(stg_malloc(kOneMsgBufSize));
  PFM_ASSERT(imsg_list_p->one_msg_buf != NULL);
  imsg_list_p->one_msg_buf_size = kOneMsgBufSize;
  imsg_list_p->one_msg_buf[0] = '\0';
  imsg_list_p->list_buf = static_cast<char *>(stg_malloc(kGrowSize));
  PFM_ASSERT(imsg_list_p->list_buf != NULL);
  imsg_list_p->list_buf_size = kGrowSize;
  imsg_list_p->list_buf[0] = '\0';
  imsg_list_p->grow_size = kGrowSize;
  imsg_list_p->tag_mode = mode;
}

// Formats into one_msg_buf, replacing it by one that fits when the text
// is longer. The result of the last format.
int format_message(imsg_list_t *imsg_list_p, const void *table, int index,
                   va_list args) {
  // A message that cannot be formatted adds nothing, never an older text.
  imsg_list_p->one_msg_buf[0] = '\0';
  va_list copy;
  va_copy(copy, args);
  int result = imsg_vsnprintf_taggable(
      imsg_list_p->tag_mode, imsg_list_p->one_msg_buf,
      imsg_list_p->one_msg_buf_size, table, index, copy);
  va_end(copy);
  if (result >= 0 &&
      static_cast<uint64_t>(result) >= imsg_list_p->one_msg_buf_size) {
    stg_free(imsg_list_p->one_msg_buf);
    imsg_list_p->one_msg_buf_size = static_cast<uint64_t>(result) + 1;
    imsg_list_p->one_msg_buf =
        static_cast<char *>(stg_malloc(imsg_list_p->one_msg_buf_size));
    PFM_ASSERT(imsg_list_p->one_msg_buf != NULL);
    const int again = imsg_vsnprintf_taggable(
        imsg_list_p->tag_mode, imsg_list_p->one_msg_buf,
        imsg_list_p->one_msg_buf_size, table, index, args);
    // The same message formats to the same length; anything else is fatal.
    const uint64_t result = static_cast<uint64_t>(again < 0 ? 0 : again) + 1;
    PFM_ASSERT(result <= imsg_list_p->one_msg_buf_size);
    return again;
  }
  return result;
}

}  // namespace

extern "C" {

KS_API void imsg_list_create(imsg_list_t *list, int) {
  create(list, IMSG_TAG_NEVER);
}

KS_API void imsg_list_create_taggable(int mode, imsg_list_t *list, int) {
  if (mode < IMSG_TAG_NEVER || mode > IMSG_TAG_ALWAYS) mode = IMSG_TAG_ENABLED;
  create(list, mode);
}

KS_API void imsg_list_reset(imsg_list_t *imsg_list_p) {
  if (imsg_list_p->list_buf_len == 0) return;
  if (imsg_list_p->list_buf_size > kGrowSize) {
    stg_free(imsg_list_p->list_buf);
    imsg_list_p->list_buf = static_cast<char *>(stg_malloc(kGrowSize));
    PFM_ASSERT(imsg_list_p->list_buf != NULL);
    imsg_list_p->list_buf_size = kGrowSize;
  }
  imsg_list_p->list_buf[0] = '\0';
  imsg_list_p->list_buf_len = 0;
}

KS_API void imsg_list_destroy(imsg_list_t *list) {
  if (list == nullptr) return;
  stg_free(list->one_msg_buf);
  stg_free(list->list_buf);
  *list = {};
}

KS_API void imsg_list_add_str(imsg_list_t *imsg_list_p, const char *text) {
  if (text == nullptr || text[0] == '\0') return;
  const uint64_t len = std::strlen(text);
  const uint64_t free_space =
      imsg_list_p->list_buf_size - imsg_list_p->list_buf_len;
  if (len + 1 > free_space) {
    const uint64_t chunk = imsg_list_p->grow_size;
    const uint64_t shortfall = len + 1 - free_space;
    imsg_list_p->list_buf_size += (shortfall + chunk - 1) / chunk * chunk;
    imsg_list_p->list_buf = static_cast<char *>(
        stg_realloc(imsg_list_p->list_buf, imsg_list_p->list_buf_size));
    PFM_ASSERT(imsg_list_p->list_buf != NULL);
  }
  std::memcpy(imsg_list_p->list_buf + imsg_list_p->list_buf_len, text, len + 1);
  imsg_list_p->list_buf_len += len;
}

KS_API void imsg_list_add_msg(imsg_list_t *imsg_list_p, const void *table,
                              int index, ...) {
  va_list args;
  va_start(args, index);
  const int result = format_message(imsg_list_p, table, index, args);
  va_end(args);
  if (result < 0) {
    imsg_list_p->one_msg_buf[imsg_list_p->one_msg_buf_size - 1] = '\0';
    if (ksi_trace_on("ks/imsg", 1)) {
      char line[128];
      imsg_snprintf(
          line, sizeof line,
          "error writing message to `one_msg_buf'. (sz: %I64u).\n", -1,
          static_cast<unsigned long long>(imsg_list_p->one_msg_buf_size));
      std::fputs(line, stderr);
    }
  }
  imsg_list_add_str(imsg_list_p, imsg_list_p->one_msg_buf);
}

KS_API char *imsg_list_get_buf(imsg_list_t *list, char **text) {
  if (text != nullptr) *text = list->list_buf;
  return list->list_buf;
}

KS_API void imsg_list_fprint(imsg_list_t *list, FILE *stream) {
  imsg_fputs(list->list_buf, stream);
  std::fflush(stream);
}

KS_API void imsg_list_print(imsg_list_t *list, int kind) {
  imsg_print(kind, "%s", -1, list->list_buf);
}

}  // extern "C"
