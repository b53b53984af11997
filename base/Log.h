// The application log: one process-wide writer that appends time-stamped
// lines to the daily log file and forwards each bare message to a listener.
//
// Lines are "hh:mm:ss, <message>\r\n", appended with one open-append-close per
// call so the file stays complete if the program is killed. The listener is a
// Unix datagram socket in the abstract namespace named by the window title
// ("quillbrook"); each datagram is a 32-bit little-endian 50, the message
// bytes and a NUL. A listener that does not take the datagram within 500 ms is
// skipped for that line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace fw {

// Identifier that prefixes every datagram sent to the listener.
inline constexpr unsigned LOG_LISTENER_ID = 50;
// Longest wait for a listener that does not take a datagram.
inline constexpr int LOG_LISTENER_TIMEOUT_MS = 500;

// Sets each non-empty argument; an empty argument leaves the stored value alone.
void SetLogTarget(std::string_view filePath, std::string_view windowTitle, std::string_view windowClass);

// Clears all three values: later WriteLog calls write nothing.
void FreeLogTarget();

// Appends one line and forwards the message. Safe from any thread; callers are
// serialised by the busy flag. Must not be called from inside itself.
void WriteLog(std::string_view message);

// Appends raw bytes to the log file under the same busy flag, without time,
// separator or forwarding (the network trace's hex dumps). Nothing happens
// when no target is set.
void AppendLogRaw(std::string_view bytes);

// The log file path currently set, if any.
std::optional<std::string> LogTargetPath();

// Time of day as "hh:mm:ss" in local time.
std::string TimeOfDayText();

} // namespace fw
