#include "platform/win32_error.h"

#include <errno.h>

namespace {

thread_local DWORD t_lastError = 0;

}  // namespace

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD code) { t_lastError = code; }

LONG Win32ErrorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ETXTBSY: return ERROR_ACCESS_DENIED;
    case ENOMEM:
    case EAGAIN: return ERROR_NOT_ENOUGH_MEMORY;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EEXIST:
    case ENOTEMPTY: return ERROR_ALREADY_EXISTS;
    case ENOEXEC: return ERROR_BAD_EXE_FORMAT;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    default: return ERROR_GEN_FAILURE;
  }
}

std::string Win32ErrorText(LONG code) {
  switch (code) {
    case ERROR_SUCCESS: return "The operation completed successfully.";
    case ERROR_FILE_NOT_FOUND: return "The system cannot find the file specified.";
    case ERROR_PATH_NOT_FOUND: return "The system cannot find the path specified.";
    case ERROR_ACCESS_DENIED: return "Access is denied.";
    case ERROR_INVALID_HANDLE: return "The handle is invalid.";
    case ERROR_NOT_ENOUGH_MEMORY: return "Not enough memory resources are available to process this command.";
    case ERROR_NOT_SAME_DEVICE: return "The system cannot move the file to a different disk drive.";
    case ERROR_GEN_FAILURE: return "A device attached to the system is not functioning.";
    case ERROR_INVALID_PARAMETER: return "The parameter is incorrect.";
    case ERROR_DISK_FULL: return "There is not enough space on the disk.";
    case ERROR_INVALID_NAME: return "The filename, directory name, or volume label syntax is incorrect.";
    case ERROR_MOD_NOT_FOUND: return "The specified module could not be found.";
    case ERROR_PROC_NOT_FOUND: return "The specified procedure could not be found.";
    case ERROR_BAD_ARGUMENTS: return "One or more arguments are not correct.";
    case ERROR_ALREADY_EXISTS: return "Cannot create a file when that file already exists.";
    case ERROR_BAD_EXE_FORMAT: return "%1 is not a valid Win32 application.";
    case ERROR_FILENAME_EXCED_RANGE: return "The filename or extension is too long.";
    case ERROR_MORE_DATA: return "More data is available.";
    case ERROR_NO_MORE_ITEMS: return "No more data is available.";
    case ERROR_BADDB: return "The configuration registry database is corrupt.";
    case ERROR_BADKEY: return "The configuration registry key is invalid.";
    case ERROR_CANTOPEN: return "The configuration registry key could not be opened.";
    case ERROR_CANTREAD: return "The configuration registry key could not be read.";
    case ERROR_CANTWRITE: return "The configuration registry key could not be written.";
    case ERROR_REGISTRY_CORRUPT:
      return "The registry is corrupted. The structure of one of the files containing registry data "
             "is corrupted, or the system's memory image of the file is corrupted, or the file could "
             "not be recovered because the alternate copy or log was absent or corrupted.";
    case ERROR_KEY_DELETED:
      return "Illegal operation attempted on a registry key that has been marked for deletion.";
    case ERROR_INVALID_SERVICE_CONTROL: return "The requested control is not valid for this service.";
    case ERROR_SERVICE_REQUEST_TIMEOUT:
      return "The service did not respond to the start or control request in a timely fashion.";
    case ERROR_SERVICE_ALREADY_RUNNING: return "An instance of the service is already running.";
    case ERROR_SERVICE_DISABLED:
      return "The service cannot be started, either because it is disabled or because it has no "
             "enabled devices associated with it.";
    case ERROR_SERVICE_DOES_NOT_EXIST: return "The specified service does not exist as an installed service.";
    case ERROR_SERVICE_CANNOT_ACCEPT_CTRL: return "The service cannot accept control messages at this time.";
    case ERROR_SERVICE_NOT_ACTIVE: return "The service has not been started.";
    case ERROR_FAILED_SERVICE_CONTROLLER_CONNECT:
      return "The service process could not connect to the service controller.";
    case ERROR_DATABASE_DOES_NOT_EXIST: return "The database specified does not exist.";
    case ERROR_PROCESS_ABORTED: return "The process terminated unexpectedly.";
    case ERROR_SERVICE_MARKED_FOR_DELETE: return "The specified service has been marked for deletion.";
    case ERROR_SERVICE_EXISTS: return "The specified service already exists.";
    case ERROR_UNSUPPORTED_TYPE: return "Data of this type is not supported.";
    case RPC_S_SERVER_UNAVAILABLE: return "The RPC server is unavailable.";
    default: return "Error " + std::to_string(code) + ".";
  }
}
