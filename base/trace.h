// The engine's diagnostic trace and the message boxes shown to the user.
// Trace lines never reach the user; a front end may attach a sink to see them
// (the command line's --trace). Message boxes go to whatever box sink the front
// end installed (dialogs in the GUI, standard error on the command line).
#pragma once

#include <functional>
#include <string>

namespace veld {

using TextSink = std::function<void(const std::string&)>;

// Formats one trace line (printf conventions) into the trace line buffer.
void TraceLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The last trace line formatted on this thread.
const std::string& LastTraceLine();
// Inside a catch block: what the caught exception says (its what()), or
// "unknown exception" for one that is no std::exception. For the trace line
// that every handler writes about what failed and where.
std::string CaughtExceptionText();
// The diagnostic log; without a sink it returns at once.
void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Shows an error box (caption "エラー", the error icon) owned by the window.
void ErrorBox(void* ownerWindow, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Shows the application's standard message box.
void MessageBoxText(const char* format, ...) __attribute__((format(printf, 1, 2)));

struct MessageBoxRequest {
    void* owner = nullptr;
    std::string text;
    bool isError = false;  // ErrorBox: caption "エラー" and the error icon
};
using MessageBoxSink = std::function<void(const MessageBoxRequest&)>;

// Sinks are installed once by the front end before any search starts.
void SetTraceSink(TextSink sink);
void SetLogSink(TextSink sink);
void SetMessageBoxSink(MessageBoxSink sink);

}  // namespace veld
