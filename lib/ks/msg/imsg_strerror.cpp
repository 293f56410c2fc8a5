// Error numbers as text: C library errors by the C library, socket errors
// by the translatable "[WINSOCK] " texts of the imsg table, anything else
// as its number.
#include <orvexks/imsg.h>

#include <cerrno>
#include <cstring>

#include <orvexks/strutl.h>
#include <orvexnt/nt_error.h>

#include "msg/imsg_msgs.h"
#include "msg/msg_lookup.h"
#include "msg/msg_state.h"
#include "msg/msg_tls.h"

namespace {

// One past the highest error number the C library has a text for.
#ifdef EHWPOISON
constexpr int kErrnoCount = EHWPOISON + 1;
#else
constexpr int kErrnoCount = 134;
#endif

struct socket_error {
  int code;
  int16_t index;  // of its text in the imsg table
};

// Searched in this order; the first match wins.
constexpr socket_error kSocketErrors[] = {
    {10004, 20}, {10009, 21}, {10013, 22}, {10014, 23}, {10022, 24},
    {10024, 25}, {10035, 26}, {10036, 27}, {10037, 28}, {10038, 29},
    {10039, 30}, {10040, 31}, {10041, 32}, {10042, 33}, {10043, 34},
    {10044, 35}, {10045, 36}, {10046, 37}, {10047, 38}, {10048, 39},
    {10049, 40}, {10050, 41}, {10051, 42}, {10052, 43}, {10053, 44},
    {10054, 45}, {10055, 46}, {10056, 47}, {10057, 48}, {10058, 49},
    {10059, 50}, {10060, 51}, {10061, 52}, {10062, 53}, {10063, 54},
    {10064, 55}, {10065, 56}, {10066, 57}, {10067, 58}, {10068, 59},
    {10069, 60}, {10070, 61}, {10071, 62}, {10101, 63}, {10091, 64},
    {10092, 65}, {10093, 66}, {11001, 67}, {11002, 68}, {11003, 69},
    {11004, 70}, {10102, 78}, {10103, 79}, {10104, 80}, {10105, 81},
    {10106, 82}, {10107, 83}, {10108, 84}, {10109, 85}, {10110, 86},
    {10111, 87}, {10112, 88}, {997, 89},   {996, 90},   {6, 91},
    {87, 92},    {8, 93},     {995, 94},
};

const char *socket_text(int err) {
  for (const socket_error &e : kSocketErrors)
    if (e.code == err) return ksi_msg_lookup(&ksi_imsg_msgs, e.index);
  return nullptr;
}

}  // namespace

extern "C" {

// The "last error" codes of the status variant are the thread's errno as it
// was on entry, and the socket code the companion library maps it to.
const char *imsg_strerror(int err) {
  const int saved = errno;
  ksi_msg_init();
  ksi_msg_tls_t &tls = ksi_msg_tls();
  const bool status = ksi_msg_state.print_status;
  const unsigned os_code = static_cast<unsigned>(saved);
  char *out = tls.strerror_result;
  const size_t out_size = sizeof tls.strerror_result;
  char *compose = tls.strerror_compose;
  const size_t compose_size = sizeof tls.strerror_compose;

  if (err > 0 && err < kErrnoCount) {
    char text[256];
    const char *c_text = strerror_r(err, text, sizeof text);
    if (status) {
      strutl_snprintf(compose, compose_size, "[0x%08x, 0x%08x] %s", os_code,
                      os_code, c_text);
      strutl_cpy_buf(out, compose, out_size);
    } else {
      strutl_cpy_buf(out, c_text, out_size);
    }
  } else if (const char *s_text = socket_text(err)) {
    if (status) {
      unsigned socket_code = static_cast<unsigned>(nt_errno2wsa(saved));
      strutl_snprintf(compose, compose_size, "[0x%08x, 0x%08x] %s", socket_code,
                      os_code, s_text);
      strutl_cpy_buf(out, compose, out_size);
    } else {
      strutl_cpy_buf(out, s_text, out_size);
    }
  } else if (status) {
    strutl_snprintf(out, out_size, "[0x%08x, 0x%08x] %ld", os_code, os_code,
                    static_cast<long>(err));
  } else {
    strutl_snprintf(out, out_size, "%ld", static_cast<long>(err));
  }
  errno = saved;
  return out;
}

}  // extern "C"
