#pragma once
// The program's one log. The application owns a Log, attaches the readers it wants (standard
// output, the trace window, the debugger's output) and hands it down; every part writes its
// lines to the LogSink it was given.

#include <iosfwd>
#include <mutex>
#include <string_view>
#include <vector>

class LogSink {
public:
    virtual ~LogSink() = default;
    // One entry, without its last newline. Any thread.
    virtual void Line(std::string_view text) = 0;
};

// Hands every entry to each reader, whole and in the order written.
class Log final : public LogSink {
public:
    void Attach(LogSink& reader);  // the reader must outlive its attachment
    void Detach(LogSink& reader);
    void Line(std::string_view text) override;

private:
    std::mutex m;
    std::vector<LogSink*> readers;  // not owned
};

// Each entry and a newline onto a stream, flushed: standard output in the program (scripts
// read the recording's statistics there), a string in tests.
class StreamLog final : public LogSink {
public:
    explicit StreamLog(std::ostream& out) : out(out) {}
    void Line(std::string_view text) override;

private:
    std::mutex m;
    std::ostream& out;  // not owned
};

// The trace window, while the trace is on.
class TraceWindowLog final : public LogSink {
public:
    void Line(std::string_view text) override;
};

// The debugger's output.
class DebuggerLog final : public LogSink {
public:
    void Line(std::string_view text) override;
};

// The log of the whole program: the one the application handed over, or until then the trace
// window alone. DebugTrace writes to it, and so do the parts that were given no log of their own.
LogSink& ProgramLog();
void SetProgramLog(LogSink* log);  // null: the trace window alone again
