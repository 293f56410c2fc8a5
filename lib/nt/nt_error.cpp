// Windows system error codes mapped onto errno values, and error texts.
#include <orvexnt/nt_error.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "internal/nt_error_tables.h"
#include "internal/nt_tls.h"

#define ROW(name, code, err) \
  { code, err, #name }

// The Windows codes that the platform calls can report, with the errno
// value a POSIX caller expects for the same failure. Kept in ascending
// order of code (the tests check it). Codes not listed map to EINVAL.
const nti_error_row nti_win32_errors[] = {
    ROW(ERROR_INVALID_FUNCTION, 1, EINVAL),
    ROW(ERROR_FILE_NOT_FOUND, 2, ENOENT),
    ROW(ERROR_PATH_NOT_FOUND, 3, ENOENT),
    ROW(ERROR_TOO_MANY_OPEN_FILES, 4, EMFILE),
    ROW(ERROR_ACCESS_DENIED, 5, EACCES),
    ROW(ERROR_INVALID_HANDLE, 6, EBADF),
    ROW(ERROR_ARENA_TRASHED, 7, ENOMEM),
    ROW(ERROR_NOT_ENOUGH_MEMORY, 8, ENOMEM),
    ROW(ERROR_INVALID_BLOCK, 9, ENOMEM),
    ROW(ERROR_BAD_ENVIRONMENT, 10, E2BIG),
    ROW(ERROR_BAD_FORMAT, 11, ENOEXEC),
    ROW(ERROR_INVALID_ACCESS, 12, EINVAL),
    ROW(ERROR_INVALID_DATA, 13, EINVAL),
    ROW(ERROR_OUTOFMEMORY, 14, ENOMEM),
    ROW(ERROR_INVALID_DRIVE, 15, ENOENT),
    ROW(ERROR_CURRENT_DIRECTORY, 16, EACCES),
    ROW(ERROR_NOT_SAME_DEVICE, 17, EXDEV),
    ROW(ERROR_NO_MORE_FILES, 18, ENOENT),
    ROW(ERROR_WRITE_PROTECT, 19, EROFS),
    ROW(ERROR_BAD_UNIT, 20, ENODEV),
    ROW(ERROR_NOT_READY, 21, EAGAIN),
    ROW(ERROR_CRC, 23, EIO),
    ROW(ERROR_SEEK, 25, EIO),
    ROW(ERROR_WRITE_FAULT, 29, EIO),
    ROW(ERROR_READ_FAULT, 30, EIO),
    ROW(ERROR_GEN_FAILURE, 31, EIO),
    ROW(ERROR_SHARING_VIOLATION, 32, EACCES),
    ROW(ERROR_LOCK_VIOLATION, 33, EACCES),
    ROW(ERROR_SHARING_BUFFER_EXCEEDED, 36, ENOLCK),
    ROW(ERROR_HANDLE_DISK_FULL, 39, ENOSPC),
    ROW(ERROR_NOT_SUPPORTED, 50, ENOTSUP),
    ROW(ERROR_BAD_NETPATH, 53, ENOENT),
    ROW(ERROR_UNEXP_NET_ERR, 59, EIO),
    ROW(ERROR_NETNAME_DELETED, 64, ECONNRESET),
    ROW(ERROR_NETWORK_ACCESS_DENIED, 65, EACCES),
    ROW(ERROR_BAD_NET_NAME, 67, ENOENT),
    ROW(ERROR_FILE_EXISTS, 80, EEXIST),
    ROW(ERROR_CANNOT_MAKE, 82, EACCES),
    ROW(ERROR_INVALID_PARAMETER, 87, EINVAL),
    ROW(ERROR_NO_PROC_SLOTS, 89, EAGAIN),
    ROW(ERROR_DRIVE_LOCKED, 108, EACCES),
    ROW(ERROR_BROKEN_PIPE, 109, EPIPE),
    ROW(ERROR_BUFFER_OVERFLOW, 111, ENAMETOOLONG),
    ROW(ERROR_DISK_FULL, 112, ENOSPC),
    ROW(ERROR_INVALID_TARGET_HANDLE, 114, EBADF),
    ROW(ERROR_CALL_NOT_IMPLEMENTED, 120, ENOSYS),
    ROW(ERROR_SEM_TIMEOUT, 121, ETIMEDOUT),
    ROW(ERROR_INSUFFICIENT_BUFFER, 122, ERANGE),
    ROW(ERROR_INVALID_NAME, 123, ENOENT),
    ROW(ERROR_INVALID_LEVEL, 124, EINVAL),
    ROW(ERROR_MOD_NOT_FOUND, 126, ENOENT),
    ROW(ERROR_WAIT_NO_CHILDREN, 128, ECHILD),
    ROW(ERROR_CHILD_NOT_COMPLETE, 129, ECHILD),
    ROW(ERROR_DIRECT_ACCESS_HANDLE, 130, EBADF),
    ROW(ERROR_NEGATIVE_SEEK, 131, EINVAL),
    ROW(ERROR_SEEK_ON_DEVICE, 132, ESPIPE),
    ROW(ERROR_BUSY_DRIVE, 142, EBUSY),
    ROW(ERROR_DIR_NOT_EMPTY, 145, ENOTEMPTY),
    ROW(ERROR_PATH_BUSY, 148, EBUSY),
    ROW(ERROR_NOT_LOCKED, 158, ENOLCK),
    ROW(ERROR_BAD_PATHNAME, 161, ENOENT),
    ROW(ERROR_MAX_THRDS_REACHED, 164, EAGAIN),
    ROW(ERROR_LOCK_FAILED, 167, ENOLCK),
    ROW(ERROR_BUSY, 170, EBUSY),
    ROW(ERROR_ALREADY_EXISTS, 183, EEXIST),
    ROW(ERROR_BAD_EXE_FORMAT, 193, ENOEXEC),
    ROW(ERROR_FILENAME_EXCED_RANGE, 206, ENAMETOOLONG),
    ROW(ERROR_FILE_TOO_LARGE, 223, EFBIG),
    ROW(ERROR_BAD_PIPE, 230, EPIPE),
    ROW(ERROR_PIPE_BUSY, 231, EBUSY),
    ROW(ERROR_NO_DATA, 232, EPIPE),
    ROW(ERROR_PIPE_NOT_CONNECTED, 233, EPIPE),
    ROW(ERROR_MORE_DATA, 234, EMSGSIZE),
    ROW(WAIT_TIMEOUT, 258, ETIMEDOUT),
    ROW(ERROR_NO_MORE_ITEMS, 259, ENOENT),
    ROW(ERROR_DIRECTORY, 267, ENOTDIR),
    ROW(ERROR_EAS_NOT_SUPPORTED, 282, ENOTSUP),
    ROW(ERROR_NOT_OWNER, 288, EPERM),
    ROW(ERROR_INVALID_ADDRESS, 487, EFAULT),
    ROW(ERROR_OPERATION_ABORTED, 995, ECANCELED),
    ROW(ERROR_IO_INCOMPLETE, 996, EAGAIN),
    ROW(ERROR_IO_PENDING, 997, EINPROGRESS),
    ROW(ERROR_NOACCESS, 998, EFAULT),
    ROW(ERROR_INVALID_FLAGS, 1004, EINVAL),
    ROW(ERROR_NO_UNICODE_TRANSLATION, 1113, EILSEQ),
    ROW(ERROR_IO_DEVICE, 1117, EIO),
    ROW(ERROR_NOT_ENOUGH_SERVER_MEMORY, 1130, ENOMEM),
    ROW(ERROR_TOO_MANY_LINKS, 1142, EMLINK),
    ROW(ERROR_DEVICE_NOT_CONNECTED, 1167, ENXIO),
    ROW(ERROR_CONNECTION_REFUSED, 1225, ECONNREFUSED),
    ROW(ERROR_CONNECTION_ABORTED, 1236, ECONNABORTED),
    ROW(ERROR_INVALID_OWNER, 1307, EINVAL),
    ROW(ERROR_INVALID_PRIMARY_GROUP, 1308, EINVAL),
    ROW(ERROR_PRIVILEGE_NOT_HELD, 1314, EPERM),
    ROW(ERROR_NO_SUCH_USER, 1317, ENOENT),
    ROW(ERROR_NO_SUCH_GROUP, 1319, ENOENT),
    ROW(ERROR_NONE_MAPPED, 1332, ENOENT),
    ROW(ERROR_INVALID_ACL, 1336, EINVAL),
    ROW(ERROR_INVALID_SID, 1337, EINVAL),
    ROW(ERROR_INVALID_SECURITY_DESCR, 1338, EINVAL),
    ROW(ERROR_COMMITMENT_LIMIT, 1455, ENOMEM),
    ROW(ERROR_TIMEOUT, 1460, ETIMEDOUT),
    ROW(ERROR_NOT_ENOUGH_QUOTA, 1816, ENOMEM),
    ROW(ERROR_CANT_RESOLVE_FILENAME, 1921, ELOOP),
    ROW(ERROR_NOT_A_REPARSE_POINT, 4390, EINVAL),
};
const size_t nti_win32_error_count =
    sizeof nti_win32_errors / sizeof nti_win32_errors[0];

const nti_error_row *nti_find_error_code(const nti_error_row *table,
                                         size_t count, uint32_t code) {
  for (size_t i = 0; i < count; i++)
    if (table[i].code == code) return &table[i];
  return nullptr;
}

namespace {

// The errno twin of a Windows system or socket code; false when it has none.
bool nti_errno_twin(uint32_t code, int *err) {
  const nti_error_row *row =
      nti_find_error_code(nti_win32_errors, nti_win32_error_count, code);
  if (row == nullptr)
    row = nti_find_error_code(nti_wsa_errors, nti_wsa_error_count, code);
  if (row == nullptr) return false;
  *err = row->err;
  return true;
}

}  // namespace

extern "C" {

NT_API int nt_win32error2errno(uint32_t win32_error) {
  if (win32_error == 0) return 0;
  int err;
  return nti_errno_twin(win32_error, &err) ? err : EINVAL;
}

NT_API const char *nt_get_error_string(uint32_t code, char *buf, size_t size) {
  if (buf == nullptr) {
    nti_tls_t *block = nti_tls();
    if (block == nullptr) return nullptr;
    buf = block->error_string;
    size = sizeof block->error_string;
  }
  if (size == 0) return nullptr;

  int err;
  if (code == 0 || nti_errno_twin(code, &err)) {
    char text[NT_ERROR_STRING_MAX];
    // The GNU strerror_r may return a static string instead of filling text.
    const char *host = strerror_r(code == 0 ? 0 : err, text, sizeof text);
    snprintf(buf, size, "%s", host);
  } else {
    snprintf(buf, size, "Unknown error %u", code);
  }
  return buf;
}

}  // extern "C"
