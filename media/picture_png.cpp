#include "media/picture_png.h"

#if CORVANTA_PNG
#include <png.h>
#endif

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "media/output_file.h"

namespace fs = std::filesystem;

#if CORVANTA_PNG
namespace {

void png_fail(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void png_quiet(png_structp, png_const_charp) {}

}  // namespace
#endif

bool prepare_picture_dir(const std::string& dir, std::string& error) {
#if !CORVANTA_PNG
  error = "this corvanta-sim was built without libpng and writes no pictures (use --trace or --snapshot)";
  return false;
#endif
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (!fs::is_directory(dir)) {
    error = "cannot create picture folder '" + dir + "'" + (ec ? ": " + ec.message() : "");
    return false;
  }
  // Find out now, not after a long run, whether pictures can be written there.
  OutputFile probe;
  std::string probe_error;
  if (!output_open(probe, dir + "/.corvanta-sim-probe", probe_error)) {
    error = "cannot write pictures into '" + dir + "': " + std::strerror(errno);
    return false;
  }
  output_discard(probe);
  return true;
}

bool write_picture_png(const std::string& dir, int32_t frame, const PixelBuffer& picture, std::string& error) {
#if !CORVANTA_PNG
  (void)dir;
  (void)frame;
  (void)picture;
  error = "this corvanta-sim was built without libpng";
  return false;
#else
  char name[32];
  std::snprintf(name, sizeof name, "/frame-%06d.png", static_cast<int>(frame));
  OutputFile out;
  if (!output_open(out, dir + name, error)) return false;

  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_fail, png_quiet);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    output_discard(out);
    error = "cannot start a PNG for '" + out.path + "'";
    return false;
  }
  png_bytep rows[kWorldHeight];
  for (int32_t y = 0; y < kWorldHeight; ++y) rows[y] = const_cast<png_bytep>(&picture.rgb[y][0][0]);
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    output_discard(out);
    error = "cannot write '" + out.path + "'";
    return false;
  }
  png_init_io(png, out.file);
  // Fast compression: the pictures are mostly flat black and compress well anyway.
  png_set_compression_level(png, 3);
  png_set_IHDR(png, info, kWorldWidth, kWorldHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_rows(png, info, rows);
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  return output_commit(out, error);
#endif
}
