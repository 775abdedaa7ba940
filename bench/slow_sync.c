/* slow_sync.so: makes fsync, fdatasync, syncfs and sync take as long as they would on slow media
 * (an SD card, a USB stick, a network share), for benchmarks and tests:
 *
 *   LD_PRELOAD=build/bench/slow_sync.so QUORVANE_SYNC_DELAY_MS=15 quorvane-thumb ...
 *
 * QUORVANE_SYNC_DELAY_MS: the delay added to each call (default 15). QUORVANE_SYNC_LOG: a file to
 * which each call appends its name and a newline, so that a test can count the calls. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static void slow(const char* name) {
  const int saved = errno;
  const char* log = getenv("QUORVANE_SYNC_LOG");
  if (log != NULL && *log != '\0') {
    const int fd = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
      char line[32];
      const size_t length = strlen(name);
      memcpy(line, name, length);
      line[length] = '\n';
      (void)!write(fd, line, length + 1);
      close(fd);
    }
  }
  const char* delay = getenv("QUORVANE_SYNC_DELAY_MS");
  const long ms = delay != NULL ? strtol(delay, NULL, 10) : 15;
  struct timespec wait = {ms / 1000, (ms % 1000) * 1000000L};
  while (ms > 0 && nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
  errno = saved;
}

#define REAL(name, type) ((type)dlsym(RTLD_NEXT, name))

int fsync(int fd) {
  slow("fsync");
  return REAL("fsync", int (*)(int))(fd);
}

int fdatasync(int fd) {
  slow("fdatasync");
  return REAL("fdatasync", int (*)(int))(fd);
}

int syncfs(int fd) {
  slow("syncfs");
  return REAL("syncfs", int (*)(int))(fd);
}

void sync(void) {
  slow("sync");
  REAL("sync", void (*)(void))();
}
