#include "app/mainwindow.h"
#include "device/xmodemdal.h"
#include "pages/initpage.h"
#include "support/logcapture.h"
#include "support/ptyfixture.h"

#include <QPointer>
#include <QSerialPort>
#include <QtTest>
#include <functional>

namespace {
struct CommandCase {
    const char* name;
    std::function<void()> send;
    QByteArray wire;
    int id;
};

const char kCaller[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

QByteArray caller(int n) {
    return QByteArray(kCaller, n);
}

QByteArray bigBlock(int n) {
    QByteArray block(n, '\0');
    for (int i = 0; i < n; ++i)
        block[i] = static_cast<char>(i * 7 + 3);
    return block;
}

const QByteArray kBlock200 = bigBlock(200);
const QByteArray kBlock300 = bigBlock(300);

const QList<CommandCase>& commandCases() {
    using namespace XModemDAL;
    static const QList<CommandCase> cases = {
        {"GetInitStatus 2", GetInitStatus, hex("6E0102018F6E"), 2},
        {"GetVersionInfo 4", GetVersionInfo, hex("6E0103038F6E"), 4},
        {"GetDeviceInfo 3", GetDeviceInfo, hex("6E0103028F6E"), 3},
        {"GetWatchId 5", GetWatchId, hex("6E0104018F6E"), 5},
        {"EndInfoQuery 1", EndInfoQuery, hex("6E010F018F6E"), 1},
        {"ResetDevice 25", ResetDevice, hex("6E0111018F6E"), 25},
        {"UpdateSoftwareInfo 32", UpdateSoftwareInfo,
         hex("6E011C010101") + QByteArray(22, '\0') + hex("018F") + hex("6E0134288F"), 32},
        {"GetDeviceInfoWhenUpdate 33", GetDeviceInfoWhenUpdate, "c", 33},
        {"StartOrder 35", StartOrder, "u", 35},
        {"EndOrder 37", EndOrder, hex("04"), 37},
        {"CrcOrder 38", CrcOrder, "v", 38},
        {"RestartOrder 39", RestartOrder, "r", 39},
        {"id 0", InitStatusZero, hex("6E0102018F00"), 0},
        {"SendSign 6", SendSign, hex("6E0106018F6E"), 6},
        {"id 7", Order7, hex("6E0121018F"), 7},
        {"id 9", Order9, hex("6E0116018F6E"), 9},
        {"id 10", Order10, hex("6E0131018F6E"), 10},
        {"id 12", Order12, hex("696E0131018F"), 12},
        {"id 19", Order19, hex("6E01A203000000008F727604"), 19},
        {"id 20", Order20, hex("6E0118018F6E"), 20},
        {"id 21", Order21, hex("6E0158018F"), 21},
        {"id 22", Order22, hex("6E0134FF8F"), 22},
        {"id 24", Order24, hex("6E0114018F6E"), 24},
        {"RestartUpdate 34", RestartUpdate, "d", 34},
        {"id 40", Order40, hex("6E010B018F"), 40},
        {"id 43", Order43, hex("6E0130018F6E"), 43},
        {"id 44", Order44, hex("6E0130028F6E"), 44},
        {"id 45", Order45, hex("6E0132048F6E"), 45},
        {"id 46", Order46, hex("6E0132038F6E"), 46},
        {"id 47", Order47, hex("6E0132018F6E"), 47},
        {"id 48", Order48, hex("6E0132028F6E"), 48},
        {"id 49 assembled", Order49, hex("6EEEFFEECC118F"), 49},
        {"id 50 assembled", Order50, hex("80011564A3"), 50},
        {"id 52 assembled", Order52, hex("80012092C5"), 52},
        {"id 53", Order53, hex("80011C4D32"), 53},
        {"id 54", Order54, hex("800121B3D5"), 54},
        {"id 23 caller bytes", [] { Order23(kCaller); }, caller(5), 23},
        {"id 26 caller bytes", [] { Order26(kCaller); }, caller(12), 26},
        {"id 27 caller bytes", [] { Order27(kCaller); }, caller(11), 27},
        {"id 28 caller bytes", [] { Order28(kCaller); }, caller(5), 28},
        {"id 29 caller bytes", [] { Order29(kCaller); }, caller(8), 29},
        {"id 31 caller count", [] { Order31(kCaller, 3); }, caller(3), 31},
        {"id 41 caller bytes", [] { Order41(kCaller); }, caller(8), 41},
        {"id 42 caller bytes", [] { Order42(kCaller); }, caller(13), 42},
        {"id 51 caller bytes", [] { Order51(kBlock200.constData()); }, kBlock200, 51},
        {"id 51 byte array", [] { Order51(kBlock300); }, kBlock300, 51},
        {"SendPacket 36", [] { SendPacket(bigBlock(133)); }, bigBlock(133), 36},
    };
    return cases;
}
} // namespace

class TestSerial : public QObject {
    Q_OBJECT
private slots:
    void init() {
        window = new MainWindow();
        window->StopPortThreads();
        Globals::currentOrder = 0;
        Globals::ReceivedData->clear();
    }
    void cleanup() {
        delete window;
        window = nullptr;
    }

    void openAppliesLineSettings() {
        PtyFixture pty;
        QVERIFY(pty.isValid());
        LogCapture log;
        QVERIFY(window->OpenComPort(pty.slavePath()));
        QSerialPort* port = window->port();
        QVERIFY(port && port->isOpen());
        QCOMPARE(port->openMode(), QIODevice::ReadWrite);
        QCOMPARE(port->baudRate(QSerialPort::Input), 115200);
        QCOMPARE(port->baudRate(QSerialPort::Output), 115200);
        QCOMPARE(port->dataBits(), QSerialPort::Data8);
        QCOMPARE(port->parity(), QSerialPort::NoParity);
        QCOMPARE(port->stopBits(), QSerialPort::OneStop);
        QCOMPARE(port->flowControl(), QSerialPort::NoFlowControl);
        QCOMPARE(log.count("串口已打开"), 1);

        window->CloseComPort();
        QVERIFY(!port->isOpen());
        QCOMPARE(log.count("串口已关闭"), 1);
        window->CloseComPort(); // already closed: nothing, no second line
        QCOMPARE(log.count("串口已关闭"), 1);
    }

    void emptyNameKeepsOpenPort() {
        PtyFixture pty;
        QVERIFY(window->OpenComPort(pty.slavePath()));
        QSerialPort* before = window->port();
        QVERIFY(!window->OpenComPort(QString()));
        QCOMPARE(window->port(), before);
        QVERIFY(before->isOpen());
    }

    void everyCommandWritesItsBytes_data() {
        QTest::addColumn<int>("index");
        for (int i = 0; i < commandCases().size(); ++i)
            QTest::newRow(commandCases().at(i).name) << i;
    }
    void everyCommandWritesItsBytes() {
        QFETCH(int, index);
        const CommandCase& c = commandCases().at(index);
        PtyFixture pty;
        QVERIFY(window->OpenComPort(pty.slavePath()));
        Globals::ReceivedData->append("stale");
        Globals::currentOrder = -1;

        c.send();
        QCOMPARE(Globals::currentOrder, c.id);
        QVERIFY(Globals::ReceivedData->isEmpty());
        QCOMPARE(pty.read(c.wire.size()).toHex(), c.wire.toHex());
        QCOMPARE(pty.drain(50).toHex(), QByteArray());
    }

    void writeWithoutOpenablePortChangesNothing() {
        LogCapture log;
        Globals::PortName = QStringLiteral("/nonexistent/ttyTembra0");
        Globals::currentOrder = 77;
        *Globals::ReceivedData = "kept";
        QVERIFY(!window->port());

        XModemDAL::GetInitStatus();

        QCOMPARE(log.count("无法打开串口"), 1);
        int attempts = 0;
        for (const QString& line : log.lines())
            attempts += line.startsWith("cannot open port") ? 1 : 0;
        QCOMPARE(attempts, 2);
        QCOMPARE(Globals::currentOrder, 77);
        QCOMPARE(*Globals::ReceivedData, QByteArray("kept"));
    }

    void writeOpensPortByName() {
        PtyFixture pty;
        Globals::PortName = pty.slavePath();
        XModemDAL::GetVersionInfo();
        QVERIFY(window->port() && window->port()->isOpen());
        QCOMPARE(Globals::currentOrder, 4);
        QCOMPARE(pty.read(6), hex("6E0103038F6E"));
    }

    void byteArrayWriteFailureShowsDeviceInformationPage() {
        Globals::PortName = QStringLiteral("/nonexistent/ttyTembra0");
        XModemDAL::Order49();
        QVERIFY(qobject_cast<InitPage*>(window->centralWidget()));
    }

    void reopenReplacesPortObject() {
        PtyFixture first;
        PtyFixture second;
        QVERIFY(window->OpenComPort(first.slavePath()));
        QPointer<QSerialPort> old = window->port();
        QVERIFY(window->OpenComPort(second.slavePath()));
        QVERIFY(old.isNull());
        Globals::currentOrder = XModemDAL::IdEndInfoQuery; // no branch: bytes are collected
        Globals::ReceivedData->clear();

        first.write("old");
        second.write("new");
        QTRY_COMPARE_WITH_TIMEOUT(*Globals::ReceivedData, QByteArray("new"), 10000);
        first.write("more-old");
        second.write("!");
        QTRY_COMPARE_WITH_TIMEOUT(*Globals::ReceivedData, QByteArray("new!"), 10000);
    }

    void lateBytesBelongToTheNewCommand() {
        PtyFixture pty;
        QVERIFY(window->OpenComPort(pty.slavePath()));
        XModemDAL::EndInfoQuery();
        pty.read(6);
        pty.write(hex("6E010F01"));
        QTRY_COMPARE_WITH_TIMEOUT(*Globals::ReceivedData, hex("6E010F01"), 10000);

        XModemDAL::Order9(); // no reply branch either
        QVERIFY(Globals::ReceivedData->isEmpty());
        pty.write(hex("8F"));
        QTRY_COMPARE_WITH_TIMEOUT(*Globals::ReceivedData, hex("8F"), 10000);
        QCOMPARE(Globals::currentOrder, 9);
    }

    // A reply cut off by the port's close is dropped with the port: its quiet
    // timer runs no branch, and no write opens the port again.
    void closeDropsPartialReply() {
        PtyFixture pty;
        QVERIFY(window->OpenComPort(pty.slavePath()));
        Globals::PortName = pty.slavePath();
        XModemDAL::GetVersionInfo();
        QCOMPARE(pty.read(6), hex("6E0103038F6E"));
        pty.write(hex("6E0103"));
        QVERIFY(window->port()->waitForReadyRead(10000)); // HandlerData runs inside
        QCOMPARE(*Globals::ReceivedData, hex("6E0103"));
        window->CloseComPort();
        QVERIFY(Globals::ReceivedData->isEmpty());
        QCOMPARE(pty.drain(300), QByteArray());
        QCOMPARE(Globals::currentOrder, int(XModemDAL::IdGetVersionInfo));
        QVERIFY(!window->port()->isOpen());
    }

    void auxiliarySlots() {
        PtyFixture pty;
        QVERIFY(window->OpenComPort(pty.slavePath()));
        window->handerSign();
        QCOMPARE(pty.read(6), hex("6E0106018F6E"));
        QCOMPARE(Globals::currentOrder, 6);

        LogCapture log;
        window->HasReceivedData(); // nothing received yet
        QCOMPARE(log.count("收到数据了"), 0);
        pty.write("x");
        QTRY_COMPARE_WITH_TIMEOUT(Globals::ReceivedData->size(), 1, 10000);
        QVERIFY(window->receivedSinceInitStatus());
        window->HasReceivedData();
        QCOMPARE(log.count("收到数据了"), 1);
    }

private:
    MainWindow* window = nullptr;
};

QTEST_MAIN(TestSerial)
#include "test_serial.moc"
