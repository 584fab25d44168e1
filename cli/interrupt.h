// How the command line hears the user's "stop": SIGINT and SIGTERM on
// POSIX, Ctrl-C, Ctrl-Break and closing the console on Windows. The first
// one abandons the running job (AbandonJob), which then ends on its own; a
// second one ends the process at once. Picked by the build per platform.
#pragma once

// Starts listening, once per process; later calls only forget an earlier
// interruption. Call before any thread of the job is started.
void WatchInterrupts();

// 0 while nothing interrupted the program; otherwise the exit status the
// interruption asks for: 130 for SIGINT, Ctrl-C or Ctrl-Break, 143 for
// SIGTERM or a closed console.
int InterruptExitStatus();
