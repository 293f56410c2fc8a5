// Windows Sockets error codes mapped onto errno values and back. The
// library reports socket failures with the Windows Sockets numbers; the
// sockets underneath are the host's, which fail with errno values.
#include <orvexnt/nt_error.h>

#include <cerrno>
#include <netdb.h>

#include "internal/nt_error_tables.h"

#define ROW(name, code, err) \
  { code, err, #name }

// Every socket code with an errno twin. On this host EWOULDBLOCK equals
// EAGAIN and EOPNOTSUPP equals ENOTSUP, so each errno value appears in one
// row only and the table reads both ways. Codes without a twin (10067,
// 10091-10093, 10101, 11001-11004, ...) are left out.
const nti_error_row nti_wsa_errors[] = {
    ROW(WSAEINTR, 10004, EINTR),
    ROW(WSAEBADF, 10009, EBADF),
    ROW(WSAEACCES, 10013, EACCES),
    ROW(WSAEFAULT, 10014, EFAULT),
    ROW(WSAEINVAL, 10022, EINVAL),
    ROW(WSAEMFILE, 10024, EMFILE),
    ROW(WSAEWOULDBLOCK, 10035, EWOULDBLOCK),
    ROW(WSAEINPROGRESS, 10036, EINPROGRESS),
    ROW(WSAEALREADY, 10037, EALREADY),
    ROW(WSAENOTSOCK, 10038, ENOTSOCK),
    ROW(WSAEDESTADDRREQ, 10039, EDESTADDRREQ),
    ROW(WSAEMSGSIZE, 10040, EMSGSIZE),
    ROW(WSAEPROTOTYPE, 10041, EPROTOTYPE),
    ROW(WSAENOPROTOOPT, 10042, ENOPROTOOPT),
    ROW(WSAEPROTONOSUPPORT, 10043, EPROTONOSUPPORT),
    ROW(WSAESOCKTNOSUPPORT, 10044, ESOCKTNOSUPPORT),
    ROW(WSAEOPNOTSUPP, 10045, EOPNOTSUPP),
    ROW(WSAEPFNOSUPPORT, 10046, EPFNOSUPPORT),
    ROW(WSAEAFNOSUPPORT, 10047, EAFNOSUPPORT),
    ROW(WSAEADDRINUSE, 10048, EADDRINUSE),
    ROW(WSAEADDRNOTAVAIL, 10049, EADDRNOTAVAIL),
    ROW(WSAENETDOWN, 10050, ENETDOWN),
    ROW(WSAENETUNREACH, 10051, ENETUNREACH),
    ROW(WSAENETRESET, 10052, ENETRESET),
    ROW(WSAECONNABORTED, 10053, ECONNABORTED),
    ROW(WSAECONNRESET, 10054, ECONNRESET),
    ROW(WSAENOBUFS, 10055, ENOBUFS),
    ROW(WSAEISCONN, 10056, EISCONN),
    ROW(WSAENOTCONN, 10057, ENOTCONN),
    ROW(WSAESHUTDOWN, 10058, ESHUTDOWN),
    ROW(WSAETOOMANYREFS, 10059, ETOOMANYREFS),
    ROW(WSAETIMEDOUT, 10060, ETIMEDOUT),
    ROW(WSAECONNREFUSED, 10061, ECONNREFUSED),
    ROW(WSAELOOP, 10062, ELOOP),
    ROW(WSAENAMETOOLONG, 10063, ENAMETOOLONG),
    ROW(WSAEHOSTDOWN, 10064, EHOSTDOWN),
    ROW(WSAEHOSTUNREACH, 10065, EHOSTUNREACH),
    ROW(WSAENOTEMPTY, 10066, ENOTEMPTY),
    ROW(WSAEUSERS, 10068, EUSERS),
    ROW(WSAEDQUOT, 10069, EDQUOT),
    ROW(WSAESTALE, 10070, ESTALE),
    ROW(WSAEREMOTE, 10071, EREMOTE),
};
const size_t nti_wsa_error_count =
    sizeof nti_wsa_errors / sizeof nti_wsa_errors[0];

namespace {

constexpr int kWsaHostNotFound = 11001;
constexpr int kWsaTryAgain = 11002;
constexpr int kWsaNoRecovery = 11003;
constexpr int kWsaNoData = 11004;
constexpr int kWsaTypeNotFound = 10109;

}  // namespace

extern "C" {

NT_API int nt_errno2wsa(int err) {
  for (size_t i = 0; i < nti_wsa_error_count; i++)
    if (nti_wsa_errors[i].err == err)
      return static_cast<int>(nti_wsa_errors[i].code);
  return err;
}

NT_API int nt_wsa2errno(int wsa_error) {
  if (wsa_error < 0) return wsa_error;
  const nti_error_row *row = nti_find_error_code(
      nti_wsa_errors, nti_wsa_error_count, static_cast<uint32_t>(wsa_error));
  return row ? row->err : wsa_error;
}

NT_API int nt_eai2wsa(int eai_error) {
  switch (eai_error) {
    case 0:
      return 0;
    case EAI_NONAME:
      return kWsaHostNotFound;
    case EAI_AGAIN:
      return kWsaTryAgain;
    case EAI_FAIL:
      return kWsaNoRecovery;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return kWsaNoData;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      return kWsaNoData;
#endif
    case EAI_FAMILY:
      return nt_errno2wsa(EAFNOSUPPORT);
    case EAI_SOCKTYPE:
      return nt_errno2wsa(ESOCKTNOSUPPORT);
    case EAI_SERVICE:
      return kWsaTypeNotFound;
    case EAI_MEMORY:
      return nt_errno2wsa(ENOBUFS);
    case EAI_BADFLAGS:
      return nt_errno2wsa(EINVAL);
    case EAI_OVERFLOW:
      return nt_errno2wsa(EFAULT);
    case EAI_SYSTEM:
      return nt_errno2wsa(errno);
    default:
      return kWsaNoRecovery;
  }
}

}  // extern "C"
