// ErrorText: the message table of library and system error codes.
#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

#include "Services/FFBindings.h"
#include "Services/FFUtils.h"

namespace tovamo {
namespace {

struct TErrorMessage {
  int Code;
  std::string_view Text;
};

constexpr bool CodeLess(const TErrorMessage& a, const TErrorMessage& b) {
  return a.Code < b.Code;
}

// Socket codes appear beside the system code of the same meaning, so a failure reported
// either way reads the same.
constexpr TErrorMessage kUnsortedMessages[] = {
    // The library's own tagged codes.
    {AVERROR_MUXER_NOT_FOUND, "Muxer not found"},
    {AVERROR_STREAM_NOT_FOUND, "Stream not found"},
    {AVERROR_PROTOCOL_NOT_FOUND, "Protocol not found"},
    {AVERROR_DEMUXER_NOT_FOUND, "Demuxer not found"},
    {AVERROR_FILTER_NOT_FOUND, "Filter not found"},
    {AVERROR_BSF_NOT_FOUND, "Bitstream filter not found"},
    {AVERROR_PATCHWELCOME, "Not yet implemented in FFmpeg"},
    {AVERROR_ENCODER_NOT_FOUND, "Encoder not found"},
    {AVERROR_DECODER_NOT_FOUND, "Decoder not found"},
    // Socket codes without a system peer: the message is the code's name.
    {-11004, "WSANO_DATA"},
    {-11003, "WSANO_RECOVERY"},
    {-11002, "WSATRY_AGAIN"},
    {-11001, "WSAHOST_NOT_FOUND"},
    {-10112, "WSAEREFUSED"},
    {-10111, "WSA_E_CANCELLED"},
    {-10110, "WSA_E_NO_MORE"},
    {-10109, "WSATYPE_NOT_FOUND"},
    {-10108, "WSASERVICE_NOT_FOUND"},
    {-10107, "WSASYSCALLFAILURE"},
    {-10106, "WSAEPROVIDERFAILEDINIT"},
    {-10105, "WSAEINVALIDPROVIDER"},
    {-10104, "WSAEINVALIDPROCTABLE"},
    {-10103, "WSAECANCELLED"},
    {-10102, "WSAENOMORE"},
    {-10101, "WSAEDISCON"},
    {-10093, "WSANOTINITIALISED"},
    {-10092, "WSAVERNOTSUPPORTED"},
    {-10091, "WSASYSNOTREADY"},
    {-10067, "WSAEPROCLIM"},
    {-10035, "WSAEWOULDBLOCK"},
    // Socket codes and their system peers.
    {-10071, "Object is remote"},
    {-66, "Object is remote"},
    {-10070, "Stale NFS file handle"},
    {-116, "Stale NFS file handle"},
    {-10069, "Quota exceeded"},
    {-122, "Quota exceeded"},
    {-10068, "Too many users"},
    {-87, "Too many users"},
    {-10066, "Directory not empty"},
    {-39, "Directory not empty"},
    {-10065, "No route to host"},
    {-113, "No route to host"},
    {-10064, "Host is down"},
    {-112, "Host is down"},
    {-10063, "File name too long"},
    {-36, "File name too long"},
    {-10062, "Too many symbolic links encountered"},
    {-40, "Too many symbolic links encountered"},
    {-10061, "Connection refused"},
    {-111, "Connection refused"},
    {-10060, "Connection timed out"},
    {-110, "Connection timed out"},
    {-10059, "Too many references: cannot splice"},
    {-109, "Too many references: cannot splice"},
    {-10058, "Cannot send after transport endpoint shutdown"},
    {-108, "Cannot send after transport endpoint shutdown"},
    {-10057, "Transport endpoint is not connected"},
    {-107, "Transport endpoint is not connected"},
    {-10056, "Transport endpoint is already connected"},
    {-106, "Transport endpoint is already connected"},
    {-10055, "No buffer space available"},
    {-105, "No buffer space available"},
    {-10054, "Connection reset by peer"},
    {-104, "Connection reset by peer"},
    {-10053, "Software caused connection abort"},
    {-103, "Software caused connection abort"},
    {-10052, "Network dropped connection because of reset"},
    {-102, "Network dropped connection because of reset"},
    {-10051, "Network is unreachable"},
    {-101, "Network is unreachable"},
    {-10050, "Network is down"},
    {-100, "Network is down"},
    {-10049, "Cannot assign requested address"},
    {-99, "Cannot assign requested address"},
    {-10048, "Address already in use"},
    {-98, "Address already in use"},
    {-10047, "Address family not supported by protocol"},
    {-97, "Address family not supported by protocol"},
    {-10046, "Protocol family not supported"},
    {-96, "Protocol family not supported"},
    {-10045, "Operation not supported on transport endpoint"},
    {-95, "Operation not supported on transport endpoint"},
    {-10044, "Socket type not supported"},
    {-94, "Socket type not supported"},
    {-10043, "Protocol not supported"},
    {-93, "Protocol not supported"},
    {-10042, "Protocol not available"},
    {-92, "Protocol not available"},
    {-10041, "Protocol wrong type for socket"},
    {-91, "Protocol wrong type for socket"},
    {-10040, "Message too long"},
    {-90, "Message too long"},
    {-10039, "Destination address required"},
    {-89, "Destination address required"},
    {-10038, "Socket operation on non-socket"},
    {-88, "Socket operation on non-socket"},
    {-10037, "Operation already in progress"},
    {-114, "Operation already in progress"},
    {-10036, "Operation now in progress"},
    {-115, "Operation now in progress"},
    {-10024, "Too many open files"},
    {-24, "Too many open files"},
    {-10022, "Invalid argument / Invalid data found when processing input"},
    {-22, "Invalid argument / Invalid data found when processing input"},
    {-10014, "Bad address"},
    {-14, "Bad address"},
    {-10013, "Permission denied"},
    {-13, "Permission denied"},
    {-10009, "Bad file number"},
    {-9, "Bad file number"},
    {-10004, "Interrupted function call"},
    {-4, "Interrupted function call"},
    // System codes.
    {-131, "State not recoverable"},
    {-130, "Owner died"},
    {-129, "Key was rejected by service"},
    {-128, "Key has been revoked"},
    {-127, "Key has expired"},
    {-126, "Required key not available"},
    {-125, "Operation Canceled"},
    {-124, "Wrong medium type"},
    {-123, "No medium found"},
    {-121, "Remote I/O error"},
    {-120, "Is a named type file"},
    {-119, "No XENIX semaphores available"},
    {-118, "Not a XENIX named type file"},
    {-117, "Structure needs cleaning"},
    {-86, "Streams pipe error"},
    {-85, "Interrupted system call should be restarted"},
    {-84, "Illegal byte sequence"},
    {-83, "Cannot exec a shared library directly"},
    {-82, "Attempting to link in too many shared libraries"},
    {-81, ".lib section in a.out corrupted"},
    {-80, "Accessing a corrupted shared library"},
    {-79, "Can not access a needed shared library"},
    {-78, "Remote address changed"},
    {-77, "File descriptor in bad state"},
    {-76, "Name not unique on network"},
    {-75, "Value too large for defined data type"},
    {-74, "Not a data message"},
    {-73, "RFS specific error"},
    {-72, "Multihop attempted"},
    {-71, "Protocol error"},
    {-70, "Communication error on send"},
    {-69, "Srmount error"},
    {-68, "Advertise error"},
    {-67, "Link has been severed"},
    {-65, "Package not installed"},
    {-64, "Machine is not on the network"},
    {-63, "Out of streams resources"},
    {-62, "Timer expired"},
    {-61, "No data available"},
    {-60, "Device not a stream"},
    {-59, "Bad font file format"},
    {-57, "Invalid slot"},
    {-56, "Invalid request code"},
    {-55, "No anode"},
    {-54, "Exchange full"},
    {-53, "Invalid request descriptor"},
    {-52, "Invalid exchange"},
    {-51, "Level 2 halted"},
    {-50, "No CSI structure available"},
    {-49, "Protocol driver not attached"},
    {-48, "Link number out of range"},
    {-47, "Level 3 reset"},
    {-46, "Level 3 halted"},
    {-45, "Level 2 not synchronized"},
    {-44, "Channel number out of range"},
    {-43, "Identifier removed"},
    {-42, "Unknown format"},
    {-38, "Function not implemented"},
    {-37, "No record locks available"},
    {-35, "Resource deadlock would occur"},
    {-34, "Math result not representable"},
    {-33, "Number syntax expected in filename"},
    {-32, "End of file"},
    {-31, "Too many links"},
    {-30, "Read-only file system"},
    {-29, "Illegal seek"},
    {-28, "No space left on device"},
    {-27, "File too large"},
    {-26, "Text file busy"},
    {-25, "Inappropriate I/O control operation / Not a typewriter"},
    {-23, "Too many open files in system / File table overflow"},
    {-21, "Is a directory"},
    {-20, "Not a directory"},
    {-19, "No such device"},
    {-18, "Cross-device link"},
    {-17, "File exists"},
    {-16, "Device or resource busy"},
    {-15, "Block device required"},
    {-12, "Not enough space / Out of memory"},
    {-11, "Resource temporarily unavailable / Try again"},
    {-10, "No child processes"},
    {-8, "Exec format error"},
    {-7, "Argument list too long"},
    {-6, "No such device or address"},
    {-5, "I/O error"},
    {-3, "No such process"},
    {-2, "No such file or directory"},
    {-1, "Operation not permitted"},
};

constexpr auto kMessages = [] {
  std::array<TErrorMessage, std::size(kUnsortedMessages)> table{};
  std::copy(std::begin(kUnsortedMessages), std::end(kUnsortedMessages), table.begin());
  std::sort(table.begin(), table.end(), CodeLess);
  return table;
}();

static_assert(std::adjacent_find(kMessages.begin(), kMessages.end(),
                                 [](const TErrorMessage& a, const TErrorMessage& b) {
                                   return a.Code == b.Code;
                                 }) == kMessages.end(),
              "an error code appears twice");

// The library's other tagged codes: the library has texts for these that are better than
// a bare number, once avutil is loaded.
constexpr int kLibraryCodes[] = {
    AVERROR_BUG,
    AVERROR_BUG2,
    AVERROR_BUFFER_TOO_SMALL,
    AVERROR_EOF,
    AVERROR_EXIT,
    AVERROR_EXTERNAL,
    AVERROR_INVALIDDATA,
    AVERROR_OPTION_NOT_FOUND,
    AVERROR_UNKNOWN,
    AVERROR_EXPERIMENTAL,
    AVERROR_INPUT_CHANGED,
    AVERROR_OUTPUT_CHANGED,
    AVERROR_HTTP_BAD_REQUEST,
    AVERROR_HTTP_UNAUTHORIZED,
    AVERROR_HTTP_FORBIDDEN,
    AVERROR_HTTP_NOT_FOUND,
    AVERROR_HTTP_OTHER_4XX,
    AVERROR_HTTP_SERVER_ERROR,
};

std::string CodeMessage(int code) {
  const TErrorMessage key{code, {}};
  const auto it = std::lower_bound(kMessages.begin(), kMessages.end(), key, CodeLess);
  if (it != kMessages.end() && it->Code == code) return std::string(it->Text);

  if (ff::av_strerror && std::find(std::begin(kLibraryCodes), std::end(kLibraryCodes), code) !=
                             std::end(kLibraryCodes)) {
    char text[AV_ERROR_MAX_STRING_SIZE * 2] = {};
    if (ff::av_strerror(code, text, sizeof text) == 0 && text[0]) return text;
  }

  char text[64];
  std::snprintf(text, sizeof text, "Error number %d occurred", code);
  return text;
}

}  // namespace

std::string ErrorText(const std::string& fileName, int code) {
  return fileName + ": " + CodeMessage(code);
}

}  // namespace tovamo
