#include "ui/CommandLine.h"

#include <climits>

std::optional<int> scanDecimal(const QString& token) {
    qsizetype i = 0;
    while (i < token.size() && (token[i] == QLatin1Char(' ') || token[i] == QLatin1Char('\t'))) ++i;
    bool negative = false;
    if (i < token.size() && (token[i] == QLatin1Char('+') || token[i] == QLatin1Char('-'))) {
        negative = token[i] == QLatin1Char('-');
        ++i;
    }
    if (i >= token.size() || !token[i].isDigit() || token[i].unicode() > '9') return std::nullopt;
    long long value = 0;
    for (; i < token.size() && token[i].unicode() >= '0' && token[i].unicode() <= '9'; ++i) {
        value = value * 10 + (token[i].unicode() - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

CommandLine CommandLine::parse(const QStringList& arguments) {
    CommandLine line;
    line.present = !arguments.isEmpty();
    if (arguments.isEmpty() || arguments[0].isEmpty()) return line;
    if (arguments[0].toLocal8Bit().size() > kModelRoom) {
        line.refusal = QStringLiteral("MODEL NAME TOO LONG");
        return line;
    }
    line.model = arguments[0];
    if (arguments.size() < 2 || !(line.address = scanDecimal(arguments[1]))) return line;
    if (arguments.size() < 3 || !(line.baudRate = scanDecimal(arguments[2]))) return line;
    if (arguments.size() < 4 || arguments[3].isEmpty()) return line;
    if (arguments[3].toLocal8Bit().size() > kFileRoom) {
        line.refusal = QStringLiteral("FILE NAME TOO LONG");
        return line;
    }
    line.file = arguments[3];
    return line;
}
