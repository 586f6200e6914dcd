// What a user is told about an attached ControlPanel: device strings shown harmlessly, and whether
// this process counts as the user at the seat, which decides the advice for no permission.
#include "ConnectionAdvice.h"
#include "Printable.h"

#include <QtTest>

namespace {

const char *const kSessionVariables[] = {"XDG_SEAT", "SSH_CONNECTION", "SSH_CLIENT", "SSH_TTY"};

} // namespace

class ConnectionAdviceTest : public QObject
{
    Q_OBJECT

private slots:
    void printable_data();
    void printable();
    void atSeat_data();
    void atSeat();
    void busyDetail_data();
    void busyDetail();
};

void ConnectionAdviceTest::printable_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");

    QTest::newRow("plain") << "ZEL ControlPanel"
                           << "ZEL ControlPanel";
    QTest::newRow("letters beyond ASCII")
        << QStringLiteral("Zelström ÅÄÖ €") << QStringLiteral("Zelström ÅÄÖ €");
    QTest::newRow("forged line") << "CP1000\n  access: usable"
                                 << "CP1000\\n  access: usable";
    QTest::newRow("carriage return and tab") << "a\rb\tc"
                                             << "a\\rb\\tc";
    QTest::newRow("screen cleared") << "\x1b[2J\x1b[H"
                                    << "\\x1b[2J\\x1b[H";
    QTest::newRow("bell and nul") << QString::fromLatin1("a\x07\0b", 4) << "a\\x07\\x00b";
    QTest::newRow("delete and C1 controls")
        << QStringLiteral("\u007f\u0085\u009b") << "\\x7f\\x85\\x9b";
    QTest::newRow("line and paragraph separators")
        << QStringLiteral("a\u2028b\u2029c") << "a\\u2028b\\u2029c";
    QTest::newRow("bidirectional controls")
        << QStringLiteral("\u202eLENAP\u2066x\u2069") << "\\u202eLENAP\\u2066x\\u2069";
    // Doubled, so that no device can pass a written-out "\n" for an escaped line feed.
    QTest::newRow("backslash") << "a\\nb"
                               << "a\\\\nb";
}

void ConnectionAdviceTest::printable()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);

    QCOMPARE(::printable(text), shown);
}

void ConnectionAdviceTest::atSeat_data()
{
    QTest::addColumn<QStringList>("variables"); // NAME=value, the rest of them unset
    QTest::addColumn<bool>("atSeat");

    QTest::newRow("session at seat0") << QStringList{"XDG_SEAT=seat0"} << true;
    QTest::newRow("no seat (a service)") << QStringList() << false;
    QTest::newRow("empty seat") << QStringList{"XDG_SEAT="} << false;
    // A terminal opened at the seat, reached over SSH, inherits XDG_SEAT.
    for (const char *ssh : {"SSH_CONNECTION", "SSH_CLIENT", "SSH_TTY"})
        QTest::newRow(qPrintable(QStringLiteral("seat0 over %1").arg(ssh)))
            << QStringList{"XDG_SEAT=seat0", QStringLiteral("%1=x").arg(ssh)} << false;
}

void ConnectionAdviceTest::atSeat()
{
    QFETCH(QStringList, variables);
    QFETCH(bool, atSeat);

    for (const char *name : kSessionVariables)
        qunsetenv(name);
    for (const QString &variable : variables) {
        const int equals = variable.indexOf(QLatin1Char('='));
        qputenv(variable.left(equals).toLatin1().constData(), variable.mid(equals + 1).toUtf8());
    }
    QCOMPARE(currentAccessSession().atSeat, atSeat);
}

void ConnectionAdviceTest::busyDetail_data()
{
    QTest::addColumn<QString>("program"); // the holder's mark names it; empty: no mark
    QTest::addColumn<QString>("detail");

    // A mark is data: its fields fill no placeholder, not even one another's.
    QTest::newRow("placeholders in the name")
        << "evil%2%3"
        << "The ControlPanel at USB port 1-1 is being updated by evil%2%3 (process 32609)";
    QTest::newRow("control characters in the name")
        << "evil\nforged line\x1b[2J"
        << "The ControlPanel at USB port 1-1 is being updated by evil\\nforged line\\x1b[2J "
           "(process 32609)";
    QTest::newRow("no mark")
        << ""
        << "The ControlPanel at USB port 1-1 is being updated by another program";
}

// The refusal of a unit another program holds names the holder as its mark says, escaped.
void ConnectionAdviceTest::busyDetail()
{
    QFETCH(QString, program);
    QFETCH(QString, detail);

    std::optional<UnitMark> holder;
    if (!program.isEmpty())
        holder = UnitMark{program,
                          32609,
                          QStringLiteral("board"),
                          QDateTime(),
                          QStringLiteral("writing"),
                          false,
                          QString(),
                          false,
                          QDateTime()};
    QCOMPARE(::busyDetail(QStringLiteral("1-1"), holder), detail);
}

QTEST_GUILESS_MAIN(ConnectionAdviceTest)
#include "Printable.h"
#include "tst_connectionadvice.moc"
