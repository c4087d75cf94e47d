#include "media/encoded_video.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "audio/audio_spectrum.h"

namespace {

constexpr int64_t kAudioBitRate = 192000;
// Opus runs at 48 kHz only; AAC at the track's rate where it can.
constexpr int kOpusRate = 48000;
constexpr int kFallbackRate = 48000;

std::string av_message(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {0};
  av_strerror(code, text, sizeof text);
  return text;
}

struct Names {
  const char* format;
  const char* video;
  const char* audio;
  const char* what;  // for messages
};

Names names_of(VideoKind kind, bool lossless) {
  if (kind == VideoKind::kWebm) return {"webm", "libvpx-vp9", "libopus", ".webm (VP9 and Opus)"};
  return {"mp4", lossless ? "libx264rgb" : "libx264", "aac", ".mp4 (H.264 and AAC)"};
}

}  // namespace

struct EncodedVideo {
  std::string path;
  std::string temp_path;
  AVFormatContext* format = nullptr;
  AVCodecContext* video = nullptr;
  AVCodecContext* audio = nullptr;
  AVStream* video_stream = nullptr;
  AVStream* audio_stream = nullptr;
  SwsContext* scale = nullptr;  // RGB to the encoder's YUV; null when RGB is kept
  SwrContext* resample = nullptr;
  AVAudioFifo* fifo = nullptr;
  AVFrame* picture = nullptr;
  AVFrame* sound = nullptr;
  AVPacket* packet = nullptr;
  const AudioTrack* track = nullptr;
  int64_t frames_written = 0;
  int64_t sound_end = 0;   // track sample frames to mux: up to the end of the last video frame
  int64_t sound_fed = 0;   // track sample frames handed to the resampler
  int64_t sound_pts = 0;   // encoder sample frames handed to the audio encoder
  bool header_written = false;
};

namespace {

void release(EncodedVideo* v) {
  if (v == nullptr) return;
  sws_freeContext(v->scale);
  swr_free(&v->resample);
  if (v->fifo != nullptr) av_audio_fifo_free(v->fifo);
  av_frame_free(&v->picture);
  av_frame_free(&v->sound);
  av_packet_free(&v->packet);
  avcodec_free_context(&v->video);
  avcodec_free_context(&v->audio);
  if (v->format != nullptr) {
    if (v->format->pb != nullptr) avio_closep(&v->format->pb);
    avformat_free_context(v->format);
  }
  delete v;
}

// Everything the encoder has ready goes to the muxer, which interleaves by time.
bool drain(EncodedVideo& v, AVCodecContext* codec, AVStream* stream, std::string& error) {
  for (;;) {
    const int got = avcodec_receive_packet(codec, v.packet);
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
    if (got < 0) {
      error = "cannot encode '" + v.path + "': " + av_message(got);
      return false;
    }
    av_packet_rescale_ts(v.packet, codec->time_base, stream->time_base);
    v.packet->stream_index = stream->index;
    const int written = av_interleaved_write_frame(v.format, v.packet);
    if (written < 0) {
      error = "cannot write '" + v.path + "': " + av_message(written);
      return false;
    }
  }
}

bool send(EncodedVideo& v, AVCodecContext* codec, AVStream* stream, const AVFrame* frame, std::string& error) {
  const int sent = avcodec_send_frame(codec, frame);
  if (sent < 0) {
    error = "cannot encode '" + v.path + "': " + av_message(sent);
    return false;
  }
  return drain(v, codec, stream, error);
}

bool open_video_stream(EncodedVideo& v, const AVCodec* codec, VideoKind kind, bool lossless, std::string& error) {
  v.video = avcodec_alloc_context3(codec);
  v.video->width = kWorldWidth;
  v.video->height = kWorldHeight;
  v.video->time_base = AVRational{1, kFramesPerSecond};
  v.video->framerate = AVRational{kFramesPerSecond, 1};
  v.video->sample_aspect_ratio = AVRational{1, 1};
  v.video->gop_size = 2 * kFramesPerSecond;
  if (lossless) {
    v.video->pix_fmt = kind == VideoKind::kWebm ? AV_PIX_FMT_GBRP : AV_PIX_FMT_RGB24;
    v.video->color_range = AVCOL_RANGE_JPEG;
    v.video->colorspace = AVCOL_SPC_RGB;
  } else {
    // BT.601 limited range, as the Y4M output, and what players assume for this size.
    v.video->pix_fmt = AV_PIX_FMT_YUV420P;
    v.video->color_range = AVCOL_RANGE_MPEG;
    v.video->colorspace = AVCOL_SPC_SMPTE170M;
    v.video->color_primaries = AVCOL_PRI_SMPTE170M;
    v.video->color_trc = AVCOL_TRC_SMPTE170M;
  }
  if (v.format->oformat->flags & AVFMT_GLOBALHEADER) v.video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVDictionary* options = nullptr;
  if (kind == VideoKind::kWebm) {
    // Constant quality; cpu-used 4 keeps a render near the world's own speed.
    v.video->bit_rate = 0;
    av_dict_set(&options, lossless ? "lossless" : "crf", lossless ? "1" : "31", 0);
    av_dict_set(&options, "cpu-used", "4", 0);
    av_dict_set(&options, "row-mt", "1", 0);
  } else {
    av_dict_set(&options, lossless ? "qp" : "crf", lossless ? "0" : "18", 0);
    av_dict_set(&options, "preset", lossless ? "ultrafast" : "medium", 0);
  }
  const int opened = avcodec_open2(v.video, codec, &options);
  av_dict_free(&options);
  if (opened < 0) {
    error = std::string("cannot start the ") + codec->name + " encoder: " + av_message(opened);
    return false;
  }
  v.video_stream = avformat_new_stream(v.format, nullptr);
  v.video_stream->time_base = v.video->time_base;
  v.video_stream->avg_frame_rate = v.video->framerate;
  v.video_stream->r_frame_rate = v.video->framerate;
  avcodec_parameters_from_context(v.video_stream->codecpar, v.video);

  v.picture = av_frame_alloc();
  v.picture->format = v.video->pix_fmt;
  v.picture->width = kWorldWidth;
  v.picture->height = kWorldHeight;
  if (av_frame_get_buffer(v.picture, 0) < 0) {
    error = "out of memory for the video frame";
    return false;
  }
  if (!lossless) {
    v.scale = sws_getContext(kWorldWidth, kWorldHeight, AV_PIX_FMT_RGB24, kWorldWidth, kWorldHeight,
                             AV_PIX_FMT_YUV420P, SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    if (v.scale == nullptr) {
      error = "cannot convert pictures to YUV";
      return false;
    }
  }
  return true;
}

bool supports_rate(const AVCodec* codec, int rate) {
  if (codec->supported_samplerates == nullptr) return true;
  for (const int* r = codec->supported_samplerates; *r != 0; ++r) {
    if (*r == rate) return true;
  }
  return false;
}

bool open_audio_stream(EncodedVideo& v, const AVCodec* codec, VideoKind kind, std::string& error) {
  v.audio = avcodec_alloc_context3(codec);
  int rate = kind == VideoKind::kWebm ? kOpusRate : v.track->sample_rate;
  if (!supports_rate(codec, rate)) rate = kFallbackRate;
  v.audio->sample_rate = rate;
  v.audio->time_base = AVRational{1, rate};
  v.audio->sample_fmt = codec->sample_fmts != nullptr ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
  for (const AVSampleFormat* f = codec->sample_fmts; f != nullptr && *f != AV_SAMPLE_FMT_NONE; ++f) {
    if (*f == AV_SAMPLE_FMT_FLT || *f == AV_SAMPLE_FMT_FLTP) v.audio->sample_fmt = *f;
  }
  av_channel_layout_default(&v.audio->ch_layout, 2);
  v.audio->bit_rate = kAudioBitRate;
  if (v.format->oformat->flags & AVFMT_GLOBALHEADER) v.audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  const int opened = avcodec_open2(v.audio, codec, nullptr);
  if (opened < 0) {
    error = std::string("cannot start the ") + codec->name + " encoder: " + av_message(opened);
    return false;
  }
  v.audio_stream = avformat_new_stream(v.format, nullptr);
  v.audio_stream->time_base = v.audio->time_base;
  avcodec_parameters_from_context(v.audio_stream->codecpar, v.audio);

  AVChannelLayout stereo;
  av_channel_layout_default(&stereo, 2);
  if (swr_alloc_set_opts2(&v.resample, &v.audio->ch_layout, v.audio->sample_fmt, rate, &stereo, AV_SAMPLE_FMT_FLT,
                          v.track->sample_rate, 0, nullptr) < 0 ||
      swr_init(v.resample) < 0) {
    error = "cannot resample the sound to " + std::to_string(rate) + " Hz";
    return false;
  }
  const int frame_size = v.audio->frame_size > 0 ? v.audio->frame_size : 1024;
  v.fifo = av_audio_fifo_alloc(v.audio->sample_fmt, 2, frame_size);
  v.sound = av_frame_alloc();
  v.sound->format = v.audio->sample_fmt;
  v.sound->sample_rate = rate;
  v.sound->nb_samples = frame_size;
  av_channel_layout_copy(&v.sound->ch_layout, &v.audio->ch_layout);
  if (v.fifo == nullptr || av_frame_get_buffer(v.sound, 0) < 0) {
    error = "out of memory for the sound";
    return false;
  }
  return true;
}

// Encodes whole encoder frames from the FIFO; at the end also the last, shorter one.
bool encode_fifo(EncodedVideo& v, bool last, std::string& error) {
  const int frame_size = v.sound->nb_samples;
  while (av_audio_fifo_size(v.fifo) >= frame_size || (last && av_audio_fifo_size(v.fifo) > 0)) {
    const int count = av_audio_fifo_size(v.fifo) < frame_size ? av_audio_fifo_size(v.fifo) : frame_size;
    if (av_frame_make_writable(v.sound) < 0) {
      error = "out of memory for the sound";
      return false;
    }
    v.sound->nb_samples = count;
    av_audio_fifo_read(v.fifo, reinterpret_cast<void**>(v.sound->data), count);
    v.sound->pts = v.sound_pts;
    v.sound_pts += count;
    const bool ok = send(v, v.audio, v.audio_stream, v.sound, error);
    v.sound->nb_samples = frame_size;
    if (!ok) return false;
  }
  return true;
}

// Resamples the track up to sample frame `until` (or flushes the resampler when
// `until` is negative) into the FIFO.
bool feed_sound(EncodedVideo& v, int64_t until, std::string& error) {
  const int64_t count = until < 0 ? 0 : until - v.sound_fed;
  if (until >= 0 && count <= 0) return true;
  const uint8_t* in = until < 0 ? nullptr
                                : reinterpret_cast<const uint8_t*>(&v.track->samples[static_cast<size_t>(2 * v.sound_fed)]);
  const int out_room = swr_get_out_samples(v.resample, static_cast<int>(count));
  uint8_t** out = nullptr;
  if (out_room > 0 && av_samples_alloc_array_and_samples(&out, nullptr, 2, out_room, v.audio->sample_fmt, 0) < 0) {
    error = "out of memory for the sound";
    return false;
  }
  const int made = out_room > 0 ? swr_convert(v.resample, out, out_room, in == nullptr ? nullptr : &in,
                                              static_cast<int>(count))
                                : 0;
  if (made > 0) av_audio_fifo_write(v.fifo, reinterpret_cast<void**>(out), made);
  if (out != nullptr) av_freep(&out[0]);
  av_freep(&out);
  if (made < 0) {
    error = "cannot resample the sound: " + av_message(made);
    return false;
  }
  v.sound_fed += count;
  return true;
}

}  // namespace

EncodedVideo* encoded_video_open(const std::string& path, VideoKind kind, const AudioTrack* audio, int64_t frames,
                                 bool lossless, std::string& error) {
  av_log_set_level(AV_LOG_ERROR);
  const Names names = names_of(kind, lossless);
  const AVCodec* video_codec = avcodec_find_encoder_by_name(names.video);
  const AVCodec* audio_codec = audio != nullptr ? avcodec_find_encoder_by_name(names.audio) : nullptr;
  if (video_codec == nullptr || (audio != nullptr && audio_codec == nullptr)) {
    error = std::string("cannot write ") + names.what + ": this FFmpeg has no " +
            (video_codec == nullptr ? names.video : names.audio) + " encoder";
    return nullptr;
  }
  EncodedVideo* v = new EncodedVideo();
  v->path = path;
  v->temp_path = path + ".tmp";
  v->track = audio;
  if (audio != nullptr) {
    const int64_t end = frame_sample_position(frames, audio->sample_rate);
    v->sound_end = end < audio->frames ? end : audio->frames;
  }
  if (avformat_alloc_output_context2(&v->format, nullptr, names.format, v->temp_path.c_str()) < 0 ||
      v->format == nullptr) {
    error = std::string("this FFmpeg cannot write ") + names.what;
    release(v);
    return nullptr;
  }
  if (!open_video_stream(*v, video_codec, kind, lossless, error) ||
      (audio != nullptr && !open_audio_stream(*v, audio_codec, kind, error))) {
    release(v);
    return nullptr;
  }
  v->packet = av_packet_alloc();
  const int opened = avio_open(&v->format->pb, v->temp_path.c_str(), AVIO_FLAG_WRITE);
  if (opened < 0) {
    error = "cannot write '" + path + "': " + av_message(opened);
    release(v);
    return nullptr;
  }
  AVDictionary* options = nullptr;
  // The index at the front: a shared file starts playing before it has all arrived.
  if (kind == VideoKind::kMp4) av_dict_set(&options, "movflags", "+faststart", 0);
  const int header = avformat_write_header(v->format, &options);
  av_dict_free(&options);
  if (header < 0) {
    error = "cannot write '" + path + "': " + av_message(header);
    encoded_video_discard(v);
    return nullptr;
  }
  v->header_written = true;
  return v;
}

bool encoded_video_frame(EncodedVideo& v, const PixelBuffer& picture, std::string& error) {
  if (av_frame_make_writable(v.picture) < 0) {
    error = "out of memory for the video frame";
    return false;
  }
  const uint8_t* rgb = &picture.rgb[0][0][0];
  if (v.scale != nullptr) {
    const int stride = kWorldWidth * 3;
    sws_scale(v.scale, &rgb, &stride, 0, kWorldHeight, v.picture->data, v.picture->linesize);
  } else if (v.picture->format == AV_PIX_FMT_RGB24) {
    for (int y = 0; y < kWorldHeight; ++y) {
      std::memcpy(v.picture->data[0] + y * v.picture->linesize[0], rgb + y * kWorldWidth * 3, kWorldWidth * 3);
    }
  } else {
    // Planar RGB is stored green, blue, red.
    for (int y = 0; y < kWorldHeight; ++y) {
      for (int x = 0; x < kWorldWidth; ++x) {
        const uint8_t* px = picture.rgb[y][x];
        v.picture->data[0][y * v.picture->linesize[0] + x] = px[1];
        v.picture->data[1][y * v.picture->linesize[1] + x] = px[2];
        v.picture->data[2][y * v.picture->linesize[2] + x] = px[0];
      }
    }
  }
  v.picture->pts = v.frames_written++;
  if (!send(v, v.video, v.video_stream, v.picture, error)) return false;
  if (v.audio == nullptr) return true;
  int64_t until = frame_sample_position(v.frames_written, v.track->sample_rate);
  if (until > v.sound_end) until = v.sound_end;
  return feed_sound(v, until, error) && encode_fifo(v, false, error);
}

bool encoded_video_commit(EncodedVideo* v, std::string& error) {
  bool ok = true;
  if (v->audio != nullptr) {
    ok = feed_sound(*v, v->sound_end, error) && feed_sound(*v, -1, error) && encode_fifo(*v, true, error) &&
         send(*v, v->audio, v->audio_stream, nullptr, error);
  }
  ok = ok && send(*v, v->video, v->video_stream, nullptr, error);
  if (ok) {
    const int trailer = av_write_trailer(v->format);
    if (trailer < 0) {
      error = "cannot write '" + v->path + "': " + av_message(trailer);
      ok = false;
    }
  }
  if (ok && avio_closep(&v->format->pb) < 0) {
    error = "cannot write '" + v->path + "' (disk full or device error)";
    ok = false;
  }
  if (ok && std::rename(v->temp_path.c_str(), v->path.c_str()) != 0) {
    error = "cannot move '" + v->temp_path + "' to '" + v->path + "': " + std::strerror(errno);
    ok = false;
  }
  if (!ok) {
    encoded_video_discard(v);
    return false;
  }
  release(v);
  return true;
}

void encoded_video_discard(EncodedVideo* v) {
  if (v == nullptr) return;
  const std::string temp = v->temp_path;
  release(v);
  std::remove(temp.c_str());
}
