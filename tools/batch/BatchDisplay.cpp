#include "tools/batch/BatchDisplay.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

namespace rw {

namespace {

constexpr int64_t kRedrawMs = 100;
constexpr size_t kNameWidth = 24;

std::string padded(std::string text, size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

// The terminal's width, so a live line never wraps (which would break the
// redraw in place); 80 when it cannot be told.
size_t terminalColumns(std::FILE* out) {
    winsize size{};
    if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

std::string liveLine(const BatchLink& link) {
    std::string state;
    if (!link.started()) {
        state = "waiting";
    } else if (link.finished()) {
        int programmed = 0, failed = 0;
        for (const size_t device : link.link().devices) {
            (link.result(device).programmed ? programmed : failed) += 1;
        }
        state = "done: " + std::to_string(programmed) + " programmed, " + std::to_string(failed) +
                " failed";
    } else {
        char progress[32];
        std::snprintf(progress, sizeof progress, "%5u %3d%%  ", link.current().address,
                      link.percent());
        state = progress + link.status();
    }
    return padded(link.link().name, kNameWidth) + "  " + state;
}

}  // namespace

void BatchDisplay::deviceEnded(const BatchLink& link, const PlanDevice& device,
                               const DeviceResult& result) {
    // On a terminal only a failure gets a line of its own, above the live lines.
    if (live_ && result.programmed) return;
    std::string text;
    if (live_ && linesDrawn_ > 0) text = "\033[" + std::to_string(linesDrawn_) + "A\r\033[J";
    linesDrawn_ = 0;
    text += link.link().name + "  " + std::to_string(device.address) + "  " +
            (result.programmed ? "programmed  " : "failed  ") + result.status + "\n";
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
    lastDrawMs_ = -1;  // the live lines come back at the next update
}

void BatchDisplay::update(const Links& links, int64_t nowMs, bool force) {
    if (!live_ || (!force && lastDrawMs_ >= 0 && nowMs - lastDrawMs_ < kRedrawMs)) return;
    lastDrawMs_ = nowMs;
    const size_t columns = terminalColumns(out_);
    std::string text;
    if (linesDrawn_ > 0) text += "\033[" + std::to_string(linesDrawn_) + "A";
    for (const auto& link : links) {
        std::string line = liveLine(*link);
        if (line.size() >= columns) line.resize(columns - 1);
        text += "\r" + line + "\033[K\n";
    }
    linesDrawn_ = links.size();
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
}

void BatchDisplay::summary(const Links& links, double seconds) {
    update(links, 0, true);
    std::fprintf(out_, "\n%s  programmed  failed  failed devices\n",
                 padded("link", kNameWidth).c_str());
    int programmedTotal = 0, failedTotal = 0;
    for (const auto& link : links) {
        int programmed = 0, failed = 0;
        std::string failedAddresses;
        for (const size_t device : link->link().devices) {
            if (link->result(device).programmed) {
                ++programmed;
                continue;
            }
            ++failed;
            failedAddresses +=
                (failedAddresses.empty() ? "" : " ") + std::to_string(link->device(device).address);
        }
        std::fprintf(out_, "%s  %10d  %6d%s%s\n", padded(link->link().name, kNameWidth).c_str(),
                     programmed, failed, failedAddresses.empty() ? "" : "  ",
                     failedAddresses.c_str());
        programmedTotal += programmed;
        failedTotal += failed;
    }
    const int devices = programmedTotal + failedTotal;
    std::fprintf(out_, "%s  %10d  %6d\n%d device%s on %zu link%s in %.1f s\n",
                 padded("total", kNameWidth).c_str(), programmedTotal, failedTotal, devices,
                 devices == 1 ? "" : "s", links.size(), links.size() == 1 ? "" : "s", seconds);
    std::fflush(out_);
}

}  // namespace rw
