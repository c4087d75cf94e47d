#pragma once
// The world's pictures as PNG files, one per frame. In a build without libpng,
// preparing the folder says so instead.
#include <cstdint>
#include <string>

#include "world/renderer.h"

// Creates the folder if needed and makes sure files can be created in it.
bool prepare_picture_dir(const std::string& dir, std::string& error);
// dir/frame-NNNNNN.png, written via a temporary file.
bool write_picture_png(const std::string& dir, int32_t frame, const PixelBuffer& picture, std::string& error);
