#include "ResultOutput.h"

#include "ConnectionAdvice.h"
#include "Printable.h"

#include <QJsonDocument>
#include <QStringList>

void writeJsonLine(QTextStream &out, const QJsonObject &object)
{
    out << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
    out.flush();
}

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
