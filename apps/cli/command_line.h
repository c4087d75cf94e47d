#pragma once
// What the programs' command lines share.
#include <cstdint>
#include <string>

// Frame counts and intervals stay well inside int32, the type of the world's frame_count.
constexpr uint64_t kMaxFrames = 2000000000;

// The release, as the build's project version gives it: "1.0.0".
const char* corvanta_version();

// Whole decimal digits up to max, nothing else: false for "", "-3", "12abc" or too large.
bool parse_decimal(const char* text, uint64_t max, uint64_t& value);

// Arguments quoted in messages show control characters as \xHH, so that a stray
// newline cannot turn a one-line message into several.
std::string escaped_for_message(const std::string& text);
