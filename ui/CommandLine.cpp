#include "ui/CommandLine.h"

#include "control/TextNumbers.h"

namespace rw {

CommandLine CommandLine::parse(const QStringList& arguments) {
    CommandLine line;
    if (arguments.isEmpty() || arguments[0].isEmpty()) return line;
    if (arguments[0].toLocal8Bit().size() > kModelRoom) {
        line.refusal = QStringLiteral("MODEL NAME TOO LONG");
        return line;
    }
    line.model = arguments[0];
    if (arguments.size() < 2 || !(line.address = scanDecimal(arguments[1].toStdString())))
        return line;
    if (arguments.size() < 3 || !(line.baudRate = scanDecimal(arguments[2].toStdString())))
        return line;
    if (arguments.size() < 4 || arguments[3].isEmpty()) return line;
    if (arguments[3].toLocal8Bit().size() > kFileRoom) {
        line.refusal = QStringLiteral("FILE NAME TOO LONG");
        return line;
    }
    line.file = arguments[3];
    return line;
}

}  // namespace rw
