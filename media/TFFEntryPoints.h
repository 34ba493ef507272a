#pragma once

#include "media/FFmpegHeaders.h"
#include "media/TLibraryIndex.h"

#include <cstddef>
#include <string>

// Every FFmpeg function the program calls, with the library that exports it, in binding
// order. Only what the program really calls is listed; each name is required.
#define AURALON_FF_ENTRY_POINTS(X)            \
    X(avcodec, avcodec_find_decoder)          \
    X(avcodec, avcodec_find_encoder)          \
    X(avcodec, avcodec_get_name)              \
    X(avdevice, avdevice_register_all)        \
    X(avformat, av_find_input_format)         \
    X(avformat, avformat_alloc_context)       \
    X(avformat, avformat_open_input)          \
    X(avformat, avformat_find_stream_info)    \
    X(avformat, avformat_close_input)         \
    X(avformat, avio_size)                    \
    X(avformat, avio_open2)                   \
    X(avformat, avio_closep)                  \
    X(avformat, av_probe_input_buffer2)       \
    X(avformat, avformat_network_init)        \
    X(avformat, avformat_network_deinit)      \
    X(avutil, av_channel_layout_default)      \
    X(avutil, av_channel_layout_describe)     \
    X(avutil, av_dict_get)                    \
    X(avutil, av_dict_free)                   \
    X(avutil, av_rescale_q)                   \
    X(avutil, av_reduce)                      \
    X(avutil, av_gettime)                     \
    X(avutil, av_log_set_callback)            \
    X(avutil, av_log_set_level)               \
    X(avutil, av_log_default_callback)        \
    X(avutil, av_log_format_line2)

// The process-wide slots: null until their library is bound, null again after unbinding.
struct TFFEntryPoints {
#define AURALON_FF_SLOT(library, name) decltype(&::name) name = nullptr;
    AURALON_FF_ENTRY_POINTS(AURALON_FF_SLOT)
#undef AURALON_FF_SLOT

    // Looks up the library's names in list order and fills their slots. Throws
    // TFFLoaderError ("Load function %s@%s error: %s") at the first name the module lacks;
    // the slots filled before it stay filled until Unbind.
    void Bind(TLibraryIndex library, void* module, const std::string& fileName);
    // Sets every slot of the library back to null.
    void Unbind(TLibraryIndex library);

    // How many slots hold an address (all libraries together).
    std::size_t BoundCount() const;
};

inline TFFEntryPoints FF;
