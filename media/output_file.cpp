#include "media/output_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "world/world_stream.h"

bool output_open(OutputFile& out, const std::string& path, std::string& error) {
  out.path = path;
  out.failed = false;
  struct stat info;
  out.in_place = stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
  out.temp_path = out.in_place ? path : path + ".tmp";
  out.file = std::fopen(out.temp_path.c_str(), "wb");
  if (out.file == nullptr) {
    error = "cannot write '" + path + "': " + std::strerror(errno);
    return false;
  }
  return true;
}

void output_write(OutputFile& out, const void* data, size_t size) {
  if (out.failed || size == 0) return;
  if (std::fwrite(data, 1, size, out.file) != size) out.failed = true;
}

bool output_commit(OutputFile& out, std::string& error) {
  if (out.file == nullptr) return true;
  const bool flushed = std::fflush(out.file) == 0 && std::ferror(out.file) == 0;
  const bool closed = std::fclose(out.file) == 0;
  out.file = nullptr;
  if (out.failed || !flushed || !closed) {
    if (!out.in_place) std::remove(out.temp_path.c_str());
    error = "cannot write '" + out.path + "' (disk full or device error)";
    return false;
  }
  if (out.in_place) return true;
  if (std::rename(out.temp_path.c_str(), out.path.c_str()) != 0) {
    error = "cannot move '" + out.temp_path + "' to '" + out.path + "': " + std::strerror(errno);
    std::remove(out.temp_path.c_str());
    return false;
  }
  return true;
}

void output_discard(OutputFile& out) {
  if (out.file == nullptr) return;
  std::fclose(out.file);
  out.file = nullptr;
  if (!out.in_place) std::remove(out.temp_path.c_str());
}

namespace {

void file_sink(const uint8_t* data, size_t size, void* context) {
  output_write(*static_cast<OutputFile*>(context), data, size);
}

}  // namespace

void output_world_stream(OutputFile& out, const World& world) {
  write_world_stream(world, file_sink, &out);
}
