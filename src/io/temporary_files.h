#pragma once

#include <vector>

namespace skarnel {

// The hidden temporary files a process is writing (a WAV or preset file not
// yet renamed over its target), kept where a signal handler can reach them.
// A process ended by a signal (Ctrl+C, a timeout, a full pipe, a file size
// limit) would otherwise leave them behind, gigabytes of them for a long
// render.
//
// Registering and unregistering take no lock and allocate nothing, so the
// handler may run between any two steps; it only calls unlink.
namespace temporary_files {

// Remembers `path` until Forget; false (nothing remembered) when every place
// is taken or the path is too long, which only costs the clean-up.
bool Remember(const char* path) noexcept;
void Forget(const char* path) noexcept;

// Installs, for every signal of TerminatingSignals() that has its default
// action, a handler that removes every remembered file and then ends the
// process as the signal would have. Signals already ignored or handled
// elsewhere are left as they are.
void RemoveOnTerminationSignals() noexcept;

// The signals whose default action ends the process and that can be caught.
std::vector<int> TerminatingSignals();

// Removes every remembered file now (what the handler does).
void RemoveAll() noexcept;

}  // namespace temporary_files
}  // namespace skarnel
