#pragma once

#include "CommandTable.h"
#include "HexFileCheck.h"

#include <QByteArray>
#include <QString>

#include <optional>

// What `update --all` hands the worker of one unit on its standard input: the unit's port, the
// options that reach the unit, the file's name, and the image the parent checked, so that every
// unit of a batch writes that image and no worker reads the file again. One JSON object.

// The argument that makes this program a worker, reading its request from standard input.
constexpr const char *kWorkerArgument = "--unit-worker";
// Larger than any request: a whole ControlPanel image in base64 is 350 KiB.
constexpr qint64 kMaxWorkerRequestBytes = 1 << 20;

QByteArray workerRequest(const VerbRequest &request, const HexFileCheck &check,
                         const QString &port);

struct WorkerTask
{
    VerbRequest request;
    HexFileCheck check; // Good, its image rebuilt from the request, or why it could not be
};

// The task the request asks for; none when it is not a request this program wrote.
std::optional<WorkerTask> workerTask(const QByteArray &request);
