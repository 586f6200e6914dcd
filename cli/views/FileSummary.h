#pragma once

#include "HexFileCheck.h"
#include "ImageSummary.h"
#include "UpdateTarget.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QTextStream>

// The address ranges a file writes, as "0x00000-0x003ff, 0x01000-0x0107f": inclusive ends, as
// many hex digits as the target's highest address needs.
QString rangesText(const ImageSummary &summary);

// `file` is the name byte for byte as given: human output shows it escaped, JSON as text.

// What `check` prints of a file that loads: the target, used pages of the page count, data
// bytes, ranges, SHA-256 and the end-of-file record, one "name: value" line each.
void printSummary(QTextStream &out, const UpdateTarget &target, const QByteArray &file,
                  const ImageSummary &summary);
QJsonObject summaryJson(const UpdateTarget &target, const QByteArray &file,
                        const ImageSummary &summary);

// Why the check refused the file, as standard error shows it: the file, then the check's
// message (the loader's names the line), with what to do about a missing end-of-file record.
QString refusalMessage(const QByteArray &file, const HexFileCheck &check);
// The same on one line, for a "result:" line.
QString refusalLine(const QByteArray &file, const HexFileCheck &check);
// The same as JSON holds it, unescaped.
QString refusalJson(const QByteArray &file, const HexFileCheck &check);
