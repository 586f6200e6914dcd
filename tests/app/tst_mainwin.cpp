#include "MainWin.h"
#include "ModalAnswerer.h"
#include "OpenWindows.h"
#include "SimulatedDevices.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

#include <memory>

namespace {

const QString kGeometryKey = QStringLiteral("zelUpdateGeometry");

// Built from code points so that a wrong source encoding cannot make both sides agree.
QString closeButtonText()
{
    return QLatin1String("St") + QChar(0x00E4) + QLatin1String("ng zelUpdate");
}

QBoxLayout *centralLayout(MainWin &window)
{
    return window.centralWidget() ? qobject_cast<QBoxLayout *>(window.centralWidget()->layout())
                                  : nullptr;
}

QPushButton *buttonNamed(MainWin &window, const QString &text)
{
    const auto buttons = window.findChildren<QPushButton *>();
    for (QPushButton *button : buttons) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

// Everything Qt says while a window restores its place; it must say nothing.
QStringList messages;

void recordMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    messages.append(message);
}

enum class CloseBy
{
    Button,
    CloseSlot,
    WindowSystem,
};

} // namespace

Q_DECLARE_METATYPE(CloseBy)

class MainWinTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void windowTitle();
    void widgetsTopToBottom_data();
    void widgetsTopToBottom();
    void updateSlots_data();
    void updateSlots();
    void metaObjectAddsOnlyTheSlots();
    void buttonReachesItsSlot_data();
    void buttonReachesItsSlot();

    void closingStoresGeometry_data();
    void closingStoresGeometry();
    void unusableGeometryLeavesPlacement_data();
    void unusableGeometryLeavesPlacement();

    void destroyingReleasesChannel_data();
    void destroyingReleasesChannel();
    void connectionError_data();
    void connectionError();

private:
    QTemporaryDir settingsDir;
};

void MainWinTest::initTestCase()
{
    // Before any window reads settings: the user's own store stays untouched.
    QVERIFY(settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
}

void MainWinTest::init()
{
    QSettings().remove(kGeometryKey);
    sim::SimulatedDevices::instance().reset();
}

void MainWinTest::cleanup()
{
    const QStringList open = visibleTopLevelWindows();
    QVERIFY2(open.isEmpty(), qPrintable(open.join(QLatin1String(", "))));
    QVERIFY(!QApplication::activeModalWidget());
}

void MainWinTest::windowTitle()
{
    MainWin window;
    QCOMPARE(window.windowTitle(), QStringLiteral("zelUpdate"));
    QVERIFY(!window.parentWidget());
}

void MainWinTest::widgetsTopToBottom_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("text");

    QTest::newRow("instruction") << 0 << "QLabel"
                                 << "Anslut kontrollpanelen till denna dator med USB kabel.";
    QTest::newRow("board button") << 1 << "QPushButton"
                                  << "Uppdatera Styrkortets Program";
    QTest::newRow("panel button") << 2 << "QPushButton"
                                  << "Uppdatera Kontrollpanelens Program";
    QTest::newRow("close button") << 3 << "QPushButton" << closeButtonText();
}

void MainWinTest::widgetsTopToBottom()
{
    QFETCH(int, index);
    QFETCH(QString, className);
    QFETCH(QString, text);

    MainWin window;
    QBoxLayout *layout = centralLayout(window);
    QVERIFY(layout);
    QCOMPARE(layout->direction(), QBoxLayout::TopToBottom);
    QCOMPARE(layout->count(), 4);
    QCOMPARE(layout->stretch(index), 0);
    QCOMPARE(layout->itemAt(index)->alignment(), Qt::Alignment());

    QWidget *widget = layout->itemAt(index)->widget();
    QVERIFY(widget);
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    if (auto *label = qobject_cast<QLabel *>(widget))
        QCOMPARE(label->text(), text);
    else
        QCOMPARE(qobject_cast<QPushButton *>(widget)->text(), text);
}

void MainWinTest::updateSlots_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("name");

    QTest::newRow("first") << 0 << QByteArray("programVak00");
    QTest::newRow("second") << 1 << QByteArray("programZel02");
}

void MainWinTest::updateSlots()
{
    QFETCH(int, index);
    QFETCH(QByteArray, name);

    const QMetaMethod method =
        MainWin::staticMetaObject.method(QMainWindow::staticMetaObject.methodCount() + index);
    QCOMPARE(method.name(), name);
    QCOMPARE(method.methodType(), QMetaMethod::Slot);
    QCOMPARE(method.access(), QMetaMethod::Private);
    QCOMPARE(method.parameterCount(), 0);
    QCOMPARE(method.returnType(), int(QMetaType::Void));
}

void MainWinTest::metaObjectAddsOnlyTheSlots()
{
    const QMetaObject &own = MainWin::staticMetaObject;
    const QMetaObject &base = QMainWindow::staticMetaObject;
    QCOMPARE(own.className(), "MainWin");
    QCOMPARE(own.superClass(), &base);
    QCOMPARE(own.methodCount() - base.methodCount(), 2);
    QCOMPARE(own.propertyCount(), base.propertyCount());
    QCOMPARE(own.enumeratorCount(), base.enumeratorCount());
    QCOMPARE(own.classInfoCount(), base.classInfoCount());
    QCOMPARE(own.constructorCount(), 0);
}

void MainWinTest::buttonReachesItsSlot_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("slot");

    QTest::newRow("board button") << "Uppdatera Styrkortets Program"
                                  << QByteArray(SLOT(programZel02()));
    QTest::newRow("panel button") << "Uppdatera Kontrollpanelens Program"
                                  << QByteArray(SLOT(programVak00()));
    QTest::newRow("close button") << closeButtonText() << QByteArray(SLOT(close()));
}

// disconnect() reports whether the exact connection existed, so taking it away proves which slot
// the button reaches, and nothing may be left connected afterwards.
void MainWinTest::buttonReachesItsSlot()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, slot);

    MainWin window;
    QPushButton *button = buttonNamed(window, text);
    QVERIFY(button);
    QVERIFY(QObject::disconnect(button, SIGNAL(clicked()), &window, slot.constData()));
    QVERIFY(!QObject::disconnect(button, SIGNAL(clicked()), nullptr, nullptr));
}

void MainWinTest::closingStoresGeometry_data()
{
    QTest::addColumn<CloseBy>("closeBy");
    QTest::addColumn<QRect>("geometry");

    QTest::newRow("close button") << CloseBy::Button << QRect(40, 30, 520, 230);
    QTest::newRow("close()") << CloseBy::CloseSlot << QRect(120, 80, 560, 260);
    QTest::newRow("window system") << CloseBy::WindowSystem << QRect(10, 150, 600, 300);
}

void MainWinTest::closingStoresGeometry()
{
    QFETCH(CloseBy, closeBy);
    QFETCH(QRect, geometry);

    {
        MainWin window;
        QPushButton *closeButton = buttonNamed(window, closeButtonText());
        QVERIFY(closeButton);
        QVERIFY(!window.testAttribute(Qt::WA_Moved));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(geometry.width() >= window.minimumSizeHint().width());
        window.setGeometry(geometry);
        QTRY_COMPARE(window.geometry(), geometry);

        switch (closeBy) {
        case CloseBy::Button:
            QTest::mouseClick(closeButton, Qt::LeftButton);
            break;
        case CloseBy::CloseSlot:
            QVERIFY(window.close());
            break;
        case CloseBy::WindowSystem: {
            // What the platform delivers when the title bar's close control is used.
            QCloseEvent event;
            QCoreApplication::sendEvent(window.windowHandle(), &event);
            break;
        }
        }
        // At once: the button's connection is direct, the window hidden before click() returns.
        QVERIFY(!window.isVisible());
    }

    const QVariant stored = QSettings().value(kGeometryKey);
    QCOMPARE(stored.userType(), int(QMetaType::QByteArray));

    MainWin restored;
    QVERIFY(restored.testAttribute(Qt::WA_Moved));
    QCOMPARE(restored.geometry(), geometry);
    restored.show();
    QVERIFY(QTest::qWaitForWindowExposed(&restored));
    QCOMPARE(restored.geometry(), geometry);
    restored.close();
}

void MainWinTest::unusableGeometryLeavesPlacement_data()
{
    QTest::addColumn<QVariant>("stored");

    QByteArray valid;
    {
        MainWin window;
        window.setGeometry(30, 40, 500, 250);
        valid = window.saveGeometry();
    }
    QByteArray wrongMagic = valid;
    wrongMagic[0] = char(wrongMagic[0] ^ 0x5A);
    QByteArray newerFormat = valid;
    newerFormat[5] = char(9); // the major version follows the 32-bit magic number

    QTest::newRow("nothing stored") << QVariant();
    QTest::newRow("empty") << QVariant(QByteArray());
    QTest::newRow("text") << QVariant(QStringLiteral("somewhere on the left"));
    QTest::newRow("number") << QVariant(42);
    QTest::newRow("wrong magic") << QVariant(wrongMagic);
    QTest::newRow("newer format") << QVariant(newerFormat);
}

void MainWinTest::unusableGeometryLeavesPlacement()
{
    QFETCH(QVariant, stored);

    if (stored.isValid())
        QSettings().setValue(kGeometryKey, stored);

    messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordMessage);
    auto window = std::make_unique<MainWin>();
    qInstallMessageHandler(previous);
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join(QLatin1Char('\n'))));

    // Qt sets these only when the program places the window itself.
    QVERIFY(!window->testAttribute(Qt::WA_Moved));
    QVERIFY(!window->testAttribute(Qt::WA_Resized));

    // The window works on and the next close replaces the value with a usable one.
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->close();
    window.reset();
    MainWin next;
    QVERIFY(next.testAttribute(Qt::WA_Moved));
}

void MainWinTest::destroyingReleasesChannel_data()
{
    QTest::addColumn<bool>("shown");
    QTest::addColumn<int>("devices");
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("closes");

    QTest::newRow("never shown") << false << 1 << false << 0;
    QTest::newRow("shown and closed") << true << 1 << false << 0;
    QTest::newRow("after a failed open") << false << 0 << true << 0;
    QTest::newRow("handle held") << true << 1 << true << 1;
}

void MainWinTest::destroyingReleasesChannel()
{
    QFETCH(bool, shown);
    QFETCH(int, devices);
    QFETCH(bool, open);
    QFETCH(int, closes);

    sim::SimulatedDevices &sim = sim::SimulatedDevices::instance();
    sim.setDeviceCount(devices);
    auto window = std::make_unique<MainWin>();
    if (shown) {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        window->close();
    }
    // A click whose connection check is not echoed leaves the channel open; with no device
    // attached it shows the connection error, which shuts the library down once.
    const int exitsBefore = open && devices == 0 ? 1 : 0;
    if (open) {
        sim.injectFault(sim::FaultTrigger::onCommand('E', 'e'),
                        sim::Fault{sim::FaultKind::WrongEcho});
        ModalAnswerer answerer;
        QTest::mouseClick(
            buttonNamed(*window, QStringLiteral("Uppdatera Kontrollpanelens Program")),
            Qt::LeftButton);
        QCOMPARE(answerer.count(), 1);
        QCOMPARE(sim.openHandles(), devices == 0 ? 0 : 1);
    }
    QCOMPARE(sim.exitCount(), exitsBefore);

    window.reset();
    QCOMPARE(sim.closeCount(), closes);
    QCOMPARE(sim.exitCount(), exitsBefore + 1);
    QCOMPARE(sim.openHandles(), 0);
}

void MainWinTest::connectionError_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("devices");
    QTest::addColumn<bool>("permitted");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("advice");
    QTest::addColumn<QStringList>("details"); // what the details must say, in this order

    const QString panel = QStringLiteral("Uppdatera Kontrollpanelens Program");
    const QString board = QStringLiteral("Uppdatera Styrkortets Program");
    const QString none = QStringLiteral("Can't open USB connection to ControlPanel");
    const QString noneAdvice = QStringLiteral(
        "Connect a ControlPanel to this computer with a USB cable and then power up the "
        "ControlPanel");
    const QString several = QStringLiteral("More than one ControlPanel is connected");
    const QString severalAdvice = QStringLiteral("Connect only the ControlPanel to update");
    const QStringList nothing;
    QTest::newRow("panel, none attached") << panel << 0 << true << none << noneAdvice << nothing;
    QTest::newRow("board, none attached") << board << 0 << true << none << noneAdvice << nothing;
    // hidapi would open whichever enumerates first, which may not be the one meant.
    QTest::newRow("panel, two attached")
        << panel << 2 << true << several << severalAdvice << nothing;
    QTest::newRow("board, three attached")
        << board << 3 << true << several << severalAdvice << nothing;
    // The box's own texts stay; its details say which device, why, and what to do.
    QTest::newRow("panel, attached but not permitted")
        << panel << 1 << false << none << noneAdvice
        << QStringList{"/dev/hidraw-sim0", "this user may not open it",
                       "70-zelupdate-controlpanel.rules", "sudo udevadm control --reload",
                       "sudo udevadm trigger --subsystem-match=hidraw"};
}

// A ControlPanel that cannot be opened, or cannot be told apart from another, is one box of the
// same form; nothing is sent and the library is shut down after it.
void MainWinTest::connectionError()
{
    QFETCH(QString, button);
    QFETCH(int, devices);
    QFETCH(bool, permitted);
    QFETCH(QString, text);
    QFETCH(QString, advice);
    QFETCH(QStringList, details);

    sim::SimulatedDevices &sim = sim::SimulatedDevices::instance();
    sim.setDeviceCount(devices);
    if (!permitted)
        sim.setPanelAccess(sim::PanelAccess::NoPermission);
    MainWin window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    ModalAnswerer answerer;
    QPushButton *clicked = buttonNamed(window, button);
    QVERIFY(clicked);
    QTest::mouseClick(clicked, Qt::LeftButton);
    QCOMPARE(answerer.count(), 1);
    const ModalAnswerer::Dialog &box = answerer.dialog(0);
    QCOMPARE(box.className, QStringLiteral("QMessageBox"));
    QCOMPARE(box.text, text);
    QCOMPARE(box.informativeText, advice);
    int from = 0;
    for (const QString &detail : details) {
        from = box.detailedText.indexOf(detail, from);
        QVERIFY2(from >= 0, qPrintable(detail + " not in order in: " + box.detailedText));
    }
    QCOMPARE(box.detailedText.isEmpty(), details.isEmpty());
    QCOMPARE(box.standardButtons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // Details come with Qt's own button that shows them.
    QCOMPARE(box.buttonCount, details.isEmpty() ? 1 : 2);
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    QCOMPARE(box.title, QString());
    QCOMPARE(box.parent, &window);
    QVERIFY(box.modality != Qt::NonModal);

    QCOMPARE(sim.reportCount(), 0);
    QCOMPARE(sim.closeCount(), 0);
    QCOMPARE(sim.exitCount(), 1);
    QCOMPARE(sim.openHandles(), 0);
    window.close();
}

QTEST_MAIN(MainWinTest)
#include "tst_mainwin.moc"
