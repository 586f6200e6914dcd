#include "ResultOutput.h"

#include "ConnectionAdvice.h"
#include "Printable.h"

#include <QStringList>

QString oneLine(const QString &text)
{
    QStringList parts;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QString part = line.trimmed();
        if (!part.isEmpty())
            parts << printable(part);
    }
    return parts.join(QStringLiteral(" / "));
}
