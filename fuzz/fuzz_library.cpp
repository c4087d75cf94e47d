// Random sequences of calls on libcorvanta's interface: creates with arbitrary configs
// (of any size), feeds of any count and any bits (NaN and infinity included), steps,
// finishes, discontinuities, picture copies with arbitrary strides, formats and sizes,
// trace lines, destroys. Whatever the order, no call may crash, read or write out of
// bounds (the sanitizers watch), or break the interface's promises: a known status, a
// message after every failure, frame numbers that never go back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "corvanta/corvanta.h"

namespace {

struct Bytes {
  const uint8_t* data;
  size_t size;
  uint32_t take(int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes && size > 0; ++i, ++data, --size) value |= static_cast<uint32_t>(*data) << (8 * i);
    return value;
  }
};

void require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "broken promise: %s\n", what);
  std::abort();
}

void check_status(corvanta* handle, corvanta_status status) {
  require(std::strcmp(corvanta_status_name(status), "unknown status") != 0, "a status outside the enum");
  if (status != CORVANTA_OK && handle != nullptr) require(corvanta_last_error(handle)[0] != '\0', "no message");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes in{data, size};
  corvanta* handles[2] = {nullptr, nullptr};
  int64_t last_number[2] = {0, 0};
  int64_t channels[2] = {2, 2};  // as each handle was configured, to size the feeds
  int creates = 0;
  int steps = 0;
  std::vector<uint8_t> pixels;
  std::vector<uint8_t> record(CORVANTA_SPECTRUM_BYTES);
  std::vector<uint8_t> samples;
  while (in.size > 0) {
    const uint32_t op = in.take(1);
    const int which = op & 1;
    corvanta*& handle = handles[which];
    switch ((op >> 1) % 9) {
      case 0: {  // create: a world costs a few milliseconds, so two at most
        if (creates >= 2) break;
        ++creates;
        corvanta_destroy(handle);
        handle = nullptr;
        last_number[which] = 0;
        uint8_t config[64] = {};
        corvanta_config_init(reinterpret_cast<corvanta_config*>(config));
        const uint32_t spoil = in.take(1);
        for (uint32_t i = 0; i < spoil % 4; ++i) config[in.take(1) % sizeof config] = static_cast<uint8_t>(in.take(1));
        // The size says how much of the caller's struct the library may read: any
        // value up to the buffer's, not beyond it (that would be the caller's fault).
        corvanta_config* header = reinterpret_cast<corvanta_config*>(config);
        if (header->size > sizeof config) header->size = static_cast<uint32_t>(header->size % (sizeof config + 1));
        char message[48];
        const corvanta_status status =
            corvanta_create(reinterpret_cast<corvanta_config*>(config), &handle, message, sizeof message);
        check_status(nullptr, status);
        require((status == CORVANTA_OK) == (handle != nullptr), "a handle with a failure, or none with success");
        const corvanta_config* made = reinterpret_cast<corvanta_config*>(config);
        const bool sized = made->size >= offsetof(corvanta_config, channels) + sizeof made->channels;
        channels[which] = sized && made->channels > 0 ? made->channels : 2;
        require(std::strlen(message) < sizeof message, "message overran its buffer");
        break;
      }
      case 1:
      case 2: {  // feed: floats or 16-bit, of any bits, with a count that may lie about the channels
        const int64_t frames = static_cast<int64_t>(in.take(2)) - 16;
        const size_t bytes = static_cast<size_t>(in.take(2));
        samples.assign(bytes + 8, 0);
        const size_t copied = bytes < in.size ? bytes : in.size;
        std::memcpy(samples.data(), in.data, copied);
        in.data += copied;
        in.size -= copied;
        // Never more frames than the buffer holds for the handle's channel count: the
        // library cannot know a buffer's end, so that much is the caller's to keep.
        const bool floats = ((op >> 1) % 9) == 1;
        const int64_t room = static_cast<int64_t>(bytes) / (channels[which] * (floats ? 4 : 2));
        const int64_t count = frames < 0 ? frames : (frames < room ? frames : room);
        const corvanta_status status =
            floats ? corvanta_feed_float(handle, reinterpret_cast<const float*>(samples.data()), count)
                   : corvanta_feed_int16(handle, reinterpret_cast<const int16_t*>(samples.data()), count);
        check_status(handle, status);
        break;
      }
      case 3: {  // step what is due, a few
        for (int i = 0; i < 4 && steps < 48 && corvanta_frames_due(handle) > 0; ++i, ++steps) {
          corvanta_frame frame;
          const corvanta_status status = corvanta_step(handle, &frame);
          check_status(handle, status);
          if (status == CORVANTA_OK) {
            require(frame.number == last_number[which] + 1, "frame numbers skip or go back");
            last_number[which] = frame.number;
          }
        }
        check_status(handle, corvanta_step(handle, nullptr));
        if (handle != nullptr) last_number[which] = corvanta_frame_number(handle);
        break;
      }
      case 4:
        check_status(handle, corvanta_finish(handle));
        break;
      case 5:
        check_status(handle, corvanta_discontinuity(handle));
        break;
      case 6: {  // a spectrum record
        if (steps >= 48) break;
        const size_t copied = in.size < record.size() ? in.size : record.size();
        std::memcpy(record.data(), in.data, copied);
        in.data += copied;
        in.size -= copied;
        const corvanta_status status = corvanta_step_spectrum(handle, record.data(), nullptr);
        check_status(handle, status);
        if (status == CORVANTA_OK) ++steps;
        if (handle != nullptr) last_number[which] = corvanta_frame_number(handle);
        break;
      }
      case 7: {  // a picture: the buffer is exactly what the arguments describe
        const int32_t width = static_cast<int32_t>(in.take(2)) - 8;
        const int32_t height = static_cast<int32_t>(in.take(2) % 1200) - 8;
        const int32_t stride = static_cast<int32_t>(in.take(2)) - 8;
        const corvanta_pixel_format format = static_cast<corvanta_pixel_format>(in.take(1) % 3);
        const bool scaled = (in.take(1) & 1) != 0;
        const int32_t rows = scaled ? height : CORVANTA_HEIGHT;
        if (rows <= 0 || stride <= 0 || static_cast<int64_t>(rows) * stride > (int64_t{1} << 26)) {
          check_status(handle, corvanta_copy_picture_scaled(handle, nullptr, width, height, stride, format));
          break;
        }
        pixels.assign(static_cast<size_t>(rows) * static_cast<size_t>(stride), 0);
        const corvanta_status status =
            scaled ? corvanta_copy_picture_scaled(handle, pixels.data(), width, height, stride, format)
                   : corvanta_copy_picture(handle, pixels.data(), stride, format);
        check_status(handle, status);
        break;
      }
      case 8: {
        char line[CORVANTA_TRACE_LINE_BYTES + 8];
        const size_t room = in.take(1) % sizeof line;
        const corvanta_status status = corvanta_trace_line(handle, line, room);
        check_status(handle, status);
        if (status == CORVANTA_OK) require(std::strlen(line) < CORVANTA_TRACE_LINE_BYTES, "trace line too long");
        break;
      }
    }
  }
  corvanta_destroy(handles[0]);
  corvanta_destroy(handles[1]);
  return 0;
}
