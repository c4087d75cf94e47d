#pragma once
// Output files written whole or not at all: each is written under FILE.tmp and renamed
// to FILE only once complete, so an interrupted or failed run never leaves a file that
// looks finished.
#include <cstdio>
#include <string>

#include "world/world_state.h"

struct OutputFile {
  std::string path;
  std::string temp_path;
  FILE* file = nullptr;
  bool failed = false;  // a write went wrong; commit will refuse
  // The path names a device or a pipe (/dev/null, /dev/stdout, a FIFO): written in
  // place, never renamed onto nor removed, which would put a plain file where the
  // device was.
  bool in_place = false;
};

bool output_open(OutputFile& out, const std::string& path, std::string& error);
void output_write(OutputFile& out, const void* data, size_t size);
// Closes and renames into place; on any failure removes the temporary file. Once
// committed, a failed run may remove the file again unless it was written in place.
bool output_commit(OutputFile& out, std::string& error);
// Closes and removes the temporary file, if open.
void output_discard(OutputFile& out);

// The world byte stream, complete, into out.
void output_world_stream(OutputFile& out, const World& world);
