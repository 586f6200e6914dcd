#include "ConnectionAdvice.h"

#include "UpdateTexts.h"

#include <QStringList>

QString describePanel(const AttachedPanel &panel)
{
    QString name = QString::fromStdWString(panel.manufacturer);
    const QString product = QString::fromStdWString(panel.product);
    if (!product.isEmpty())
        name += (name.isEmpty() ? QString() : QStringLiteral(" ")) + product;
    QString text = QString::fromStdString(panel.path);
    if (!name.isEmpty())
        text += QStringLiteral(" (%1)").arg(name);
    if (!panel.serialNumber.empty())
        text +=
            QStringLiteral(", serial number %1").arg(QString::fromStdWString(panel.serialNumber));
    return text;
}

QString unusablePanelsDetail(const std::vector<AttachedPanel> &panels)
{
    QStringList parts;
    for (const AttachedPanel &panel : panels) {
        switch (panel.access) {
        case PanelAccess::Usable:
            break;
        case PanelAccess::NoPermission:
            parts << QStringLiteral("%1: %2.\n%3")
                         .arg(describePanel(panel), QLatin1String(kNoPermissionText),
                              QLatin1String(kNoPermissionAdvice));
            break;
        case PanelAccess::Busy:
            parts << QStringLiteral("%1: %2.\n%3")
                         .arg(describePanel(panel), QLatin1String(kBusyText),
                              QLatin1String(kBusyAdvice));
            break;
        case PanelAccess::Failed:
            parts << QStringLiteral("%1: %2").arg(describePanel(panel),
                                                  QString::fromStdWString(panel.reason));
            break;
        }
    }
    return parts.join(QStringLiteral("\n\n"));
}
