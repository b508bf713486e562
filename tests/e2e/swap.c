/* Preloaded into a tool by the case runner: right after the tool opens the name in SWAP_WHEN,
   SWAP_FROM is renamed to SWAP_TO, as another user might do at that very moment. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int open(const char* path, int flags, ...) {
  static int (*real)(const char*, int, ...);
  va_list rest;
  va_start(rest, flags);
  const int mode = (flags & O_CREAT) != 0 ? va_arg(rest, int) : 0;
  va_end(rest);
  if (real == NULL) *(void**)&real = dlsym(RTLD_NEXT, "open");
  const int fd = real(path, flags, mode);
  const char* when = getenv("SWAP_WHEN");
  if (when != NULL && strcmp(path, when) == 0) rename(getenv("SWAP_FROM"), getenv("SWAP_TO"));
  return fd;
}
