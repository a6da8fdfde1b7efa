#pragma once

namespace platform {

// The system's error codes, for every family that reports them (the registry's results,
// GetLastError, the shell's file operations). Each is defined here only: a second definition
// of another type elsewhere would be a different object under the same name.
inline constexpr long ERROR_SUCCESS = 0, ERROR_FILE_NOT_FOUND = 2, ERROR_PATH_NOT_FOUND = 3,
                      ERROR_ACCESS_DENIED = 5, ERROR_INVALID_HANDLE = 6,
                      ERROR_NOT_ENOUGH_MEMORY = 8, ERROR_BAD_FORMAT = 11, ERROR_WRITE_FAULT = 29,
                      ERROR_GEN_FAILURE = 31, ERROR_SHARING_VIOLATION = 32,
                      ERROR_INVALID_PARAMETER = 87, ERROR_DISK_FULL = 112,
                      ERROR_ALREADY_EXISTS = 183, ERROR_FILENAME_EXCED_RANGE = 206,
                      ERROR_CANCELLED = 1223;

} // namespace platform
