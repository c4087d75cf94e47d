#include "checks.h"

#include <cstdio>

static int cases_passed;
static int cases_failed;
static std::vector<std::string> case_problems;
static const char* current_case = "start-up";

void expect(bool ok, const std::string& what, int line) {
  if (!ok) case_problems.push_back("line " + std::to_string(line) + ": " + what);
}

std::string describe(long long value) { return std::to_string(value); }
std::string describe(const std::string& value) { return "\"" + value + "\""; }

static LONG WINAPI report_crash(EXCEPTION_POINTERS* exception) {
  printf("FAIL %s\n     crashed: exception 0x%08lx at %p\n", current_case,
         exception->ExceptionRecord->ExceptionCode, exception->ExceptionRecord->ExceptionAddress);
  printf("%d passed, %d failed\n", cases_passed, cases_failed + 1);
  fflush(stdout);
  ExitProcess(3);
}

void report_crashes() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(report_crash);
}

void run_case(const char* name, void (*body)()) {
  current_case = name;
  case_problems.clear();
  body();
  pump_messages();
  if (case_problems.empty()) {
    ++cases_passed;
    printf("PASS %s\n", name);
  } else {
    ++cases_failed;
    printf("FAIL %s\n", name);
    for (const std::string& problem : case_problems) printf("     %s\n", problem.c_str());
  }
  fflush(stdout);
}

bool print_totals() {
  printf("%d passed, %d failed\n", cases_passed, cases_failed);
  return cases_failed == 0;
}

void expect_requests(const std::vector<Request>& wanted, int line) {
  bool same = player.requests.size() == wanted.size();
  for (size_t i = 0; same && i < wanted.size(); ++i) {
    same = player.requests[i].code == wanted[i].code && player.requests[i].argument == wanted[i].argument;
  }
  if (same) return;
  std::string text;
  for (const Request& r : player.requests) text += " " + std::to_string(r.code) + "(" + std::to_string(r.argument) + ")";
  expect(false, "host requests were" + (text.empty() ? std::string(" none") : text), line);
}

void expect_calls(const std::vector<std::string>& wanted, int line) {
  if (player.calls == wanted) return;
  std::string text;
  for (const std::string& call : player.calls) text += (text.empty() ? "" : ", ") + call;
  expect(false, "calls were: " + text, line);
}

void expect_one_box(const char* text, const char* caption, int line) {
  expect(player.boxes.size() == 1, std::to_string(player.boxes.size()) + " message boxes, expected 1", line);
  if (player.boxes.empty()) return;
  const SeenBox& box = player.boxes.front();
  expect(box.text == text, "box text \"" + box.text + "\"", line);
  expect(box.caption == caption, "box caption \"" + box.caption + "\"", line);
  expect(box.owner == player.main_window, "box not owned by the player's main window", line);
  expect(box.buttons == std::vector<int>{IDOK}, "box buttons are not OK alone", line);
}

void expect_frame_asked(int left, int top, int right, int bottom, int line) {
  expect(player.frames_asked.size() == 1, std::to_string(player.frames_asked.size()) + " frames asked for", line);
  if (player.frames_asked.empty()) return;
  const RECT& r = player.frames_asked.back();
  char text[96];
  snprintf(text, sizeof text, "frame asked at (%ld, %ld)-(%ld, %ld)", r.left, r.top, r.right, r.bottom);
  expect(r.left == left && r.top == top && r.right == right && r.bottom == bottom, text, line);
}

HWND init_ok(int line) {
  player_clear_records();
  int32_t result = call_init();
  expect(result == 0, "init returned " + std::to_string(result), line);
  HWND frame = frame_record_window();
  return frame ? display_window_of(frame) : nullptr;
}

void quit_and_pump() {
  player_clear_records();
  call_quit();
  pump_messages();
}
