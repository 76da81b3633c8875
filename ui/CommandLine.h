#pragma once
#include <QString>
#include <QStringList>
#include <optional>

namespace rw {

// The command line "model address rate file", read by position the way a
// "%s %d %d %s" scan reads one text: reading stops at the first argument that is
// missing, or that is not a number where a number is due; further arguments are
// ignored. A token longer than its field is refused rather than cut.
struct CommandLine {
    static constexpr int kModelRoom = 32;  // characters of a model name
    static constexpr int kFileRoom = 256;  // characters of a file path

    std::optional<QString> model;
    std::optional<int> address;
    std::optional<int> baudRate;
    std::optional<QString> file;
    QString refusal;  // not empty: a token did not fit; the start is refused with this status

    static CommandLine parse(const QStringList& arguments);
};

}  // namespace rw
