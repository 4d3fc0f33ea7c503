// The agent's side of the system's debug output channel, written without waiting on whoever listens.
#pragma once

#include <string_view>

namespace velmor::win32impl {

// Writes trace lines to the debug output channel as OutputDebugString does (DebugOutputChannel.h),
// but a line costs at most a few tens of milliseconds whoever listens. OutputDebugString waits up
// to 10 seconds per line for a listener to hand it the buffer, and without end while another program
// holds the writers' mutex.
//
// A line is dropped, not delayed, when the mutex or the buffer is not to be had within kWaitMs: long
// enough for a listener on a busy machine to be scheduled and hand the buffer back between two lines
// written one right after the other (a couple of milliseconds lost lines there), short enough that a
// listener that does not read costs the agent one such wait, not a wait per line. Once
// a line was dropped, the next ones do not wait at all until the listener hands the buffer over
// again. Lines are lost, then, while a listener does not read (or reads slowly), while another
// program holds the mutex, and whenever nobody listens.
class TraceChannel {
 public:
  static constexpr unsigned long kWaitMs = 20;

  void Write(std::string_view line);

 private:
  bool stalled_ = false;  // the last line could not go: the next ones do not wait
};

}  // namespace velmor::win32impl
