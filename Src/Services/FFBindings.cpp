#include "Services/FFBindings.h"

#include "Services/FFLoad.h"

namespace ff {

#define TOVAMO_DEFINE_ENTRY(name) decltype(&::name) name = nullptr;
TOVAMO_AVUTIL_ENTRIES(TOVAMO_DEFINE_ENTRY, TOVAMO_DEFINE_ENTRY)
TOVAMO_SWRESAMPLE_ENTRIES(TOVAMO_DEFINE_ENTRY, TOVAMO_DEFINE_ENTRY)
TOVAMO_SWSCALE_ENTRIES(TOVAMO_DEFINE_ENTRY, TOVAMO_DEFINE_ENTRY)
TOVAMO_AVCODEC_ENTRIES(TOVAMO_DEFINE_ENTRY, TOVAMO_DEFINE_ENTRY)
TOVAMO_AVFORMAT_ENTRIES(TOVAMO_DEFINE_ENTRY, TOVAMO_DEFINE_ENTRY)
TOVAMO_AVFILTER_ENTRIES(TOVAMO_DEFINE_ENTRY, TOVAMO_DEFINE_ENTRY)
TOVAMO_AVDEVICE_ENTRIES(TOVAMO_DEFINE_ENTRY, TOVAMO_DEFINE_ENTRY)
#undef TOVAMO_DEFINE_ENTRY

}  // namespace ff

namespace tovamo {
namespace {

#define TOVAMO_REQUIRED_ROW(name) {#name, reinterpret_cast<void**>(&ff::name), true},
#define TOVAMO_OPTIONAL_ROW(name) {#name, reinterpret_cast<void**>(&ff::name), false},
#define TOVAMO_TABLE(fn, LIST)                                                         \
  TBindTable fn() {                                                                    \
    static const TBindEntry rows[] = {LIST(TOVAMO_REQUIRED_ROW, TOVAMO_OPTIONAL_ROW)}; \
    return {rows, sizeof(rows) / sizeof(rows[0])};                                     \
  }

TOVAMO_TABLE(AVUtilTable, TOVAMO_AVUTIL_ENTRIES)
TOVAMO_TABLE(SwResampleTable, TOVAMO_SWRESAMPLE_ENTRIES)
TOVAMO_TABLE(SwScaleTable, TOVAMO_SWSCALE_ENTRIES)
TOVAMO_TABLE(AVCodecTable, TOVAMO_AVCODEC_ENTRIES)
TOVAMO_TABLE(AVFormatTable, TOVAMO_AVFORMAT_ENTRIES)
TOVAMO_TABLE(AVFilterTable, TOVAMO_AVFILTER_ENTRIES)
TOVAMO_TABLE(AVDeviceTable, TOVAMO_AVDEVICE_ENTRIES)

const TLibraryItem kLibraries[kLibraryCount] = {
    {libAVUtil, "avutil", LIBAVUTIL_VERSION_MAJOR, AVUtilTable},
    {libSwResample, "swresample", LIBSWRESAMPLE_VERSION_MAJOR, SwResampleTable},
    {libSwScale, "swscale", LIBSWSCALE_VERSION_MAJOR, SwScaleTable},
    {libAVCodec, "avcodec", LIBAVCODEC_VERSION_MAJOR, AVCodecTable},
    {libAVFormat, "avformat", LIBAVFORMAT_VERSION_MAJOR, AVFormatTable},
    {libAVFilter, "avfilter", LIBAVFILTER_VERSION_MAJOR, AVFilterTable},
    {libAVDevice, "avdevice", LIBAVDEVICE_VERSION_MAJOR, AVDeviceTable},
};

}  // namespace

const TLibraryItem& LibraryItem(TLibrary lib) {
  return kLibraries[lib];
}

}  // namespace tovamo
