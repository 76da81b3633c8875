#include "ui/CliReporter.h"

CliReporter::CliReporter(std::FILE* out, std::FILE* err, bool progressLine)
    : out_(out), err_(err), progressLine_(progressLine) {}

CliReporter::~CliReporter() {
    finish();
}

void CliReporter::clearProgress() {
    if (!progressShown_) return;
    std::fputs("\r\033[K", err_);
    std::fflush(err_);
    progressShown_ = false;
}

void CliReporter::statusLogged(const QByteArray& line) {
    clearProgress();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void CliReporter::progress(int bytesWritten, int imageLength, double elapsedSeconds) {
    if (!progressLine_ || imageLength <= 0) return;
    const int percent = static_cast<int>(static_cast<double>(bytesWritten) * 100.0 / imageLength);
    std::fprintf(err_, "\r%d / %d bytes  %3d%%  %.1f s\033[K", bytesWritten, imageLength, percent,
                 elapsedSeconds);
    std::fflush(err_);
    progressShown_ = true;
}

void CliReporter::refusal(const QByteArray& reason) {
    clearProgress();
    std::fprintf(err_, "romwright: %s\n", reason.constData());
    std::fflush(err_);
}

void CliReporter::finish() {
    if (!progressShown_) return;
    std::fputc('\n', err_);
    std::fflush(err_);
    progressShown_ = false;
}
