// Host failures of the descriptor layer reported as Windows codes.
#include <cerrno>

#include "internal/nt_sd_internal.h"

int nti_errno_to_win32(int err) {
  switch (err) {
    case 0:
      return 0;
    case ENOENT:
      return NTI_ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return NTI_ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
      return NTI_ERROR_ACCESS_DENIED;
    case EBADF:
      return 6;  // ERROR_INVALID_HANDLE
    case ENOMEM:
      return NTI_ERROR_NOT_ENOUGH_MEMORY;
    case EROFS:
      return 19;  // ERROR_WRITE_PROTECT
    case EEXIST:
      return NTI_ERROR_ALREADY_EXISTS;
    case ENOSPC:
    case EDQUOT:
      return 112;  // ERROR_DISK_FULL
    case ENAMETOOLONG:
      return 206;  // ERROR_FILENAME_EXCED_RANGE
    case ENOTSUP:
      return 282;  // ERROR_EAS_NOT_SUPPORTED
    case ELOOP:
      return 1921;  // ERROR_CANT_RESOLVE_FILENAME
    case E2BIG:
    case ERANGE:
      return 122;  // ERROR_INSUFFICIENT_BUFFER
    case EIO:
      return 31;  // ERROR_GEN_FAILURE
    default:
      return NTI_ERROR_INVALID_PARAMETER;
  }
}
