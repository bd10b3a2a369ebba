/*
 * probe: a frame hook for the tests that writes down every call it gets, so that a test
 * can see what the converter called, in which order and with what.
 *
 * Configure numbers each context it makes (#1, #2, ... for the library's life) and
 * refuses the argument "fail" (after making its context, which Release then frees), and
 * the argument "fail-clean" (without one). Process marks the first byte of the picture's
 * first plane with the context's number. Built with PROBE_PROCESS_ONLY it exports Process
 * alone.
 *
 * probe_record() returns the calls so far, one per line; probe_clear() forgets them.
 */
#include <inttypes.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tovamo/framehook.h"

#define PROBE_EXPORT __attribute__((visibility("default")))

static char record[16384];

static void note(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
static void note(const char* fmt, ...) {
  const size_t used = strlen(record);
  va_list args;
  va_start(args, fmt);
  vsnprintf(record + used, sizeof record - used, fmt, args);
  va_end(args);
}

PROBE_EXPORT const char* probe_record(void) {
  return record;
}

PROBE_EXPORT void probe_clear(void) {
  record[0] = 0;
}

typedef struct Probe {
  int number;
} Probe;

static int number_of(const void* ctx) {
  return ctx ? ((const Probe*)ctx)->number : 0;
}

#ifndef PROBE_PROCESS_ONLY
static int contexts_made;

int Configure(void** ctxp, int argc, char* argv[]) {
  Probe* probe;
  int i, fail = 0;
  note("Configure ctx=%s argc=%d", *ctxp ? "set" : "null", argc);
  for (i = 0; i < argc; ++i) {
    note(" [%s]", argv[i]);
    if (i > 0 && strcmp(argv[i], "fail-clean") == 0) {
      note(" argv[argc]=%s -> refused\n", argv[argc] ? "set" : "null");
      return -1;
    }
    if (i > 0 && strcmp(argv[i], "fail") == 0) fail = 1;
  }
  note(" argv[argc]=%s", argv[argc] ? "set" : "null");
  probe = malloc(sizeof *probe);
  if (!probe) return -1;
  probe->number = ++contexts_made;
  *ctxp = probe;
  note(" -> #%d%s\n", probe->number, fail ? " refused" : "");
  return fail ? -1 : 0;
}

void Release(void* ctx) {
  note("Release #%d\n", number_of(ctx));
  free(ctx);
}
#endif

void Process(void* ctx, TovamoHookPicture* picture, int pix_fmt, int width, int height,
             int64_t pts) {
  note("Process #%d fmt=%d %dx%d pts=%" PRId64 "\n", number_of(ctx), pix_fmt, width, height, pts);
  picture->data[0][0] = (uint8_t)number_of(ctx);
}
