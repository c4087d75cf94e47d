#pragma once
// The test host's assertions: each case runs through run_case, which prints one
// PASS or FAIL line with the problems its expectations collected.
#include <string>
#include <vector>

#include "player.h"

void expect(bool ok, const std::string& what, int line);

std::string describe(long long value);
std::string describe(const std::string& value);

template <typename A, typename B>
void expect_equal(const A& actual, const B& wanted, const char* actual_text, int line) {
  if (!(actual == wanted)) {
    expect(false, std::string(actual_text) + " is " + describe(actual) + ", expected " + describe(wanted), line);
  }
}

#define EXPECT(condition) expect((condition), #condition, __LINE__)
#define EXPECT_EQ(actual, wanted) expect_equal((actual), (wanted), #actual, __LINE__)

// A crash in the plug-in ends the run at once, naming the case it happened in.
void report_crashes();
void run_case(const char* name, void (*body)());
// "N passed, N failed"; true when none failed.
bool print_totals();

// The host requests since the last player_clear_records, code and argument each.
void expect_requests(const std::vector<Request>& wanted, int line);
#define EXPECT_REQUESTS(...) expect_requests({__VA_ARGS__}, __LINE__)
// The calls the plug-in made while the player's call log was on (player_log_calls).
void expect_calls(const std::vector<std::string>& wanted, int line);
// One box with the given text and caption, owned by the player's main window,
// with an OK button alone.
void expect_one_box(const char* text, const char* caption, int line);
// The one frame asked for since the records were cleared, by its rectangle.
void expect_frame_asked(int left, int top, int right, int bottom, int line);

inline WPARAM window_argument(HWND window) { return reinterpret_cast<WPARAM>(window); }
inline bool rect_is(const RECT& r, int left, int top, int right, int bottom) {
  return r.left == left && r.top == top && r.right == right && r.bottom == bottom;
}

// Runs init against a fresh log and expects success: the display window or null.
HWND init_ok(int line);
// Quit, then the thread's queue handled.
void quit_and_pump();
