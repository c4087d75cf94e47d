#pragma once
// The kinds of video corvanta-sim writes, chosen by the file's extension.
#include <string>

enum class VideoKind { kY4m, kMp4, kWebm, kUnknown };

// By the extension, case-insensitive; kUnknown for anything else or none.
VideoKind video_kind_of(const std::string& path);
