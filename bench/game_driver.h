// The measuring child: starts the real game in this process and runs frames of
// it, and of the bare loop, through the real draw_frame.
#pragma once

namespace bench {

// Interleaved rounds of bare loop, menu and busy play; writes its figures to report_fd.
int run_measure_child(int report_fd, int rounds, int frames, int warm_frames);

// Steady-state frames of the menu and of busy play, headless, must allocate no
// more than the bare loop (score images apart). Exit status 0 when they do not.
int run_allocation_check(int frames);

// A long run of play and menu, sampling memory; writes one "sample ..." line per sample.
int run_soak_child(int report_fd, double seconds, double sample_every);

}  // namespace bench
