// Every function of the late libraries that the program calls, forwarding to the library (see
// late.h). The compiler holds each line to the library's own declaration. A function missing here
// fails to link in the program, which does not link these libraries.
#include "platform/media/late/late.h"

#include <cerrno>
#include <tuple>
#include <type_traits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

namespace orv::media::late {
namespace {

// What a function gives when its library is missing: what it gives for a failure.
template <class R>
R Unavailable() {
  if constexpr (std::is_void_v<R>) {
    return;
  } else if constexpr (std::is_same_v<R, const char*>) {
    return "";
  } else if constexpr (std::is_pointer_v<R>) {
    return nullptr;
  } else {
    return static_cast<R>(AVERROR(ENOSYS));
  }
}

// The type of a function's parameter, for those whose constness differs between FFmpeg's versions.
template <class F>
struct Params;
template <class R, class... A>
struct Params<R(A...)> {
  template <std::size_t I>
  using Of = std::tuple_element_t<I, std::tuple<A...>>;
};
template <auto& F, std::size_t I>
using ParamOf = typename Params<std::remove_reference_t<decltype(F)>>::template Of<I>;

}  // namespace
}  // namespace orv::media::late

using orv::media::late::ParamOf;

#define ORV_LATE(library, result, name, params, args)                                                      \
  extern "C" result name params {                                                                          \
    using namespace orv::media::late;                                                                      \
    static const auto real = reinterpret_cast<result(*) params>(Resolve(Library::library, #name));         \
    if (!real) return Unavailable<result>();                                                               \
    return real args;                                                                                      \
  }

// libavcodec
ORV_LATE(Codec, AVPacket*, av_packet_alloc, (void), ())
ORV_LATE(Codec, void, av_packet_free, (AVPacket** pkt), (pkt))
ORV_LATE(Codec, int, av_new_packet, (AVPacket* pkt, int size), (pkt, size))
ORV_LATE(Codec, int, av_packet_ref, (AVPacket* dst, const AVPacket* src), (dst, src))
ORV_LATE(Codec, void, av_packet_unref, (AVPacket* pkt), (pkt))
ORV_LATE(Codec, void, av_packet_rescale_ts, (AVPacket* pkt, AVRational from, AVRational to), (pkt, from, to))
ORV_LATE(Codec, AVCodecContext*, avcodec_alloc_context3, (const AVCodec* codec), (codec))
ORV_LATE(Codec, void, avcodec_free_context, (AVCodecContext** avctx), (avctx))
ORV_LATE(Codec, const AVCodec*, avcodec_find_decoder, (enum AVCodecID id), (id))
ORV_LATE(Codec, const AVCodec*, avcodec_find_encoder, (enum AVCodecID id), (id))
ORV_LATE(Codec, const AVCodec*, avcodec_find_encoder_by_name, (const char* name), (name))
ORV_LATE(Codec, const char*, avcodec_get_name, (enum AVCodecID id), (id))
ORV_LATE(Codec, int, avcodec_open2, (AVCodecContext* avctx, const AVCodec* codec, AVDictionary** options),
         (avctx, codec, options))
ORV_LATE(Codec, int, avcodec_parameters_from_context, (AVCodecParameters* par, const AVCodecContext* codec),
         (par, codec))
ORV_LATE(Codec, int, avcodec_send_frame, (AVCodecContext* avctx, const AVFrame* frame), (avctx, frame))
ORV_LATE(Codec, int, avcodec_receive_packet, (AVCodecContext* avctx, AVPacket* avpkt), (avctx, avpkt))
ORV_LATE(Codec, int, avcodec_send_packet, (AVCodecContext* avctx, const AVPacket* avpkt), (avctx, avpkt))
ORV_LATE(Codec, int, avcodec_receive_frame, (AVCodecContext* avctx, AVFrame* frame), (avctx, frame))

// libavformat
ORV_LATE(Format, int, avformat_alloc_output_context2,
         (AVFormatContext** ctx, const AVOutputFormat* oformat, const char* format_name, const char* filename),
         (ctx, oformat, format_name, filename))
ORV_LATE(Format, void, avformat_free_context, (AVFormatContext* s), (s))
ORV_LATE(Format, AVStream*, avformat_new_stream, (AVFormatContext* s, const AVCodec* c), (s, c))
ORV_LATE(Format, int, avformat_init_output, (AVFormatContext* s, AVDictionary** options), (s, options))
ORV_LATE(Format, int, avformat_write_header, (AVFormatContext* s, AVDictionary** options), (s, options))
ORV_LATE(Format, int, av_write_frame, (AVFormatContext* s, AVPacket* pkt), (s, pkt))
ORV_LATE(Format, int, av_write_trailer, (AVFormatContext* s), (s))
ORV_LATE(Format, AVIOContext*, avio_alloc_context,
         (unsigned char* buffer, int buffer_size, int write_flag, void* opaque,
          int (*read_packet)(void* opaque, uint8_t* buf, int buf_size),
          ParamOf<avio_alloc_context, 5> write_packet,
          int64_t (*seek)(void* opaque, int64_t offset, int whence)),
         (buffer, buffer_size, write_flag, opaque, read_packet, write_packet, seek))
ORV_LATE(Format, void, avio_context_free, (AVIOContext** s), (s))
ORV_LATE(Format, void, avio_flush, (AVIOContext* s), (s))

// libswresample
ORV_LATE(Resample, int, swr_alloc_set_opts2,
         (struct SwrContext** ps, ParamOf<swr_alloc_set_opts2, 1> out_ch_layout, enum AVSampleFormat out_sample_fmt,
          int out_sample_rate, ParamOf<swr_alloc_set_opts2, 4> in_ch_layout, enum AVSampleFormat in_sample_fmt,
          int in_sample_rate, int log_offset, void* log_ctx),
         (ps, out_ch_layout, out_sample_fmt, out_sample_rate, in_ch_layout, in_sample_fmt, in_sample_rate, log_offset,
          log_ctx))
ORV_LATE(Resample, int, swr_init, (struct SwrContext* s), (s))
ORV_LATE(Resample, void, swr_free, (struct SwrContext** s), (s))
ORV_LATE(Resample, int, swr_convert,
         (struct SwrContext* s, uint8_t** out, int out_count, const uint8_t** in, int in_count),
         (s, out, out_count, in, in_count))
ORV_LATE(Resample, int64_t, swr_get_delay, (struct SwrContext* s, int64_t base), (s, base))
ORV_LATE(Resample, int, swr_get_out_samples, (struct SwrContext* s, int in_samples), (s, in_samples))
ORV_LATE(Resample, int, swr_set_compensation, (struct SwrContext* s, int sample_delta, int compensation_distance),
         (s, sample_delta, compensation_distance))

// libavfilter
ORV_LATE(Filter, const AVFilter*, avfilter_get_by_name, (const char* name), (name))
ORV_LATE(Filter, AVFilterGraph*, avfilter_graph_alloc, (void), ())
ORV_LATE(Filter, void, avfilter_graph_free, (AVFilterGraph** graph), (graph))
ORV_LATE(Filter, int, avfilter_graph_create_filter,
         (AVFilterContext** filt_ctx, const AVFilter* filt, const char* name, const char* args, void* opaque,
          AVFilterGraph* graph_ctx),
         (filt_ctx, filt, name, args, opaque, graph_ctx))
ORV_LATE(Filter, int, avfilter_graph_parse_ptr,
         (AVFilterGraph* graph, const char* filters, AVFilterInOut** inputs, AVFilterInOut** outputs, void* log_ctx),
         (graph, filters, inputs, outputs, log_ctx))
ORV_LATE(Filter, int, avfilter_graph_config, (AVFilterGraph* graphctx, void* log_ctx), (graphctx, log_ctx))
ORV_LATE(Filter, AVFilterInOut*, avfilter_inout_alloc, (void), ())
ORV_LATE(Filter, void, avfilter_inout_free, (AVFilterInOut** inout), (inout))
ORV_LATE(Filter, int, av_buffersrc_add_frame, (AVFilterContext* ctx, AVFrame* frame), (ctx, frame))
ORV_LATE(Filter, int, av_buffersink_get_frame, (AVFilterContext* ctx, AVFrame* frame), (ctx, frame))
