#include "media/video_kind.h"

VideoKind video_kind_of(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return VideoKind::kUnknown;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (ext == "y4m") return VideoKind::kY4m;
  if (ext == "mp4") return VideoKind::kMp4;
  if (ext == "webm") return VideoKind::kWebm;
  return VideoKind::kUnknown;
}
