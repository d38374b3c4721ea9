// Handing work to the user-interface thread: a queue of calls that the main thread runs
// from its event loop or from any wait that pumps it (ProcessPendingSynchronizedCalls),
// the quit request that such waits must notice, and process-wide clipboard format names.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kv {

bool IsMainThread();

// Runs Call on the main thread and waits for it (at once when already there). Gives up
// and returns false, without running it, once *Cancel becomes true before the main
// thread took the call. An exception thrown by Call comes back to the caller.
bool Synchronize(const std::function<void()>& Call, const std::atomic<bool>* Cancel = nullptr);
// Queues Call for the main thread without waiting.
void QueueOnMainThread(std::function<void()> Call);
// Runs the calls queued for the main thread; true when any ran. Main thread only.
bool ProcessPendingSynchronizedCalls();
// A main thread that runs queued calls exists (an application object is alive).
bool MainThreadSyncTargetExists();

// The quit state that waits check: a quit met while waiting is posted again.
void RequestQuit(int32_t ExitCode);
bool QuitRequested(int32_t* ExitCode = nullptr);
void ClearQuitRequest();

// A process-wide number for a named clipboard format (0xC000 upwards, the same number
// for the same name), and the name back.
uint16_t RegisterClipboardFormatName(const std::string& Name);
std::string ClipboardFormatName(uint16_t Format);

} // namespace kv

namespace kv {
// Clipboard blocks under a named format (a MIME type of its own on this platform).
// Getting answers an empty block when the clipboard holds none; setting answers
// false when the clipboard refused the data.
std::vector<uint8_t> GetClipboardBlock(const std::string& FormatName);
bool SetClipboardBlock(const std::string& FormatName, const std::vector<uint8_t>& Data);
} // namespace kv
