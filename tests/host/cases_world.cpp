// Frames and picture digests for corvanta-sim.
#include "groups.h"

#include <cstring>
#include <ctime>
#include <utility>

#include "checks.h"

static std::vector<uint8_t> spectra;  // whole 1152-byte records, looped; empty: silence

static bool load_spectra(const std::string& source) {
  if (source == "silence") return true;
  spectra.clear();
  FILE* file = fopen(source.c_str(), "rb");
  if (!file) return false;
  uint8_t chunk[kSpectrumBytes];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, file)) == sizeof chunk) spectra.insert(spectra.end(), chunk, chunk + got);
  fclose(file);
  return got == 0 && !spectra.empty();
}

static void write_spectrum(int64_t frame_index) {
  uint8_t* target = player.module + kModuleSpectrum;
  if (spectra.empty()) {
    memset(target, 0, kSpectrumBytes);
    return;
  }
  size_t records = spectra.size() / kSpectrumBytes;
  memcpy(target, spectra.data() + static_cast<size_t>(frame_index % records) * kSpectrumBytes, kSpectrumBytes);
}

static double seconds_now() {
  static LARGE_INTEGER frequency;
  if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / frequency.QuadPart;
}

// A loaded copy of the plug-in, as the player's fields hold it while it is called.
struct Copy {
  HMODULE dll;
  uint8_t* header;
  uint8_t* module;
  uint8_t* frame_record;
  HWND display;
  bool refused;  // no DIB sections, a strict SetDIBits
};
static Copy copies[2];
static int copy_count;

static void swap_in(Copy& copy) {
  std::swap(player.dll, copy.dll);
  std::swap(player.header, copy.header);
  std::swap(player.module, copy.module);
  std::swap(player.frame_record, copy.frame_record);
}

// Runs `step` with the player's fields pointing at `copy`.
template <typename Step>
static void as_copy(Copy& copy, Step step) {
  swap_in(copy);
  step();
  swap_in(copy);
}

static bool load_copy(Copy& copy, const std::string& file) {
  bool ok = false;
  as_copy(copy, [&] { ok = player_attach_dll(LoadLibraryA(file.c_str())); });
  return ok;
}

// The player's own copy, and in a twin run a second one from a folder of its own
// (a second file, so the system maps a second module with its own world).
static bool load_copies() {
  copy_count = 0;
  Copy& first = copies[copy_count++];
  first = {};
  first.refused = world_options.no_dib_section;
  if (!load_copy(first, folder_file("vis_corvanta.dll"))) return false;
  if (!world_options.twin) return true;
  const std::string folder = player.folder + "-twin";
  CreateDirectoryA(folder.c_str(), nullptr);
  CopyFileA(folder_file("vis_corvanta.dll").c_str(), (folder + "\\vis_corvanta.dll").c_str(), FALSE);
  Copy& twin = copies[copy_count++];
  twin = {};
  twin.refused = true;
  return load_copy(twin, folder + "\\vis_corvanta.dll");
}

static void unload_copies() {
  for (int i = 0; i < copy_count; ++i) as_copy(copies[i], [] { player_unload_dll(); });
}

static void init_copies() {
  for (int i = 0; i < copy_count; ++i) {
    as_copy(copies[i], [&] {
      if (copies[i].refused) EXPECT(player_refuse_dib_sections(player.dll));
      fill_module_host_fields();
      copies[i].display = init_ok(__LINE__);
    });
  }
}

static void quit_copies() {
  for (int i = 0; i < copy_count; ++i) as_copy(copies[i], [] { quit_and_pump(); });
}

// The first frame seeds the world with the calendar second it runs in. Starting
// just after a second turns makes a straddle unlikely; if one happens anyway, the
// DLLs are reloaded, which brings their worlds back to the load state (and takes
// back the imports the test host redirected, so that is done again before each init).
static uint32_t first_frame_seed() {
  for (int attempt = 0; attempt < 3; ++attempt) {
    init_copies();
    if (!copies[0].display || (copy_count > 1 && !copies[1].display)) return 0;
    time_t start = time(nullptr);
    while (time(nullptr) == start) Sleep(1);
    time_t before = time(nullptr);
    for (int i = 0; i < copy_count; ++i) {
      as_copy(copies[i], [] {
        write_spectrum(0);
        EXPECT_EQ(call_render(), 0);
      });
    }
    time_t after = time(nullptr);
    if (before == after) return static_cast<uint32_t>(before);
    quit_copies();
    unload_copies();
    if (!load_copies()) return 0;
  }
  expect(false, "the first frame straddled a second three times", __LINE__);
  return 0;
}

constexpr int kReinitFrame = 300;

static void case_world_run() {
  EXPECT(load_spectra(world_options.spectrum));
  FILE* out = fopen(world_options.out.c_str(), "wb");
  EXPECT(out != nullptr);
  // The player's own copy was loaded by player_start.
  player_unload_dll();
  if (!out || !load_copies()) return;
  const uint32_t seed = first_frame_seed();
  fprintf(out, "seed %u\n", seed);
  if (!copies[0].display) return;
  const int frames = world_options.frames;
  Picture picture = {kPictureWidth, kPictureHeight, {}};
  Picture twin_picture = {kPictureWidth, kPictureHeight, {}};
  int twin_frames_compared = 0;
  int twin_frames_drawn = 0;  // compared with more than one colour on them
  int twin_frames_apart = 0;
  double startup_seconds = 0;
  double world_seconds = 0;
  double slowest = 0;
  for (int frame_number = 1; frame_number <= frames; ++frame_number) {
    if (frame_number > 1) {
      for (int i = 0; i < copy_count; ++i) {
        as_copy(copies[i], [&] {
          write_spectrum(frame_number - 1);
          double start = seconds_now();
          EXPECT_EQ(call_render(), 0);
          if (i > 0) return;
          double spent = seconds_now() - start;
          if (frame_number <= 151) {
            startup_seconds += spent;
          } else {
            world_seconds += spent;
            if (spent > slowest) slowest = spent;
          }
        });
      }
    }
    if (world_options.read_every > 0 && frame_number % world_options.read_every == 0) {
      read_window_into(copies[0].display, picture);
      fprintf(out, "%d %s\n", frame_number, hex64(picture_digest(picture)).c_str());
      if (copy_count > 1) {
        read_window_into(copies[1].display, twin_picture);
        ++twin_frames_compared;
        twin_frames_drawn += count_pixels_not(picture, picture.rgb[0]) != 0;
        if (twin_picture.rgb != picture.rgb && twin_frames_apart++ == 0) {
          int pixels = 0;
          size_t first = 0;
          for (size_t p = picture.rgb.size(); p-- > 0;) {
            if (picture.rgb[p] == twin_picture.rgb[p]) continue;
            ++pixels;
            first = p;
          }
          char text[160];
          snprintf(text, sizeof text, "frame %d: %d pixels differ without the DIB section, first (%d, %d): %06x with, %06x without",
                   frame_number, pixels, static_cast<int>(first % kPictureWidth),
                   static_cast<int>(first / kPictureWidth), picture.rgb[first], twin_picture.rgb[first]);
          expect(false, text, __LINE__);
        }
      }
    }
    if (frame_number == kReinitFrame && frames > kReinitFrame) {
      // Quit and init in mid-run: the world carries on, and the next picture on the
      // new (white) surface must be whole, not just the pixels that changed.
      quit_copies();
      init_copies();
      if (!copies[0].display) break;
    }
  }
  fclose(out);
  quit_copies();
  // Without a DIB section every drawn frame goes through SetDIBits, each time with
  // the bitmap out of its context.
  const int drawn = frames > 151 ? frames - 151 : 0;
  if (world_options.no_dib_section || world_options.twin) {
    EXPECT(player_set_dib_bits_calls() >= drawn);
    EXPECT_EQ(player_set_dib_bits_refusals(), 0);
  }
  // Where the screen shows a DIB section as it shows a compatible bitmap, the
  // unrefused copy must have drawn into one, or these runs test the other way twice.
  HDC screen = GetDC(nullptr);
  const int bits_per_pixel = GetDeviceCaps(screen, BITSPIXEL);
  ReleaseDC(nullptr, screen);
  printf("     %d bits per pixel; %d DIB sections made\n", bits_per_pixel, player.dib_sections_made);
  if (bits_per_pixel == 32 && !world_options.no_dib_section) EXPECT(player.dib_sections_made > 0);
  if (copy_count > 1) {
    EXPECT_EQ(twin_frames_apart, 0);
    EXPECT(twin_frames_drawn > 0);
    printf("     %d frames compared with the copy without the DIB section, %d of them drawn, %d apart\n",
           twin_frames_compared, twin_frames_drawn, twin_frames_apart);
  }
  printf("seed %u; render %.2f ms a frame over frames 2..151, %.2f ms (slowest %.2f) over frames 152..%d\n",
         seed, startup_seconds * 1000 / 150, drawn ? world_seconds * 1000 / drawn : 0.0, slowest * 1000, frames);
  unload_copies();
}

void group_world() { run_case("frames rendered and their pictures digested", case_world_run); }
