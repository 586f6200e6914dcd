#include "MainWin.h"

#include "ControlBoardProgrammer.h"
#include "ControlPanelProgrammer.h"
#include "ProgressDialogReporter.h"
#include "UpdateSequence.h"
#include "WindowSequenceHost.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>
#include <QVariant>

namespace {

const char *const kGeometryKey = "zelUpdateGeometry";

} // namespace

MainWin::MainWin(QWidget *) : QMainWindow(nullptr)
{
    setWindowTitle(QStringLiteral("zelUpdate"));

    auto *central = new QWidget;
    auto *layout = new QVBoxLayout;
    layout->addWidget(
        new QLabel(QStringLiteral("Anslut kontrollpanelen till denna dator med USB kabel.")));
    auto *zel02Button = new QPushButton(QStringLiteral("Uppdatera Styrkortets Program"));
    connect(zel02Button, SIGNAL(clicked()), this, SLOT(programZel02()));
    layout->addWidget(zel02Button);
    auto *vak00Button = new QPushButton(QStringLiteral("Uppdatera Kontrollpanelens Program"));
    connect(vak00Button, SIGNAL(clicked()), this, SLOT(programVak00()));
    layout->addWidget(vak00Button);
    auto *closeButton = new QPushButton(QStringLiteral("Stäng zelUpdate"));
    connect(closeButton, SIGNAL(clicked()), this, SLOT(close()));
    layout->addWidget(closeButton);
    central->setLayout(layout);
    setCentralWidget(central);

    // Nothing stored, or something unreadable, leaves the placement to the window system.
    QSettings settings;
    restoreGeometry(settings.value(kGeometryKey, QVariant()).toByteArray());
}

MainWin::~MainWin()
{
    channel.closeChannel();
}

void MainWin::closeEvent(QCloseEvent *)
{
    const QVariant geometry(saveGeometry());
    QSettings settings;
    settings.setValue(kGeometryKey, geometry);
}

void MainWin::programVak00()
{
    WindowSequenceHost host(*this);
    runUpdateSequence(UpdateTarget::ControlPanel, channel, profile, host);
}

void MainWin::programZel02()
{
    WindowSequenceHost host(*this);
    runUpdateSequence(UpdateTarget::ControlBoard, channel, profile, host);
}

UpdateResult MainWin::programControlPanel(std::FILE *file)
{
    ProgressDialogReporter progress(this);
    return writeControlPanel(channel, profile, file, progress);
}

UpdateResult MainWin::programControlBoard(std::FILE *file)
{
    ProgressDialogReporter progress(this);
    return writeControlBoard(channel, profile, file, progress);
}

void MainWin::showConnectionError()
{
    QMessageBox box(this);
    box.setText(QStringLiteral("Can't open USB connection to ControlPanel"));
    box.setInformativeText(QStringLiteral(
        "Connect a ControlPanel to this computer with a USB cable and then power up the "
        "ControlPanel"));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    channel.closeChannel();
}
