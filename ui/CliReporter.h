#pragma once
#include <QByteArray>
#include <cstdio>

// Command-line mode's output: every logged status line goes to `out` in the log
// line's own form ("<date and time>  STATUS"), and, when `err` is a terminal, one
// progress line there is redrawn in place.
class CliReporter {
public:
    CliReporter(std::FILE* out, std::FILE* err, bool progressLine);
    ~CliReporter();

    // line: the logged text without its CR LF.
    void statusLogged(const QByteArray& line);
    void progress(int bytesWritten, int imageLength, double elapsedSeconds);
    // A start that was refused without a window: the reason, on err.
    void refusal(const QByteArray& reason);
    // Ends the progress line, if one is shown.
    void finish();

private:
    void clearProgress();

    std::FILE* out_;
    std::FILE* err_;
    bool progressLine_;
    bool progressShown_ = false;
};
