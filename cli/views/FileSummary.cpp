#include "FileSummary.h"

#include "CliTexts.h"
#include "Printable.h"
#include "ResultOutput.h"

#include <QFile>
#include <QJsonArray>
#include <QStringList>

namespace {

QString refusalWhy(const HexFileCheck &check)
{
    if (check.verdict == HexFileCheck::Verdict::NoEndRecord)
        return check.error + QLatin1String(kAllowNoEofHint);
    return check.error;
}

QString hexAddress(std::uint32_t address, int digits)
{
    return QStringLiteral("0x%1").arg(address, digits, 16, QLatin1Char('0'));
}

} // namespace

QString rangesText(const ImageSummary &summary)
{
    const std::uint32_t top = summary.pageCount * summary.pageSize - 1;
    const int digits = QString::number(top, 16).size();
    QStringList ranges;
    for (const AddressRange &range : summary.ranges)
        ranges << hexAddress(range.begin, digits) + QLatin1Char('-') +
                      hexAddress(range.end - 1, digits);
    return ranges.join(QStringLiteral(", "));
}

void printSummary(QTextStream &out, const UpdateTarget &target, const QByteArray &file,
                  const ImageSummary &summary)
{
    // As an update's result begins: the target, then the file.
    out << "target: " << target.name << " (" << target.title << ")\n"
        << "file: " << printableName(file) << '\n'
        << "used pages: " << summary.usedPages << " of " << summary.pageCount << " ("
        << summary.pageSize << " bytes each)\n"
        << "data bytes: " << summary.dataBytes << '\n'
        << "ranges: " << (summary.ranges.empty() ? QStringLiteral("none") : rangesText(summary))
        << '\n'
        << "sha256: " << summary.sha256 << '\n'
        << "end-of-file record: " << (summary.endOfFileRecord ? "yes" : "no") << '\n';
    out.flush();
}

QJsonObject summaryJson(const UpdateTarget &target, const QByteArray &file,
                        const ImageSummary &summary)
{
    QJsonArray ranges;
    for (const AddressRange &range : summary.ranges)
        ranges.append(QJsonObject{{QStringLiteral("begin"), qint64(range.begin)},
                                  {QStringLiteral("end"), qint64(range.end)}});
    return {{QStringLiteral("target"), QLatin1String(target.name)},
            {QStringLiteral("file"), QFile::decodeName(file)},
            {QStringLiteral("usedPages"), qint64(summary.usedPages)},
            {QStringLiteral("pageCount"), qint64(summary.pageCount)},
            {QStringLiteral("dataBytes"), qint64(summary.dataBytes)},
            {QStringLiteral("ranges"), ranges},
            {QStringLiteral("sha256"), QString::fromLatin1(summary.sha256)},
            {QStringLiteral("endOfFileRecord"), summary.endOfFileRecord}};
}

QString refusalMessage(const QByteArray &file, const HexFileCheck &check)
{
    return printableName(file) + QStringLiteral(": ") + refusalWhy(check);
}

QString refusalLine(const QByteArray &file, const HexFileCheck &check)
{
    return printableName(file) + QStringLiteral(": ") + oneLine(refusalWhy(check));
}

QString refusalJson(const QByteArray &file, const HexFileCheck &check)
{
    return QFile::decodeName(file) + QStringLiteral(": ") + refusalWhy(check);
}
