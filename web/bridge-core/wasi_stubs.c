/* The module imports nothing. libc++ keeps a path that prints a message to
 * stderr before abort() traps (a std::string grown past its limit, memory
 * exhausted); these stand in for the three WASI calls that printing would
 * import, and refuse, so the message is dropped and the trap stays. */
#include <stdint.h>

#define WASI_EBADF 8

int32_t __imported_wasi_snapshot_preview1_fd_write(int32_t fd, int32_t iovs, int32_t count,
                                                   int32_t written) {
  (void)fd, (void)iovs, (void)count, (void)written;
  return WASI_EBADF;
}

int32_t __imported_wasi_snapshot_preview1_fd_seek(int32_t fd, int64_t offset, int32_t whence,
                                                  int32_t position) {
  (void)fd, (void)offset, (void)whence, (void)position;
  return WASI_EBADF;
}

int32_t __imported_wasi_snapshot_preview1_fd_close(int32_t fd) {
  (void)fd;
  return WASI_EBADF;
}
