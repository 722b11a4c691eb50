#include "base/trace.h"

#include <cstdarg>
#include <cstdio>
#include <exception>
#include <mutex>

namespace veld {
namespace {

constexpr size_t kMessageLimit = 1024;

struct Sinks {
    std::mutex lock;
    TextSink trace;
    TextSink log;
    MessageBoxSink box;
};
Sinks& sinks() {
    static Sinks s;
    return s;
}

thread_local std::string gTraceLine;

std::string Format(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0) return {};
    std::string out(size_t(n), '\0');
    std::vsnprintf(out.data(), out.size() + 1, format, args);
    return out;
}

template <typename Sink>
Sink Current(Sink Sinks::*member) {
    std::lock_guard<std::mutex> guard(sinks().lock);
    return sinks().*member;
}

void ShowBox(void* owner, bool isError, const char* format, va_list args) {
    std::string text = Format(format, args);
    if (text.size() >= kMessageLimit) return;  // a text that does not fit is dropped
    LogLine("MsgBox %s", text.c_str());
    if (auto box = Current(&Sinks::box)) box(MessageBoxRequest{owner, text, isError});
}

}  // namespace

void TraceLine(const char* format, ...) {
    va_list args;
    va_start(args, format);
    gTraceLine = Format(format, args);
    va_end(args);
    if (auto trace = Current(&Sinks::trace)) trace(gTraceLine);
}

const std::string& LastTraceLine() { return gTraceLine; }

std::string CaughtExceptionText() {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown exception";
    }
}

void LogLine(const char* format, ...) {
    auto log = Current(&Sinks::log);
    if (!log) return;
    va_list args;
    va_start(args, format);
    std::string line = Format(format, args);
    va_end(args);
    log(line);
}

void ErrorBox(void* ownerWindow, const char* format, ...) {
    va_list args;
    va_start(args, format);
    ShowBox(ownerWindow, true, format, args);
    va_end(args);
}

void MessageBoxText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    ShowBox(nullptr, false, format, args);
    va_end(args);
}

void SetTraceSink(TextSink sink) {
    std::lock_guard<std::mutex> guard(sinks().lock);
    sinks().trace = std::move(sink);
}
void SetLogSink(TextSink sink) {
    std::lock_guard<std::mutex> guard(sinks().lock);
    sinks().log = std::move(sink);
}
void SetMessageBoxSink(MessageBoxSink sink) {
    std::lock_guard<std::mutex> guard(sinks().lock);
    sinks().box = std::move(sink);
}

}  // namespace veld
