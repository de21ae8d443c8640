#pragma once

// The program from start to end: start-up in its order, the event loop, shutdown in reverse order.
// Returns the process exit code.
int RunKorvex(int argc, char** argv);
