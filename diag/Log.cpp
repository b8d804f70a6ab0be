#include "diag/Log.h"

#include "diag/DebugTrace.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <ostream>
#include <string>

namespace {
std::atomic<LogSink*> handedOver{nullptr};
}  // namespace

void Log::Attach(LogSink& reader)
{
    std::lock_guard<std::mutex> hold(m);
    readers.push_back(&reader);
}

void Log::Detach(LogSink& reader)
{
    std::lock_guard<std::mutex> hold(m);
    readers.erase(std::remove(readers.begin(), readers.end(), &reader), readers.end());
}

void Log::Line(std::string_view text)
{
    std::lock_guard<std::mutex> hold(m);
    for (LogSink* reader : readers)
        reader->Line(text);
}

void StreamLog::Line(std::string_view text)
{
    std::string entry(text);
    entry += '\n';
    std::lock_guard<std::mutex> hold(m);
    out << entry << std::flush;
}

void TraceWindowLog::Line(std::string_view text)
{
    DebugShowLine(std::string(text).c_str());
}

void DebuggerLog::Line(std::string_view text)
{
    ::OutputDebugStringA((std::string(text) + '\n').c_str());
}

LogSink& ProgramLog()
{
    static TraceWindowLog window;
    LogSink* log = handedOver.load();
    return log ? *log : window;
}

void SetProgramLog(LogSink* log)
{
    handedOver.store(log);
}
