#pragma once

namespace skarnel {

// The hidden temporary files a process is writing (a WAV or preset file not
// yet renamed over its target), kept where a signal handler can reach them.
// A process told to end by SIGINT, SIGTERM or SIGHUP would otherwise leave
// them behind, gigabytes of them for a long render.
//
// Registering and unregistering take no lock and allocate nothing, so the
// handler may run between any two steps; it only calls unlink.
namespace temporary_files {

// Remembers `path` until Forget; false (nothing remembered) when every place
// is taken or the path is too long, which only costs the clean-up.
bool Remember(const char* path) noexcept;
void Forget(const char* path) noexcept;

// Installs handlers for SIGINT, SIGTERM and SIGHUP that remove every
// remembered file and then end the process as the signal would have.
void RemoveOnTerminationSignals() noexcept;

// Removes every remembered file now (what the handler does).
void RemoveAll() noexcept;

}  // namespace temporary_files
}  // namespace skarnel
