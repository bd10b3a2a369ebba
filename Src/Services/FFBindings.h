// Binding tables: one pointer per FFmpeg entry point the program uses, typed from the
// headers and null while its library is not bound. Call them as ff::name(...).
//
// Each library's list is an X-macro of F(name) for required entries and O(name) for
// optional ones (absence leaves the pointer null without failing the load).
#pragma once

#include <cstddef>

#include "Services/FFHeaders.h"

// clang-format off
#define TOVAMO_AVUTIL_ENTRIES(F, O) \
  F(avutil_version) \
  F(av_malloc) \
  F(av_mallocz) \
  F(av_realloc) \
  F(av_free) \
  F(av_freep) \
  F(av_strdup) \
  F(av_fast_malloc) \
  F(av_fast_realloc) \
  F(av_log) \
  F(av_vlog) \
  F(av_log_default_callback) \
  F(av_log_get_level) \
  F(av_log_set_level) \
  F(av_log_set_callback) \
  F(av_default_item_name) \
  F(av_gettime) \
  F(av_gettime_relative) \
  F(av_usleep) \
  F(av_opt_find) \
  F(av_opt_find2) \
  F(av_opt_set) \
  F(av_opt_set_int) \
  F(av_opt_get) \
  F(av_opt_get_int) \
  F(av_opt_next) \
  F(av_opt_set_defaults) \
  F(av_opt_set_dict) \
  F(av_set_options_string) \
  F(av_opt_set_bin) \
  F(av_opt_child_class_iterate) \
  F(av_dict_set) \
  F(av_dict_get) \
  F(av_dict_free) \
  F(av_dict_copy) \
  F(av_dict_count) \
  F(av_parse_video_rate) \
  F(av_parse_video_size) \
  F(av_parse_time) \
  F(av_parse_ratio) \
  F(av_get_pix_fmt) \
  F(av_get_picture_type_char) \
  F(av_get_pix_fmt_name) \
  F(av_get_pix_fmt_string) \
  F(av_pix_fmt_desc_get) \
  F(av_pix_fmt_desc_next) \
  F(av_pix_fmt_desc_get_id) \
  F(av_display_rotation_get) \
  F(av_get_sample_fmt) \
  F(av_get_sample_fmt_name) \
  F(av_get_sample_fmt_string) \
  F(av_get_bytes_per_sample) \
  F(av_sample_fmt_is_planar) \
  F(av_samples_get_buffer_size) \
  F(av_samples_alloc) \
  F(av_strerror) \
  F(av_reduce) \
  F(av_rescale) \
  F(av_rescale_q) \
  F(av_rescale_rnd) \
  F(av_rescale_q_rnd) \
  F(av_compare_ts) \
  F(av_d2q) \
  F(av_find_nearest_q_idx) \
  F(av_gcd) \
  F(av_image_get_buffer_size) \
  F(av_image_fill_arrays) \
  F(av_image_fill_linesizes) \
  F(av_image_copy) \
  F(av_image_alloc) \
  F(av_image_check_size) \
  F(av_frame_alloc) \
  F(av_frame_free) \
  F(av_frame_unref) \
  F(av_frame_ref) \
  F(av_frame_copy) \
  F(av_frame_clone) \
  F(av_frame_copy_props) \
  F(av_frame_get_buffer) \
  F(av_frame_make_writable) \
  F(av_frame_remove_side_data) \
  F(av_channel_layout_default) \
  F(av_channel_layout_uninit) \
  F(av_channel_layout_copy) \
  F(av_channel_layout_describe) \
  F(av_channel_layout_from_mask) \
  F(av_fifo_alloc2) \
  F(av_fifo_freep2) \
  F(av_fifo_write) \
  F(av_fifo_read) \
  F(av_fifo_can_read) \
  F(av_strlcpy) \
  F(av_strstart) \
  F(av_stristart) \
  F(av_get_media_type_string) \
  F(av_log2) \
  F(av_image_fill_black)

#define TOVAMO_SWRESAMPLE_ENTRIES(F, O) \
  F(swresample_version) \
  F(swr_alloc) \
  F(swr_alloc_set_opts2) \
  F(swr_init) \
  F(swr_free) \
  F(swr_convert) \
  F(swr_set_compensation) \
  F(swr_inject_silence) \
  F(swr_drop_output) \
  F(swr_get_delay) \
  F(swr_get_class) \
  F(swr_is_initialized)

#define TOVAMO_SWSCALE_ENTRIES(F, O) \
  F(swscale_version) \
  F(sws_getContext) \
  F(sws_getCachedContext) \
  F(sws_freeContext) \
  F(sws_scale) \
  F(sws_get_class) \
  F(sws_alloc_context) \
  F(sws_init_context) \
  F(sws_isSupportedInput) \
  F(sws_isSupportedOutput)

#define TOVAMO_AVCODEC_ENTRIES(F, O) \
  F(avcodec_version) \
  F(avcodec_alloc_context3) \
  F(avcodec_free_context) \
  F(avcodec_open2) \
  F(avcodec_close) \
  F(avcodec_find_decoder) \
  F(avcodec_find_decoder_by_name) \
  F(avcodec_find_encoder) \
  F(avcodec_find_encoder_by_name) \
  F(av_codec_iterate) \
  F(av_codec_is_encoder) \
  F(av_codec_is_decoder) \
  F(avcodec_get_class) \
  F(avcodec_get_name) \
  F(avcodec_get_type) \
  F(avcodec_descriptor_get) \
  F(avcodec_parameters_alloc) \
  F(avcodec_parameters_free) \
  F(avcodec_parameters_copy) \
  F(avcodec_parameters_to_context) \
  F(avcodec_parameters_from_context) \
  F(avcodec_send_packet) \
  F(avcodec_receive_frame) \
  F(avcodec_send_frame) \
  F(avcodec_receive_packet) \
  F(avcodec_flush_buffers) \
  F(avcodec_string) \
  F(avcodec_align_dimensions2) \
  F(avcodec_decode_subtitle2) \
  F(avcodec_encode_subtitle) \
  F(avsubtitle_free) \
  F(av_packet_alloc) \
  F(av_packet_free) \
  F(av_packet_unref) \
  F(av_packet_move_ref) \
  F(av_packet_ref) \
  F(av_packet_clone) \
  F(av_new_packet) \
  F(av_grow_packet) \
  F(av_packet_rescale_ts) \
  F(av_packet_get_side_data) \
  F(av_get_bits_per_sample) \
  F(av_get_audio_frame_duration) \
  F(av_get_profile_name) \
  F(avcodec_find_best_pix_fmt_of_list) \
  F(av_bsf_get_by_name) \
  F(av_bsf_alloc) \
  F(av_bsf_init) \
  F(av_bsf_free) \
  F(av_bsf_send_packet) \
  F(av_bsf_receive_packet) \
  F(av_bsf_iterate) \
  F(av_parser_init) \
  F(av_parser_close) \
  F(avcodec_default_get_buffer2)

#define TOVAMO_AVFORMAT_ENTRIES(F, O) \
  F(avformat_version) \
  F(avformat_alloc_context) \
  F(avformat_free_context) \
  F(avformat_alloc_output_context2) \
  F(avformat_open_input) \
  F(avformat_close_input) \
  F(avformat_find_stream_info) \
  F(avformat_new_stream) \
  F(avformat_write_header) \
  F(avformat_init_output) \
  F(av_write_trailer) \
  F(av_interleaved_write_frame) \
  F(av_write_frame) \
  F(av_read_frame) \
  F(av_read_pause) \
  F(av_read_play) \
  F(av_seek_frame) \
  F(avformat_seek_file) \
  F(av_find_input_format) \
  F(av_guess_format) \
  F(av_guess_codec) \
  F(av_muxer_iterate) \
  F(av_demuxer_iterate) \
  F(av_find_best_stream) \
  F(av_dump_format) \
  F(av_filename_number_test) \
  F(av_sdp_create) \
  F(avio_open2) \
  F(avio_closep) \
  F(avio_close) \
  F(avio_seek) \
  F(avio_size) \
  F(avio_write) \
  F(avio_flush) \
  F(avio_alloc_context) \
  F(avio_context_free) \
  F(avio_enum_protocols) \
  F(av_codec_get_tag) \
  F(av_codec_get_id) \
  F(avformat_get_class) \
  F(av_pkt_dump_log2) \
  F(av_hex_dump_log) \
  F(avformat_query_codec) \
  F(av_guess_frame_rate) \
  F(av_stream_new_side_data) \
  F(av_stream_get_side_data) \
  F(av_guess_sample_aspect_ratio) \
  F(av_stream_get_parser) \
  F(avformat_match_stream_specifier) \
  F(avformat_network_init) \
  F(avio_read)

#define TOVAMO_AVFILTER_ENTRIES(F, O) \
  F(avfilter_version) \
  F(avfilter_get_by_name) \
  F(avfilter_graph_alloc) \
  F(avfilter_graph_free) \
  F(avfilter_graph_create_filter) \
  F(avfilter_graph_parse_ptr) \
  F(avfilter_graph_config) \
  F(avfilter_inout_alloc) \
  F(avfilter_inout_free) \
  F(avfilter_link) \
  F(av_buffersrc_add_frame_flags) \
  F(av_buffersink_get_frame) \
  F(av_buffersink_get_frame_flags) \
  F(av_buffersink_get_w) \
  F(av_buffersink_get_h) \
  F(av_buffersink_get_format) \
  F(av_buffersink_get_time_base) \
  F(av_buffersink_get_sample_aspect_ratio) \
  F(av_filter_iterate) \
  F(avfilter_get_class)

#define TOVAMO_AVDEVICE_ENTRIES(F, O) \
  F(avdevice_version) \
  F(avdevice_register_all)

// clang-format on

namespace ff {

#define TOVAMO_DECLARE_ENTRY(name) extern decltype(&::name) name;
TOVAMO_AVUTIL_ENTRIES(TOVAMO_DECLARE_ENTRY, TOVAMO_DECLARE_ENTRY)
TOVAMO_SWRESAMPLE_ENTRIES(TOVAMO_DECLARE_ENTRY, TOVAMO_DECLARE_ENTRY)
TOVAMO_SWSCALE_ENTRIES(TOVAMO_DECLARE_ENTRY, TOVAMO_DECLARE_ENTRY)
TOVAMO_AVCODEC_ENTRIES(TOVAMO_DECLARE_ENTRY, TOVAMO_DECLARE_ENTRY)
TOVAMO_AVFORMAT_ENTRIES(TOVAMO_DECLARE_ENTRY, TOVAMO_DECLARE_ENTRY)
TOVAMO_AVFILTER_ENTRIES(TOVAMO_DECLARE_ENTRY, TOVAMO_DECLARE_ENTRY)
TOVAMO_AVDEVICE_ENTRIES(TOVAMO_DECLARE_ENTRY, TOVAMO_DECLARE_ENTRY)
#undef TOVAMO_DECLARE_ENTRY

}  // namespace ff

namespace tovamo {

// One row of a library's binding table.
struct TBindEntry {
  const char* Name;
  void** Slot;  // address of the ff:: pointer
  bool Required;
};

struct TBindTable {
  const TBindEntry* Entries;
  std::size_t Count;
};

}  // namespace tovamo
