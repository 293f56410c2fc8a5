// Output state and its settings: redirection slots and writers, the
// application name and its event category, prefix switches and the clock
// callback.
#include "msg/msg_out.h"
#include "internal/cli_log.h"

#include <orvexks/ks_product.h>

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include <orvexnt/nt_env.h>

#include "msg/msg_lock.h"
#include "msg/msg_state.h"
#include "thread/qmthread_internal.h"
#include "thread/tls_impl.h"

qmthread_mutex_t ksi_msg_lock = QMTHREAD_MUTEX_INITIALIZER;
KSI_FORK_GUARDED(ksi_msg_lock);
ksi_msg_output_t ksi_msg_out = {};

namespace {

constexpr int kDefaultCategory = 8;

// The stored name when not "noname".
char *app_name_copy KSI_GUARDED_BY(ksi_msg_lock) = nullptr;

// Program-name prefixes of the product's servers and tools and their event
// categories (8 and 15 are unassigned). No entry is a prefix of another, so
// the scan order never changes the result.
struct category_entry {
  const char *prefix;
  int category;
};
const category_entry kCategories[] = {
    {"quilld", 1},    {"quillsrv", 2},    {"qmlockd", 3},   {"qmvobd", 4},
    {"qmadmin", 5},   {"qmviewd", 6},     {"qmshipd", 7},   {"qmexportd", 9},
    {"qmimport", 10}, {"qmsyncd", 11},    {"qmalbd", 12},   {"qmdbd", 13},
    {"qmcredd", 14},  {"qmpromote", 16},  {"qmscrub", 17},  {"qmreplica", 18},
    {"qmmkview", 19}, {"qmcheckvob", 20}, {"qmrgyd", 21},   {"qmtool", 22},
    {"quillexp", 23}, {"quillmerge", 24}, {"quillgui", 25}, {"qmdiff", 26},
    {"qmwebd", 27},   {"qmnotify", 28},   {"qmbackup", 29}, {"qmrestore", 30},
};

bool env_set(const char *name) {
  const char *value = nt_getenv_safe(name);
  return value != nullptr && value[0] != '\0';
}

bool terminal_takes_bold() {
  const char *term = nt_getenv_safe("TERM");
  if (term == nullptr || term[0] == '\0' || std::strcmp(term, "dumb") == 0)
    return false;
  return ks_no_bold() == 0;
}

bool prefix_of(const char *prefix, const char *name) {
  for (; *prefix != '\0'; ++prefix, ++name)
    if (std::tolower(static_cast<unsigned char>(*prefix)) !=
        std::tolower(static_cast<unsigned char>(*name)))
      return false;
  return true;
}

// Output kinds redirected by imsg_redirect_output are delivered again as
// kind 0 (or 6) with the stored writer; null stands for the console.
void out_relay(void *, const char *text) {
  qmthread_mutex_lock(&ksi_msg_lock);
  imsg_writer_t writer = ksi_msg_out.out_writer;
  ksi_msg_deliver(writer != nullptr ? writer : imsg_console_writer, IMSG_OK,
                  ksi_msg_out.out_arg, text);
  qmthread_mutex_unlock(&ksi_msg_lock);
}

void err_relay(void *, const char *text) {
  qmthread_mutex_lock(&ksi_msg_lock);
  imsg_writer_t writer = ksi_msg_out.err_writer;
  ksi_msg_deliver(writer != nullptr ? writer : imsg_console_writer, IMSG_ERROR,
                  ksi_msg_out.err_arg, text);
  qmthread_mutex_unlock(&ksi_msg_lock);
}

imsg_writer_t slot_for(imsg_writer_t writer, imsg_writer_t relay) {
  if (writer == imsg_console_writer) return nullptr;
  if (writer == imsg_discard_writer) return imsg_discard_writer;
  return relay;
}

int set_flag(bool *flag, int on) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  int previous = *flag ? 1 : 0;
  *flag = on != 0;
  qmthread_mutex_unlock(&ksi_msg_lock);
  return previous;
}

}  // namespace

void ksi_msg_output_init(void) {
  ksi_msg_output_t &out = ksi_msg_out;
  out.err_stream = stderr;
  out.out_stream = stdout;
  out.dup_output = -1;
  out.category.store(kDefaultCategory);
  out.interleave = env_set("IMSG_IO_INTERLEAVE");
  out.bold_allowed = isatty(STDOUT_FILENO) == 1 && terminal_takes_bold();
}

void ksi_msg_set_log_stream(FILE *stream) {
  ksi_msg_out.log_stream = stream;
  ksi_msg_state.log_active = stream != nullptr;
}

// imsg_get_app_name's per-thread copy (malloc).
struct app_name_tls {
  char *copy;
};
static void app_name_tls_cleanup(void *record) {
  std::free(static_cast<app_name_tls *>(record)->copy);
}
static ksi_tls_slot_t app_name_slot =
    KSI_TLS_SLOT_INIT(app_name_tls, app_name_tls_cleanup);

extern "C" {

void imsg_discard_writer(void *, const char *) {}

void imsg_redirect_output(imsg_writer_t out_writer, void *out_arg,
                          imsg_writer_t err_writer, void *err_arg) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  ksi_msg_output_t &out = ksi_msg_out;
  out.out_writer = out_writer;
  out.out_arg = out_arg;
  out.err_writer = err_writer;
  out.err_arg = err_arg;
  for (int slot = 0; slot <= 1; ++slot)
    out.slots[slot] = slot_for(out_writer, out_relay);
  for (int slot = 4; slot <= 9; ++slot)
    out.slots[slot] = slot_for(err_writer, err_relay);
  qmthread_mutex_unlock(&ksi_msg_lock);
}

void imsg_use_window(const imsg_window_writers_t *writers) {
  if (writers == nullptr) {
    imsg_redirect_output(nullptr, nullptr, nullptr, nullptr);
    return;
  }
  imsg_redirect_output(writers->writer, writers->arg, writers->writer,
                       writers->arg);
}

void imsg_get_redirect_info(imsg_writer_t *out_writer, void **out_arg,
                            imsg_writer_t *err_writer, void **err_arg) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  if (out_writer != nullptr) *out_writer = ksi_msg_out.out_writer;
  if (out_arg != nullptr) *out_arg = ksi_msg_out.out_arg;
  if (err_writer != nullptr) *err_writer = ksi_msg_out.err_writer;
  if (err_arg != nullptr) *err_arg = ksi_msg_out.err_arg;
  qmthread_mutex_unlock(&ksi_msg_lock);
}

void imsg_set_redirect_procs(const imsg_writer_t *writers, int n, void *arg) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  for (int slot = 0; slot < n && slot < IMSG_REDIRECT_SLOTS; ++slot)
    ksi_msg_out.slots[slot] =
        writers[slot] == imsg_console_writer ? nullptr : writers[slot];
  ksi_msg_out.redirect_arg = arg;
  qmthread_mutex_unlock(&ksi_msg_lock);
}

void imsg_get_redirect_procs(int n, imsg_writer_t *writers, void **arg) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  for (int slot = 0; slot < n && slot < IMSG_REDIRECT_SLOTS; ++slot) {
    imsg_writer_t writer = ksi_msg_out.slots[slot];
    writers[slot] = writer != nullptr ? writer : imsg_console_writer;
  }
  if (arg != nullptr) *arg = ksi_msg_out.redirect_arg;
  qmthread_mutex_unlock(&ksi_msg_lock);
}

int imsg_in_gui(void) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  int in_gui = ksi_msg_out.slots[0] != nullptr ? 1 : 0;
  qmthread_mutex_unlock(&ksi_msg_lock);
  return in_gui;
}

int imsg_output_subsys(int on) {
  return set_flag(&ksi_msg_state.print_subsys, on);
}

int imsg_suppress_prefix(int on) {
  return set_flag(&ksi_msg_state.suppress_prefix, on);
}

void imsg_nt_set_category(const char *name) {
  int category = 0;
  for (const category_entry &entry : kCategories)
    if (name != nullptr && prefix_of(entry.prefix, name))
      category = entry.category;
  ksi_msg_out.category.store(category != 0 ? category : kDefaultCategory);
}

int imsg_nt_event_type(int kind) {
  switch (kind) {
    case IMSG_OK:
    case IMSG_OUTPUT:
    case IMSG_INFO:
    case IMSG_OUTPUT_ALT:
    case IMSG_TRACE:
    case IMSG_TRACE_PLAIN:
      return 4;
    case IMSG_WARNING:
    case IMSG_WARNING_PLAIN:
      return 2;
    default:
      return 1;
  }
}

void imsg_set_app_name(const char *name) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  char *copy = nullptr;
  if (name != nullptr) {
    const char *base = name;
    for (const char *p = name; *p != '\0'; ++p)
      if (*p == '/' || *p == '\\') base = p + 1;
    copy = strdup(base);
  }
  if (copy != nullptr) {
    imsg_nt_set_category(copy);
    char *ext = std::strstr(copy, ".exe");
    if (ext == nullptr) ext = std::strstr(copy, ".EXE");
    if (ext != nullptr) std::memmove(ext, ext + 4, std::strlen(ext + 4) + 1);
  }
  ksi_msg_state.app_name = copy != nullptr ? copy : "noname";
  std::free(app_name_copy);
  app_name_copy = copy;
  qmthread_mutex_unlock(&ksi_msg_lock);
  // Outside the lock: logging the command line prints and reads settings.
  if (copy != nullptr && imsg_get_desired_verbosity() >= 1 &&
      imsg_should_trace("ks/imsg", 1))
    ksi_clp_log_app_name(imsg_get_app_name());
}

const char *imsg_get_app_name(void) {
  ksi_msg_init();
  app_name_tls *tls = ksi_tls_record<app_name_tls>(&app_name_slot);
  qmthread_mutex_lock(&ksi_msg_lock);
  char *copy = tls != nullptr ? strdup(ksi_msg_state.app_name) : nullptr;
  qmthread_mutex_unlock(&ksi_msg_lock);
  if (copy == nullptr) return "noname";
  std::free(tls->copy);
  tls->copy = copy;
  return copy;
}

void imsg_set_clock_callback(imsg_clock_fn_t fn, void *arg) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  ksi_msg_out.clock_fn = fn;
  ksi_msg_out.clock_arg = arg;
  qmthread_mutex_unlock(&ksi_msg_lock);
}

long imsg_clock(void) {
  ksi_msg_init();
  qmthread_mutex_lock(&ksi_msg_lock);
  imsg_clock_fn_t fn = ksi_msg_out.clock_fn;
  void *arg = ksi_msg_out.clock_arg;
  qmthread_mutex_unlock(&ksi_msg_lock);
  return fn != nullptr ? fn(arg) : 0;
}

void imsg_starting_process(void) {}

}  // extern "C"
