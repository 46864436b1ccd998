// The hosted console: where Print and the console controls go on Linux.
// By default they go to standard output as UTF-8 (CR LF kept as the UEFI
// console would get them), with ANSI sequences for the controls when standard
// output is a terminal. Tests install a sink of their own.
#pragma once

#include <stdint.h>

#include <string>

namespace zar::hosted {

class ConsoleSink {
public:
    virtual ~ConsoleSink() = default;
    virtual bool Text(const char16_t* text, size_t units) = 0;  // false: output failed
    // A redraw of the current line (Redraw): left out unless the sink is a screen.
    virtual bool Redrawn(const char16_t*, size_t) { return true; }
    virtual void Attribute(uintptr_t attribute) = 0;
    virtual void Clear() = 0;
    virtual void Cursor(uintptr_t column, uintptr_t row) = 0;
};

// nullptr restores standard output.
void SetConsoleSink(ConsoleSink* sink);

// Standard output; ANSI controls only when `ansi`.
class StdoutConsole : public ConsoleSink {
public:
    explicit StdoutConsole(bool ansi) : ansi_(ansi) {}
    bool Text(const char16_t* text, size_t units) override;
    bool Redrawn(const char16_t* text, size_t units) override;  // on a terminal only
    void Attribute(uintptr_t attribute) override;
    void Clear() override;
    void Cursor(uintptr_t column, uintptr_t row) override;

private:
    bool ansi_;
};

// Collects the text as UTF-8 and the controls as markers: {ATTR 07}, {CLS},
// {POS 1,3}; the redraws apart, in redrawn.
class CaptureConsole : public ConsoleSink {
public:
    bool Text(const char16_t* text, size_t units) override;
    bool Redrawn(const char16_t* text, size_t units) override;
    void Attribute(uintptr_t attribute) override;
    void Clear() override;
    void Cursor(uintptr_t column, uintptr_t row) override;

    std::string output;
    std::string redrawn;
};

// Installs a CaptureConsole for the lifetime of the object.
class ScopedCapture {
public:
    ScopedCapture() { SetConsoleSink(&console_); }
    ~ScopedCapture() { SetConsoleSink(nullptr); }
    const std::string& Output() const { return console_.output; }
    void Clear() { console_.output.clear(); }

private:
    CaptureConsole console_;
};

}  // namespace zar::hosted
