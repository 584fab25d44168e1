// How the command line hears the user's "stop": SIGINT, SIGTERM, SIGHUP
// and SIGQUIT on POSIX, Ctrl-C, Ctrl-Break and closing the console on Windows. The first
// one stops the running job (StopJob), or the one about to start, which
// then ends on its own; a second one ends the process at once. Picked by
// the build per platform.
#pragma once

// Starts listening, once per process; every call forgets an earlier
// interruption and the job's stop with it (ClearJobStop). Call before the
// job starts, never while it runs.
void WatchInterrupts();

// 0 while nothing interrupted the program; otherwise the exit status the
// interruption asks for: 128 + the signal on POSIX (130 SIGINT, 143
// SIGTERM, 129 SIGHUP, 131 SIGQUIT); 130 for Ctrl-C or Ctrl-Break, 143 for
// a closed console.
int InterruptExitStatus();
