// Plays the media player to the plug-in DLL under Wine and checks what the plug-in
// does to it. One group of cases per process, since several cases need the DLL as
// it is right after loading:
//
//   corvanta_test_host DLL FOLDER records|lifecycle|settings|failures|hostile
//   corvanta_test_host DLL FOLDER world SPECTRUM|silence FRAMES OUT [no-dib-section] [twin] [read-every=N]
//
// FOLDER is emptied and receives a copy of DLL. Each case prints one result line;
// the last line is "N passed, N failed".
//
// The world group runs the world from the calendar second of its first frame, as in
// the player (the test host learns that second by timing the frame), and writes the
// seed and the picture digest of every frame to OUT, for comparison with
// corvanta-sim; it quits and inits again after frame 300, which must not show in
// the pictures. no-dib-section makes the DLL's CreateDIBSection fail, so that it
// draws into a compatible bitmap through SetDIBits, and makes that SetDIBits refuse
// a bitmap still selected into a context, as the documentation allows. twin runs a
// second copy of the DLL so refused beside the first, on the same seed, and holds
// the two windows' pictures equal pixel for pixel. read-every=N reads the window
// back only after every Nth frame (0: never): reading it copies megabytes through
// Wine and the X server, which leaves the next frame to start from cold caches, as
// it would not in a player.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "checks.h"
#include "groups.h"

WorldOptions world_options;

static bool read_world_options(int argc, char** argv) {
  if (argc < 7) return false;
  world_options.spectrum = argv[4];
  world_options.frames = atoi(argv[5]);
  world_options.out = argv[6];
  for (int i = 7; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "no-dib-section") {
      world_options.no_dib_section = true;
    } else if (option == "twin") {
      world_options.twin = true;
    } else if (option.compare(0, 11, "read-every=") == 0 && atoi(option.c_str() + 11) >= 0) {
      world_options.read_every = atoi(option.c_str() + 11);
    } else {
      fprintf(stderr, "unknown world option %s\n", option.c_str());
      return false;
    }
  }
  return true;
}

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  report_crashes();
  const struct {
    const char* name;
    void (*run)();
  } groups[] = {{"records", group_records},   {"lifecycle", group_lifecycle}, {"settings", group_settings},
                {"failures", group_failures}, {"hostile", group_hostile},     {"world", group_world}};
  const std::string group = argc >= 4 ? argv[3] : "";
  if (group == "world" && !read_world_options(argc, argv)) {
    fprintf(stderr, "usage: %s DLL FOLDER world SPECTRUM|silence FRAMES OUT [no-dib-section] [twin] [read-every=N]\n",
            argv[0]);
    return 2;
  }
  for (const auto& g : groups) {
    if (group != g.name) continue;
    if (!player_start(argv[1], argv[2])) return 2;
    g.run();
    return print_totals() ? 0 : 1;
  }
  fprintf(stderr, "usage: %s DLL FOLDER records|lifecycle|settings|failures|hostile|world ...\n", argv[0]);
  return 2;
}
