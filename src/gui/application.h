#pragma once

// The whole desktop program: start-up, the main window and the event loop, inside the
// top-level error handler. Returns the exit code.
int run_gui(int argc, char** argv);
