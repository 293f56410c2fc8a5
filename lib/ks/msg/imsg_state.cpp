// Message state set up on first use, kind prefixes, the capture log and
// the tagging switch.
#include "msg/msg_state.h"

#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include <orvexks/strutl.h>
#include <orvexnt/nt_env.h>

#include "msg/imsg_msgs.h"
#include "msg/msg_lock.h"
#include "msg/msg_lookup.h"
#include "msg/msg_out.h"

ksi_msg_state_t ksi_msg_state = {
    "noname", false,
    false,    false,
    false,    false,
    nullptr,  {"Ok: ", "Warning: ", "Error: ", "System message: "}};
std::atomic<bool> ksi_msg_tagging{false};
std::atomic<bool> ksi_msg_taggable{false};
std::atomic<bool> ksi_msg_capturing{false};
std::atomic<bool> ksi_msg_capture_active{false};

namespace {

std::atomic<bool> initialised{false};

enum { kWordOk, kWordWarning, kWordError, kWordSystem };

bool env_set(const char *name) {
  const char *value = nt_getenv_safe(name);
  return value != nullptr && value[0] != '\0';
}

void start_capture_log() {
  const char *name = nt_getenv_safe("QUILLMERE_IMSG_CAPTURE_LOG");
  if (name == nullptr || name[0] == '\0') return;
  size_t size = std::strlen(name) + 24;
  char *path = static_cast<char *>(std::malloc(size));
  if (path == nullptr) return;
  std::snprintf(path, size, "%s.%d", name, static_cast<int>(getpid()));
  FILE *log = std::fopen(path, "a+");
  if (log == nullptr) {
    std::free(path);
    return;
  }
  std::fputs("## library : subsys : msg ID : msg text\n", log);
  std::fclose(log);
  ksi_msg_state.capture_log = path;
  ksi_msg_capture_active.store(true);
}

// The kind words live for the process; a translation is copied because the
// lookup's own copy is replaced by the thread's next lookup.
void look_up_kind_words() {
  static const int indices[4] = {KSI_IMSG_PREFIX_OK, KSI_IMSG_PREFIX_WARNING,
                                 KSI_IMSG_PREFIX_ERROR, KSI_IMSG_PREFIX_SYSTEM};
  for (int i = 0; i < 4; ++i) {
    const char *word = ksi_msg_lookup(&ksi_imsg_msgs, indices[i]);
    if (word == ksi_imsg_msgs.texts[indices[i]]) {
      ksi_msg_state.kind_words[i] = word;
    } else {
      char *copy = strdup(word);
      if (copy != nullptr) ksi_msg_state.kind_words[i] = copy;
    }
  }
}

// Appends `word` to the prefix format with every '%' doubled, so a
// translated word cannot introduce a conversion.
void append_word(char *fmt, size_t size, const char *word) {
  size_t len = std::strlen(fmt);
  for (; *word != '\0' && len + 2 < size; ++word) {
    if (*word == '%') fmt[len++] = '%';
    fmt[len++] = *word;
  }
  fmt[len] = '\0';
}

// Local time "%H:%M:%S" and the milliseconds as ".mmm".
void timestamp(char *out, size_t size) {
  timeval tv;
  gettimeofday(&tv, nullptr);
  tm local;
  time_t seconds = tv.tv_sec;
  localtime_r(&seconds, &local);
  char clock[16];
  std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
  strutl_snprintf(out, size, "%s.%.3ld", clock,
                  static_cast<long>(tv.tv_usec / 1000));
}

// Builds the prefix format of `kind` into fmt; kinds without a prefix get
// an empty format.
void prefix_format(char *fmt, size_t size, int kind, bool show_subsys) {
  const ksi_msg_state_t &st = ksi_msg_state;
  fmt[0] = '\0';
  bool app_prefix = kind == IMSG_WARNING || kind == IMSG_ERROR ||
                    ((kind == IMSG_OK || kind == IMSG_INFO) && st.info_prefix);
  if (app_prefix) strutl_cpy_buf(fmt, show_subsys ? "%s/%s: " : "%s: ", size);
  if (kind == IMSG_TRACE)
    strutl_cpy_buf(fmt,
                   show_subsys ? ">>> %s (%s/%s): " : ">>> %s (%s): ", size);
  if (kind == IMSG_OK && st.info_prefix)
    append_word(fmt, size, st.kind_words[kWordOk]);
  if (kind == IMSG_WARNING) append_word(fmt, size, st.kind_words[kWordWarning]);
  if (kind == IMSG_ERROR) append_word(fmt, size, st.kind_words[kWordError]);
}

// Expands a prefix format as snprintf would (the length it wanted, the text
// cut to fit). The formats are the templates above and kind words with
// '%' doubled, so "%s" and "%%" are their only conversions; spelling them
// out here spares every message a formatter call for its prefix.
int expand_prefix(char *out, size_t size, const char *fmt,
                  std::initializer_list<const char *> args) {
  const char *const *arg = args.begin();
  size_t len = 0;
  auto put = [&](char c) {
    if (len + 1 < size) out[len] = c;
    ++len;
  };
  for (const char *p = fmt; *p != '\0'; ++p) {
    if (*p != '%') {
      put(*p);
    } else if (*++p == '%') {
      put('%');
    } else if (*p == 's' && arg != args.end()) {
      const char *text = *arg++;
      for (const char *s = text != nullptr ? text : "(null)"; *s != '\0'; ++s)
        put(*s);
    } else {
      break;  // not a prefix format; never built above
    }
  }
  if (size > 0) out[len < size ? len : size - 1] = '\0';
  return static_cast<int>(len);
}

}  // namespace

void ksi_msg_init(void) {
  if (initialised.load(std::memory_order_acquire)) return;
  qmthread_mutex_lock(&ksi_msg_lock);
  if (!initialised.load(std::memory_order_relaxed)) {
    bool ok_prefix = env_set("PRINT_SUBSYS_OK");
    ksi_msg_state.print_subsys = env_set("PRINT_SUBSYS") || ok_prefix;
    ksi_msg_state.info_prefix = ok_prefix;
    ksi_msg_state.print_status = env_set("QUILLMERE_PRINT_WIN32_STATUS");
    const char *ate = nt_getenv_safe("QUILLMERE_ENABLE_ATE_MESSAGES");
    if (ate != nullptr && strutl_stricoll(ate, "True") == 0)
      ksi_msg_tagging.store(true);
    ksi_msg_output_init();
    start_capture_log();
    // Marked before the kind words are looked up: the lookup may print.
    initialised.store(true, std::memory_order_release);
    look_up_kind_words();
  }
  qmthread_mutex_unlock(&ksi_msg_lock);
}

namespace {

void check_kind(int kind) {
  if (kind < IMSG_OK || kind > IMSG_OTHER) {
    imsg_print(IMSG_ERROR, &ksi_imsg_msgs, KSI_IMSG_UNKNOWN_TYPE, kind,
               "lib/ks/imsg", __LINE__);
  }
}

// The prefix, with the message lock held.
int expanded_prefix(char *out, size_t size, int kind, const char *subsys) {
  const ksi_msg_state_t &st = ksi_msg_state;
  bool show_subsys = subsys != nullptr && subsys[0] != '\0' &&
                     (st.print_subsys || st.log_active);
  char fmt[128];
  if (st.suppress_prefix) {
    fmt[0] = '\0';
  } else if (kind < IMSG_OK || kind > IMSG_OTHER) {
    fmt[0] = '\0';
    append_word(fmt, sizeof fmt, st.kind_words[kWordSystem]);
  } else {
    prefix_format(fmt, sizeof fmt, kind, show_subsys);
  }
  int len;
  if (kind == IMSG_TRACE && fmt[0] != '\0') {
    char clock[32];
    timestamp(clock, sizeof clock);
    len = expand_prefix(out, size, fmt, {clock, st.app_name, subsys});
  } else {
    len = expand_prefix(out, size, fmt, {st.app_name, subsys});
  }
  return len;
}

}  // namespace

int ksi_msg_prefix(char *out, size_t size, int kind, const char *subsys) {
  ksi_msg_init();
  check_kind(kind);
  qmthread_mutex_lock(&ksi_msg_lock);
  int len = expanded_prefix(out, size, kind, subsys);
  qmthread_mutex_unlock(&ksi_msg_lock);
  return len;
}

int ksi_msg_prefix_locked(char *out, size_t size, int kind,
                          const char *subsys) {
  check_kind(kind);
  return expanded_prefix(out, size, kind, subsys);
}

void ksi_msg_capture(const ks_msg_table_t *table, int index) {
  qmthread_mutex_lock(&ksi_msg_lock);
  if (ksi_msg_state.capture_log != nullptr) {
    FILE *log = std::fopen(ksi_msg_state.capture_log, "a+");
    if (log != nullptr) {
      std::fprintf(log, "%s : %s : %d : %s\n", table->catalog, table->subsys,
                   static_cast<int>(table->ids[index]), table->texts[index]);
      std::fclose(log);
    }
  }
  qmthread_mutex_unlock(&ksi_msg_lock);
}

extern "C" {

void imsg_ate_enable_tagging(void) {
  ksi_msg_init();
  ksi_msg_tagging.store(true);
}

void imsg_ate_disable_tagging(void) {
  ksi_msg_init();
  ksi_msg_tagging.store(false);
}

int imsg_ate_tagging_is_enabled(void) {
  ksi_msg_init();
  return ksi_msg_tagging.load() ? 1 : 0;
}

}  // extern "C"
