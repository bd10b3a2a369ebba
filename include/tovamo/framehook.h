/*
 * Tovamo frame hooks: the interface between the converter and a hook library.
 *
 * A frame hook is a shared library that sees every decoded video picture of a conversion
 * before it is filtered, scaled and encoded, and may change it in place. A job adds one
 * with the option "vhook", whose value is the library's path followed by the hook's own
 * arguments, separated by blanks, or by "|" when the value contains one (so that a path or
 * an argument may hold blanks):
 *
 *     vhook=/opt/hooks/invertbox.so 16 16 64 32
 *     vhook=/opt/my hooks/invertbox.so|16|16|64|32
 *
 * A library exports three functions with C linkage under exactly these names:
 *
 *   Configure  optional when the hook takes no arguments, required when it does.
 *              Called once per "vhook" option, on the thread that parses the job's
 *              options, before any picture:
 *
 *                  int Configure(void **ctxp, int argc, char *argv[]);
 *
 *              argc and argv are like main()'s: argv[0] is the library path as given,
 *              argv[1] .. argv[argc - 1] the hook's arguments, argv[argc] is NULL. The
 *              texts are valid only during the call: copy what must be kept. *ctxp is
 *              NULL on entry; store the hook's own state there. Return 0 on success, any
 *              other value to refuse the arguments: the option then fails with
 *              "Failed to Configure <path>". A Configure that fails after storing a
 *              context in *ctxp gets it back through Release, so it need not free it;
 *              one that frees it itself sets *ctxp back to NULL.
 *
 *   Process    required. Called for every decoded picture, in the order the hooks were
 *              added, on the job's worker thread:
 *
 *                  void Process(void *ctx, TovamoHookPicture *picture, int pix_fmt,
 *                               int width, int height, int64_t pts);
 *
 *              ctx is what Configure stored (NULL without Configure). The picture is
 *              the hook's to change in place, and only during the call. pix_fmt is a
 *              value of libavutil's enum AVPixelFormat (FFmpeg 5.1, libavutil 57;
 *              <libavutil/pixfmt.h> may be included for the names, no libavutil
 *              function is needed). pts is the picture's time in microseconds, or
 *              INT64_MIN when the input gave none. A hook that does not know the pixel
 *              format leaves the picture alone.
 *
 *   Release    optional. Called once per configured hook when the job ends, with the
 *              context Configure stored (also NULL), and after a failed Configure that
 *              left a context. Free the context here.
 *
 * Several jobs convert at once, each on a thread of its own, and each may add the same
 * library: keep all state in the context, never in globals. A library stays loaded until
 * the program ends, once per path however many jobs use it. It is opened with dlopen():
 * libraries it depends on are found through its run path, so link it with
 * -Wl,-rpath,'$ORIGIN' to find them beside it.
 */
#ifndef TOVAMO_FRAMEHOOK_H
#define TOVAMO_FRAMEHOOK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Planes of a picture as libavutil lays them out for pix_fmt: data[i] points at the first
 * byte of the top line of plane i (NULL for planes the format does not have), linesize[i]
 * is the distance in bytes from one line of that plane to the next, and may exceed the
 * visible width. */
typedef struct TovamoHookPicture {
  uint8_t* data[4];
  int linesize[4];
} TovamoHookPicture;

typedef int (*TovamoHookConfigure)(void** ctxp, int argc, char* argv[]);
typedef void (*TovamoHookProcess)(void* ctx, TovamoHookPicture* picture, int pix_fmt, int width,
                                  int height, int64_t pts);
typedef void (*TovamoHookRelease)(void* ctx);

/* The names the converter looks up. */
#define TOVAMO_HOOK_CONFIGURE "Configure"
#define TOVAMO_HOOK_PROCESS "Process"
#define TOVAMO_HOOK_RELEASE "Release"

/* Declarations a hook library's definitions are checked against; they also keep the entry
 * points exported when the library is built with -fvisibility=hidden. The converter itself
 * defines TOVAMO_FRAMEHOOK_HOST and only uses the pointer types above. */
#ifndef TOVAMO_FRAMEHOOK_HOST
#if defined(__GNUC__)
#define TOVAMO_HOOK_EXPORT __attribute__((visibility("default")))
#else
#define TOVAMO_HOOK_EXPORT
#endif
TOVAMO_HOOK_EXPORT int Configure(void** ctxp, int argc, char* argv[]);
TOVAMO_HOOK_EXPORT void Process(void* ctx, TovamoHookPicture* picture, int pix_fmt, int width,
                                int height, int64_t pts);
TOVAMO_HOOK_EXPORT void Release(void* ctx);
#endif

#ifdef __cplusplus
}
#endif

#endif /* TOVAMO_FRAMEHOOK_H */
