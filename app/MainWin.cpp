#include "MainWin.h"

#include "UpdateSequence.h"
#include "WindowSequenceHost.h"

#include <QCloseEvent>
#include <QLabel>
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

void MainWin::closeEvent(QCloseEvent *event)
{
    // Closing now would end the program under a running update and lose its result.
    if (updating) {
        event->ignore();
        return;
    }
    const QVariant geometry(saveGeometry());
    QSettings settings;
    settings.setValue(kGeometryKey, geometry);
}

void MainWin::programVak00()
{
    runUpdate(kControlPanelTarget);
}

void MainWin::programZel02()
{
    runUpdate(kControlBoardTarget);
}

void MainWin::runUpdate(const UpdateTarget &target)
{
    if (updating)
        return;
    updating = true;
    WindowSequenceHost host(*this, target, *stepPause);
    const UpdateOutcome outcome = runUpdateSequence(target, channel, host);
    if (outcome.profile)
        profile = *outcome.profile;
    updating = false;
}
