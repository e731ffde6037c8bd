#pragma once

// The program entry: single-instance guard, main window, message loop, then the end of the
// process through the normal save path. Returns only to end the process.
[[noreturn]] void RunParlavox(int argc, char **argv);
