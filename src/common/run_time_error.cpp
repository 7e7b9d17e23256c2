#include "run_time_error.h"

#include <cerrno>
#include <new>
#include <stdexcept>
#include <system_error>

namespace ostrel {

std::string FileErrorDescription(int error_number) {
  switch (error_number) {
    case ENOENT:
      return desc::kFileNotFound;
    case ENOTDIR:
      return desc::kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
      return desc::kPermissionDenied;
    case EEXIST:
    case ENOTEMPTY:
      return desc::kFileExists;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return desc::kDiskFull;
    case ENOMEM:
      return desc::kOutOfMemory;
    case EBUSY:
      return desc::kFileAlreadyOpen;
    case EIO:
      return desc::kDeviceIo;
    default:
      return desc::kPathAccess;
  }
}

void ThrowFileError(int error_number) { throw RunTimeError(FileErrorDescription(error_number)); }

std::string DescriptionOf(const std::exception& error) {
  if (const auto* own = dynamic_cast<const RunTimeError*>(&error)) return own->Description();
  if (dynamic_cast<const std::bad_alloc*>(&error)) return desc::kOutOfMemory;
  if (const auto* system = dynamic_cast<const std::system_error*>(&error)) {
    if (system->code().category() == std::generic_category() ||
        system->code().category() == std::system_category()) {
      return FileErrorDescription(system->code().value());
    }
  }
  if (dynamic_cast<const std::out_of_range*>(&error)) return desc::kSubscriptOutOfRange;
  return desc::kInvalidArgument;
}

}  // namespace ostrel
