#pragma once
// The test host's groups of cases, one process each (several need the DLL as it is
// right after loading), and the options of the world group.
#include <string>

void group_records();
void group_lifecycle();
void group_settings();
void group_failures();
void group_hostile();
void group_world();

struct WorldOptions {
  std::string spectrum;  // a file of 1152-byte spectra, looped, or "silence"
  int frames;
  std::string out;         // the seed, then the picture digest of every frame read
  bool no_dib_section;     // the DLL gets no DIB section and a strict SetDIBits
  bool twin;               // a second copy of the DLL, without DIB sections, beside it
  int read_every = 1;      // read the window after every Nth frame; 0: never
};
extern WorldOptions world_options;
