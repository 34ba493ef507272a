#pragma once

#include <string>
#include <string_view>
#include <vector>

// The fixed extension lists and the rule by which a file belongs to one of them.
namespace media_extensions {

inline constexpr std::string_view video_exts =
    "*.AVI;*.MPG;*.MPEG;*.WMV;*.MP4;*.M4V;*.3GP;*.RMVB;*.RM;*.FLV;*.SWF;*.MKV;*.H264;*.WEBM;*.MOV;"
    "*.VOB;*.IFO;*.YUV;*.AVM;*.ASF;*.AVS;*.DAT;*.OGM;*.TS;*.TP;*.NSV;*.AMV;*.ASV;*.FFV;*.MTS;"
    "*.M2TS;";

inline constexpr std::string_view audio_exts =
    "*.WAV;*.WAVE;*.MP3;*.WMA;*.AAC;*.AC3;*.FLAC;*.ALAC;*.M4A;*.MID;*.MKA;*.MP2;*.MPA;*.MPC;*.APE;"
    "*.OFR;*.OGG;*.RA;*.WV;*.TTA;*.DTS;*.G726;*.GSM;*.AIF;*.AIFF;*.AIFC;*.AU;*.SND;*.PCM;*.DSP;"
    "*.COOK;*.DCA;*.IMC;*.TTA;*.OPUS;*.OGA;*.M4B;*.WEBA;*.CAF;*.W64;";

// The video containers an output keeps.
inline constexpr std::string_view video_keep_exts =
    "*.AVI;*.MPG;*.MPEG;*.WMV;*.MP4;*.M4V;*.3GP;*.RM;*.FLV;*.SWF;*.MKV;*.WEBM;*.MOV;*.VOB;*.ASF;"
    "*.TS;*.MTS;*.M2TS;";

// The audio formats offered for output, in the order of the format box.
inline constexpr std::string_view audio_out_exts =
    "*.WAV;*.MP3;*.WMA;*.AAC;*.AC3;*.FLAC;*.M4A;*.MKA;*.MP2;*.OGG;*.RA;*.AIF;*.AIFF;*.AIFC;*.AU;"
    "*.OPUS;";

// The text from the last "." of the name on, dot included; empty when a "/" follows
// that dot or there is no dot.
std::string extensionOf(std::string_view path);

// True when the extension, ASCII letters upper-cased, occurs anywhere in the list
// text (a plain substring search, so ".AIF" is in every list holding "*.AIFF").
// An empty extension belongs to no list.
bool belongsTo(std::string_view path, std::string_view list);

// The entries of a list text, e.g. "*.WAV", "*.MP3", ... in order.
std::vector<std::string> entriesOf(std::string_view list);

}  // namespace media_extensions
