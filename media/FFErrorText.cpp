#include "media/FFErrorText.h"

#include "media/FFmpegHeaders.h"

#include <string_view>

namespace ff_error_text {
namespace {

struct ErrorRow {
    int code;
    std::string_view text;
};

constexpr ErrorRow kFFmpegRows[] = {
    {AVERROR_BSF_NOT_FOUND, "Bitstream filter not found"},
    {AVERROR_BUG, "Internal bug, should not have happened"},
    {AVERROR_BUG2, "Internal bug, should not have happened"},
    {AVERROR_BUFFER_TOO_SMALL, "Buffer too small"},
    {AVERROR_DECODER_NOT_FOUND, "Decoder not found"},
    {AVERROR_DEMUXER_NOT_FOUND, "Demuxer not found"},
    {AVERROR_ENCODER_NOT_FOUND, "Encoder not found"},
    {AVERROR_EOF, "End of file"},
    {AVERROR_EXIT, "Immediate exit requested"},
    {AVERROR_EXTERNAL, "Generic error in an external library"},
    {AVERROR_FILTER_NOT_FOUND, "Filter not found"},
    {AVERROR_INVALIDDATA, "Invalid data found when processing input"},
    {AVERROR_MUXER_NOT_FOUND, "Muxer not found"},
    {AVERROR_OPTION_NOT_FOUND, "Option not found"},
    {AVERROR_PATCHWELCOME, "Not yet implemented in FFmpeg, patches welcome"},
    {AVERROR_PROTOCOL_NOT_FOUND, "Protocol not found"},
    {AVERROR_STREAM_NOT_FOUND, "Stream not found"},
    {AVERROR_UNKNOWN, "Unknown error occurred"},
    {AVERROR_EXPERIMENTAL,
     "Requested feature is flagged experimental. Set strict_std_compliance if you really want "
     "to use it."},
};

// Negated POSIX error numbers, Linux numbering.
constexpr ErrorRow kPosixRows[] = {
    {-2, "No such file or directory"},
    {-3, "No such process"},
    {-4, "Interrupted function call"},
    {-5, "I/O error"},
    {-6, "No such device or address"},
    {-7, "Argument list too long"},
    {-8, "Exec format error"},
    {-9, "Bad file number"},
    {-10, "No child processes"},
    {-11, "Resource temporarily unavailable / Try again"},
    {-12, "Not enough space / Out of memory"},
    {-13, "Permission denied"},
    {-14, "Bad address"},
    {-15, "Block device required"},
    {-16, "Device or resource busy"},
    {-17, "File exists"},
    {-18, "Cross-device link"},
    {-19, "No such device"},
    {-20, "Not a directory"},
    {-21, "Is a directory"},
    {-22, "Invalid argument / Invalid data found when processing input"},
    {-23, "Too many open files in system / File table overflow"},
    {-24, "Too many open files"},
    {-25, "Inappropriate I/O control operation / Not a typewriter"},
    {-26, "Text file busy"},
    {-27, "File too large"},
    {-28, "No space left on device"},
    {-29, "Illegal seek"},
    {-30, "Read-only file system"},
    {-31, "Too many links"},
    {-32, "Broken pipe"},
    {-33, "Math argument out of domain of func"},
    {-34, "Math result not representable"},
    {-35, "Resource deadlock would occur"},
    {-36, "File name too long"},
    {-37, "No record locks available"},
    {-38, "Function not implemented"},
    {-39, "Directory not empty"},
    {-40, "Too many symbolic links encountered"},
    {-43, "Identifier removed"},
    {-44, "Channel number out of range"},
    {-45, "Level 2 not synchronized"},
    {-46, "Level 3 halted"},
    {-47, "Level 3 reset"},
    {-48, "Link number out of range"},
    {-49, "Protocol driver not attached"},
    {-50, "No CSI structure available"},
    {-51, "Level 2 halted"},
    {-52, "Invalid exchange"},
    {-53, "Invalid request descriptor"},
    {-54, "Exchange full"},
    {-55, "No anode"},
    {-56, "Invalid request code"},
    {-57, "Invalid slot"},
    {-59, "Bad font file format"},
    {-60, "Device not a stream"},
    {-61, "No data available"},
    {-62, "Timer expired"},
    {-63, "Out of streams resources"},
    {-64, "Machine is not on the network"},
    {-65, "Package not installed"},
    {-66, "Object is remote"},
    {-67, "Link has been severed"},
    {-68, "Advertise error"},
    {-69, "Srmount error"},
    {-70, "Communication error on send"},
    {-71, "Protocol error"},
    {-72, "Multihop attempted"},
    {-73, "RFS specific error"},
    {-74, "Not a data message"},
    {-75, "Value too large for defined data type"},
    {-76, "Name not unique on network"},
    {-77, "File descriptor in bad state"},
    {-78, "Remote address changed"},
    {-79, "Can not access a needed shared library"},
    {-80, "Accessing a corrupted shared library"},
    {-81, ".lib section in a.out corrupted"},
    {-82, "Attempting to link in too many shared libraries"},
    {-83, "Cannot exec a shared library directly"},
    {-84, "Illegal byte sequence"},
    {-85, "Interrupted system call should be restarted"},
    {-86, "Streams pipe error"},
    {-87, "Too many users"},
    {-88, "Socket operation on non-socket"},
    {-89, "Destination address required"},
    {-90, "Message too long"},
    {-91, "Protocol wrong type for socket"},
    {-92, "Protocol not available"},
    {-93, "Protocol not supported"},
    {-94, "Socket type not supported"},
    {-95, "Operation not supported on transport endpoint"},
    {-96, "Protocol family not supported"},
    {-97, "Address family not supported by protocol"},
    {-98, "Address already in use"},
    {-99, "Cannot assign requested address"},
    {-100, "Network is down"},
    {-101, "Network is unreachable"},
    {-102, "Network dropped connection because of reset"},
    {-103, "Software caused connection abort"},
    {-104, "Connection reset by peer"},
    {-105, "No buffer space available"},
    {-106, "Transport endpoint is already connected"},
    {-107, "Transport endpoint is not connected"},
    {-108, "Cannot send after transport endpoint shutdown"},
    {-109, "Too many references: cannot splice"},
    {-110, "Connection timed out"},
    {-111, "Connection refused"},
    {-112, "Host is down"},
    {-113, "No route to host"},
    {-114, "Operation already in progress"},
    {-115, "Operation now in progress"},
    {-116, "Stale NFS file handle"},
    {-117, "Structure needs cleaning"},
    {-118, "Not a XENIX named type file"},
    {-119, "No XENIX semaphores available"},
    {-120, "Is a named type file"},
    {-121, "Remote I/O error"},
    {-122, "Quota exceeded"},
    {-123, "No medium found"},
    {-124, "Wrong medium type"},
    {-125, "Operation Canceled"},
    {-126, "Required key not available"},
    {-127, "Key has expired"},
    {-128, "Key has been revoked"},
    {-129, "Key was rejected by service"},
    {-130, "Owner died"},
    {-131, "State not recoverable"},
};

// Negated socket error numbers that share the meaning (and the text) of a POSIX one.
struct SocketTwin {
    int socketCode;
    int posixCode;
};

constexpr SocketTwin kSocketTwins[] = {
    {-10004, -4},    {-10009, -9},    {-10013, -13},   {-10014, -14},   {-10022, -22},
    {-10024, -24},   {-10036, -115},  {-10037, -114},  {-10038, -88},   {-10039, -89},
    {-10040, -90},   {-10041, -91},   {-10042, -92},   {-10043, -93},   {-10044, -94},
    {-10045, -95},   {-10046, -96},   {-10047, -97},   {-10048, -98},   {-10049, -99},
    {-10050, -100},  {-10051, -101},  {-10052, -102},  {-10053, -103},  {-10054, -104},
    {-10055, -105},  {-10056, -106},  {-10057, -107},  {-10058, -108},  {-10059, -109},
    {-10060, -110},  {-10061, -111},  {-10062, -40},   {-10063, -36},   {-10064, -112},
    {-10065, -113},  {-10066, -39},   {-10068, -87},   {-10069, -122},  {-10070, -116},
    {-10071, -66},
};

// Socket error numbers without a POSIX twin are named by their symbols.
constexpr ErrorRow kSocketRows[] = {
    {-10035, "WSAEWOULDBLOCK"},
    {-10067, "WSAEPROCLIM"},
    {-10091, "WSASYSNOTREADY"},
    {-10092, "WSAVERNOTSUPPORTED"},
    {-10093, "WSANOTINITIALISED"},
    {-10101, "WSAEDISCON"},
    {-10102, "WSAENOMORE"},
    {-10103, "WSAECANCELLED"},
    {-10104, "WSAEINVALIDPROCTABLE"},
    {-10105, "WSAEINVALIDPROVIDER"},
    {-10106, "WSAEPROVIDERFAILEDINIT"},
    {-10107, "WSASYSCALLFAILURE"},
    {-10108, "WSASERVICE_NOT_FOUND"},
    {-10109, "WSATYPE_NOT_FOUND"},
    {-10110, "WSA_E_NO_MORE"},
    {-10111, "WSA_E_CANCELLED"},
    {-10112, "WSAEREFUSED"},
    {-11001, "WSAHOST_NOT_FOUND"},
    {-11002, "WSATRY_AGAIN"},
    {-11003, "WSANO_RECOVERY"},
    {-11004, "WSANO_DATA"},
};

template <std::size_t N>
const std::string_view* find(const ErrorRow (&rows)[N], int code)
{
    for (const ErrorRow& row : rows)
        if (row.code == code)
            return &row.text;
    return nullptr;
}

}  // namespace

std::string errorText(int code)
{
    if (const std::string_view* text = find(kFFmpegRows, code))
        return std::string(*text);
    if (const std::string_view* text = find(kPosixRows, code))
        return std::string(*text);
    for (const SocketTwin& twin : kSocketTwins)
        if (twin.socketCode == code)
            return std::string(*find(kPosixRows, twin.posixCode));
    if (const std::string_view* text = find(kSocketRows, code))
        return std::string(*text);
    return "Error number " + std::to_string(code) + " occurred";
}

}  // namespace ff_error_text
