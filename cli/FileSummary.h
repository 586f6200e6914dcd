#pragma once

#include "HexFileCheck.h"
#include "ImageSummary.h"
#include "UpdateTarget.h"

#include <QJsonObject>
#include <QString>
#include <QTextStream>

// The address ranges a file writes, as "0x00000-0x003ff, 0x01000-0x0107f": inclusive ends, as
// many hex digits as the target's highest address needs.
QString rangesText(const ImageSummary &summary);

// What `check` prints of a file that loads: the target, used pages of the page count, data
// bytes, ranges, SHA-256 and the end-of-file record, one "name: value" line each.
void printSummary(QTextStream &out, const UpdateTarget &target, const QString &file,
                  const ImageSummary &summary);
QJsonObject summaryJson(const UpdateTarget &target, const QString &file,
                        const ImageSummary &summary);

// Why a file that does not load was refused, as standard error gets it: the file, then the
// loader's message, which names the line.
QString refusalText(const QString &file, const HexFileCheck &check);
