/*
 * invertbox: a frame hook that inverts a rectangle of the picture (every sample v becomes
 * 255 - v, so a second pass restores it).
 *
 *     vhook=<path>/libinvertbox.so X Y W H
 *
 * X and Y are the rectangle's top left corner and W and H its size, in pixels of the full
 * picture; the part outside the picture is ignored. Without arguments the whole picture
 * is inverted. Chroma planes of subsampled formats are inverted where they cover the
 * rectangle (a chroma sample that covers any pixel of it). Pictures of 8-bit planar YUV
 * and grey formats and of packed 24- and 32-bit RGB formats are changed (alpha and padding
 * bytes are left alone); other formats pass untouched.
 */
#include <errno.h>
#include <limits.h>
#include <stddef.h>
#include <stdlib.h>

#include <libavutil/pixfmt.h>

#include "tovamo/framehook.h"

typedef struct InvertBox {
  int x, y, w, h; /* w == -1: the whole picture */
} InvertBox;

/* How one format is laid out: for a planar one, the planes that hold samples and the
 * chroma subsampling as shifts; for a packed one, bytes per pixel and which hold colour. */
typedef struct Layout {
  int planes;        /* planar: number of planes; 0 for packed */
  int chroma_w_log2; /* planar: horizontal chroma shift */
  int chroma_h_log2; /* planar: vertical chroma shift */
  int pixel_bytes;   /* packed: bytes per pixel */
  int skip_byte;     /* packed: offset of the alpha or padding byte, -1 for none */
} Layout;

static int layout_of(int pix_fmt, Layout* out) {
  const Layout planar420 = {3, 1, 1, 0, -1}, planar422 = {3, 1, 0, 0, -1},
               planar444 = {3, 0, 0, 0, -1}, planar411 = {3, 2, 0, 0, -1},
               planar440 = {3, 0, 1, 0, -1}, planar410 = {3, 2, 2, 0, -1}, grey = {1, 0, 0, 0, -1},
               packed3 = {0, 0, 0, 3, -1}, alpha_last = {0, 0, 0, 4, 3},
               alpha_first = {0, 0, 0, 4, 0};
  switch (pix_fmt) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P:
      *out = planar420;
      return 1;
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_YUVJ422P:
      *out = planar422;
      return 1;
    case AV_PIX_FMT_YUV444P:
    case AV_PIX_FMT_YUVJ444P:
      *out = planar444;
      return 1;
    case AV_PIX_FMT_YUV411P:
    case AV_PIX_FMT_YUVJ411P:
      *out = planar411;
      return 1;
    case AV_PIX_FMT_YUV440P:
    case AV_PIX_FMT_YUVJ440P:
      *out = planar440;
      return 1;
    case AV_PIX_FMT_YUV410P:
      *out = planar410;
      return 1;
    case AV_PIX_FMT_GRAY8:
      *out = grey;
      return 1;
    case AV_PIX_FMT_RGB24:
    case AV_PIX_FMT_BGR24:
      *out = packed3;
      return 1;
    case AV_PIX_FMT_RGBA:
    case AV_PIX_FMT_BGRA:
    case AV_PIX_FMT_RGB0:
    case AV_PIX_FMT_BGR0:
      *out = alpha_last;
      return 1;
    case AV_PIX_FMT_ARGB:
    case AV_PIX_FMT_ABGR:
    case AV_PIX_FMT_0RGB:
    case AV_PIX_FMT_0BGR:
      *out = alpha_first;
      return 1;
    default:
      return 0;
  }
}

/* A whole non-negative decimal number that fits an int. */
static int parse_count(const char* text, int* value) {
  char* end;
  long v;
  if (!text || *text < '0' || *text > '9') return 0;
  errno = 0;
  v = strtol(text, &end, 10);
  if (errno || *end || v > INT_MAX) return 0;
  *value = (int)v;
  return 1;
}

int Configure(void** ctxp, int argc, char* argv[]) {
  InvertBox box = {0, 0, -1, -1};
  InvertBox* ctx;
  if (argc != 1 && argc != 5) return -1;
  if (argc == 5 && (!parse_count(argv[1], &box.x) || !parse_count(argv[2], &box.y) ||
                    !parse_count(argv[3], &box.w) || !parse_count(argv[4], &box.h)))
    return -1;
  ctx = malloc(sizeof *ctx);
  if (!ctx) return -1;
  *ctx = box;
  *ctxp = ctx;
  return 0;
}

/* [*from, *to) of one axis, clipped to [0, size) and scaled down by 2^shift, rounding
 * outwards so that every sample touching the range is in it. False when nothing is left. */
static int clip_range(long long from, long long to, int size, int shift, int* lo, int* hi) {
  if (from < 0) from = 0;
  if (to > size) to = size;
  if (from >= to) return 0;
  *lo = (int)(from >> shift);
  *hi = (int)((to + (1LL << shift) - 1) >> shift);
  return 1;
}

void Process(void* ctx, TovamoHookPicture* picture, int pix_fmt, int width, int height,
             int64_t pts) {
  const InvertBox* box = ctx;
  Layout layout;
  long long x0, y0, x1, y1;
  int p, row, col;
  (void)pts;
  if (!box || !picture || width <= 0 || height <= 0 || !layout_of(pix_fmt, &layout)) return;
  if (box->w < 0) {
    x0 = 0, y0 = 0, x1 = width, y1 = height;
  } else {
    x0 = box->x, y0 = box->y, x1 = (long long)box->x + box->w, y1 = (long long)box->y + box->h;
  }

  if (layout.planes == 0) {
    int lo_x, hi_x, lo_y, hi_y;
    if (!picture->data[0] || !clip_range(x0, x1, width, 0, &lo_x, &hi_x) ||
        !clip_range(y0, y1, height, 0, &lo_y, &hi_y))
      return;
    for (row = lo_y; row < hi_y; ++row) {
      uint8_t* line = picture->data[0] + (ptrdiff_t)row * picture->linesize[0];
      for (col = lo_x; col < hi_x; ++col) {
        uint8_t* pixel = line + (ptrdiff_t)col * layout.pixel_bytes;
        int b;
        for (b = 0; b < layout.pixel_bytes; ++b)
          if (b != layout.skip_byte) pixel[b] = (uint8_t)(255 - pixel[b]);
      }
    }
    return;
  }

  for (p = 0; p < layout.planes; ++p) {
    const int sw = p == 0 ? 0 : layout.chroma_w_log2, sh = p == 0 ? 0 : layout.chroma_h_log2;
    int lo_x, hi_x, lo_y, hi_y;
    if (!picture->data[p] || !clip_range(x0, x1, width, sw, &lo_x, &hi_x) ||
        !clip_range(y0, y1, height, sh, &lo_y, &hi_y))
      continue;
    for (row = lo_y; row < hi_y; ++row) {
      uint8_t* line = picture->data[p] + (ptrdiff_t)row * picture->linesize[p];
      for (col = lo_x; col < hi_x; ++col) line[col] = (uint8_t)(255 - line[col]);
    }
  }
}

void Release(void* ctx) {
  free(ctx);
}
