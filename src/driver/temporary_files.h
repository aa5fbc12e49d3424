// Temporary output files in progress, kept where a signal handler can reach
// them: a run ended by SIGINT or SIGTERM removes them before it dies, so an
// interrupted run leaves neither a half-written file nor its temporary.
#pragma once

namespace tracemill {

// Files converted at once at most (-j): each holds one temporary file at a time.
inline constexpr int kMaxJobs = 1024;

// Creates the temporary file `name` inside the open folder `folder_fd` with
// openat(flags, mode) and remembers it (the folder stays open until the slot
// is forgotten). Returns the descriptor, or -1 with errno set; `*slot` is the
// slot to forget, -1 when the registry was full (the file is then not removed
// on a signal). Once an interrupt is being handled no file is created: the
// caller waits for the end of the run.
int open_remembered_temporary(int folder_fd, const char* name, int flags, unsigned mode, int* slot);

// Forgets a slot from remember_temporary; -1 is ignored.
void forget_temporary(int slot);

// Installs the SIGINT and SIGTERM handler: it removes every remembered
// temporary file, then raises the signal again with its default action, so
// the caller sees a run ended by that signal.
void remove_temporaries_on_interrupt();

}  // namespace tracemill
