#pragma once

// What the tests of zelupdate-cli's commands share: a folder of their own for the history, the
// locks and the HEX files they make, the examples' flash images made by objcopy, and the simulated
// devices reset before every case.

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

extern const QString kExamples; // the examples folder of the source tree
// A file name that would forge a result line and move the cursor up over the real one, and the
// same as the program shows it.
extern const QString kForgingName;
extern const QString kForgingShown;
// Latin-1's "å" and a byte no UTF-8 holds.
extern const QString kNotUtf8Name;
// '/' written in three bytes: a decoder that took it would show a slash that is not one.
extern const QString kOverlongName;

// The first simulated unit's flash, whole.
QByteArray panelFlash();
QByteArray boardFlash();

// The lines of a JSON Lines stream, each parsed; `allParse` is false when a line is not an
// object or the stream does not end with a line feed.
QList<QJsonObject> jsonLines(const QString &stream, bool &allParse);

// A test class derives from this; Qt Test runs its slots for every derived test.
class CliFixture : public QObject
{
    Q_OBJECT

private slots:
    // This test's history and locks in its own folder, the images, and the files "damaged" (a
    // checksum off in line 100), "noeof" (no end-of-file record), "short panel" (the ControlPanel's
    // first 400 pages) and the board example under kForgingName, kForgingName + "-damaged" and
    // kNotUtf8Name.
    void initTestCase();
    void cleanupTestCase();
    // The simulated devices as new, and no lock left by the case before.
    void init();
    // A command has closed every device it opened by the time it returns.
    void cleanup();

protected:
    // "panel" and "board" are the examples; any other key a file in the folder.
    QString file(const QString &key) const;
    // The file's name byte for byte, as argv would hold it.
    QByteArray fileBytes(const QString &key) const;

    QTemporaryDir folder;
    QByteArray panelImage; // objcopy's image of the examples, padded to the flash's size
    QByteArray boardImage;
    QByteArray shortPanelImage;
};
