// Opening, configuring and closing the serial component, over pseudo-terminals.
#include "commprobe.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <clocale>

#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

extern char **environ;

using namespace ormelin;

// Another program holding a device: serial_port_holder, started without a fork of this
// multi-threaded process (posix_spawn), holds the device until its standard input closes.
class PortHolder
{
public:
    explicit PortHolder(const QString &devicePath)
    {
        int toChild[2], fromChild[2];
        if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
        const QByteArray path = devicePath.toLocal8Bit();
        char *argv[]
            = { const_cast<char *>(ORMELIN_PORT_HOLDER), const_cast<char *>(path.data()), nullptr };
        if (::posix_spawn(&m_pid, ORMELIN_PORT_HOLDER, &actions, nullptr, argv, environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(toChild[0]);
        ::close(fromChild[1]);
        m_stdin = toChild[1];
        m_stdout = fromChild[0];
    }
    ~PortHolder() { release(); }

    // True once the holder says it has the device.
    bool holding()
    {
        char said[5] = {};
        size_t got = 0;
        while (got < sizeof said) {
            pollfd p { m_stdout, POLLIN, 0 };
            if (::poll(&p, 1, 10000) <= 0)
                return false;
            const ssize_t r = ::read(m_stdout, said + got, sizeof said - got);
            if (r <= 0)
                return false;
            got += size_t(r);
        }
        return QByteArray(said, 5) == "held\n";
    }

    // Lets the device go; the exit code of the holder.
    int release()
    {
        if (m_stdin >= 0)
            ::close(m_stdin);
        if (m_stdout >= 0)
            ::close(m_stdout);
        m_stdin = m_stdout = -1;
        int status = -1;
        if (m_pid > 0 && ::waitpid(m_pid, &status, 0) == m_pid)
            status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        m_pid = -1;
        return status;
    }

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
};

class TestVaCommOpen : public QObject
{
    Q_OBJECT

    // The device folder of names that are not paths: empty, so that no name reaches a device of
    // the machine.
    QTemporaryDir m_devices;

    static QString busyText(const QString &name)
    {
        return QStringLiteral("Can't open specified device %1 (Error 16, Device or resource busy)")
            .arg(name);
    }

    // The port works: bytes pass both ways.
    static void checkPortWorks(TVaComm &comm, PtyPair &pty)
    {
        QCOMPARE(comm.WriteBytes("ping", 4), 4);
        QCOMPARE(pty.read(4, std::chrono::seconds(5)), QByteArray("ping"));
        QByteArray got;
        comm.OnRxChar = [&](int32_t n) {
            QByteArray b(n, 0);
            b.resize(comm.ReadBytes(b.data(), n));
            got += b;
        };
        QVERIFY(pty.write("pong"));
        QTRY_COMPARE_WITH_TIMEOUT(got, QByteArray("pong"), 5000);
        comm.OnRxChar = {};
    }

private slots:
    void initTestCase()
    {
        // Error texts come from the C library; read them in its own language.
        std::setlocale(LC_ALL, "C");
    }

    void baudrateAndUserBaudrateAreCoupled()
    {
        TVaComm comm;
        comm.SetUserBaudrate(250000);
        QCOMPARE(comm.Baudrate(), TVaBaudrate::brUser);
        comm.SetBaudrate(TVaBaudrate::brUser); // same value: nothing
        QCOMPARE(comm.UserBaudrate(), 250000);
        comm.SetBaudrate(TVaBaudrate::br9600);
        QCOMPARE(comm.UserBaudrate(), 0);
        comm.SetUserBaudrate(0); // same value: Baudrate stays
        QCOMPARE(comm.Baudrate(), TVaBaudrate::br9600);
    }

    void lineSettingsReadBack_data()
    {
        QTest::addColumn<int>("baudrate");
        QTest::addColumn<int>("userBaud");
        QTest::addColumn<int>("stopbits");
        QTest::addColumn<bool>("xonOut");
        QTest::addColumn<bool>("xonIn");
        QTest::addColumn<bool>("cts");
        QTest::addColumn<bool>("parityCheck");
        QTest::addColumn<uint>("speed");
        QTest::addColumn<bool>("twoStop");

        const int user = int(TVaBaudrate::brUser);
        QTest::newRow("this system: 250000 8N2") << user << 250000 << int(TVaStopbits::sb2) << false
                                                 << false << false << false << 250000u << true;
        QTest::newRow("br9600 8N1") << int(TVaBaudrate::br9600) << 0 << int(TVaStopbits::sb1)
                                    << false << false << false << false << 9600u << false;
        QTest::newRow("br14400 is no fixed Linux rate")
            << int(TVaBaudrate::br14400) << 0 << int(TVaStopbits::sb1) << false << false << false
            << false << 14400u << false;
        QTest::newRow("br256000, 1.5 stop bits sent as 2")
            << int(TVaBaudrate::br256000) << 0 << int(TVaStopbits::sb15) << false << false << false
            << false << 256000u << true;
        QTest::newRow("xon/xoff both ways") << user << 57600 << int(TVaStopbits::sb1) << true
                                            << true << false << false << 57600u << false;
        QTest::newRow("cts flow, parity check")
            << int(TVaBaudrate::br115200) << 0 << int(TVaStopbits::sb2) << false << false << true
            << true << 115200u << true;
    }

    void lineSettingsReadBack()
    {
        QFETCH(int, baudrate);
        QFETCH(int, userBaud);
        QFETCH(int, stopbits);
        QFETCH(bool, xonOut);
        QFETCH(bool, xonIn);
        QFETCH(bool, cts);
        QFETCH(bool, parityCheck);
        QFETCH(uint, speed);
        QFETCH(bool, twoStop);

        PtyPort port;
        QVERIFY(port.ok());
        if (userBaud)
            port.comm.SetUserBaudrate(userBaud);
        else
            port.comm.SetBaudrate(TVaBaudrate(baudrate));
        port.comm.SetStopbits(TVaStopbits(stopbits));
        TVaFlowControl flow;
        flow.XonXoffOut = xonOut;
        flow.XonXoffIn = xonIn;
        flow.OutCtsFlow = cts;
        port.comm.SetFlowControl(flow);
        port.comm.SetEventChars({ 0x21, 0x23, 0, 0, 0 });
        if (parityCheck)
            port.comm.SetOptions(TVaCommOption::coParityCheck);
        port.comm.Open();

        const termios2 t = port.pty.slaveSettings();
        QCOMPARE(t.c_ospeed, speed);
        QCOMPARE(t.c_ispeed, speed);
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(t.c_cflag & PARENB, tcflag_t(0));
        QCOMPARE(bool(t.c_cflag & CSTOPB), twoStop);
        QCOMPARE(bool(t.c_cflag & CRTSCTS), cts);
        QVERIFY(t.c_cflag & CREAD);
        QVERIFY(t.c_cflag & CLOCAL);
        QCOMPARE(bool(t.c_iflag & IXON), xonOut);
        QCOMPARE(bool(t.c_iflag & IXOFF), xonIn);
        QCOMPARE(bool(t.c_iflag & INPCK), parityCheck);
        QCOMPARE(t.c_iflag & ~tcflag_t(IXON | IXOFF | INPCK), tcflag_t(0)); // no byte translation
        QCOMPARE(t.c_oflag, tcflag_t(0));
        QCOMPARE(t.c_lflag, tcflag_t(0));
        QCOMPARE(t.c_cc[VMIN], cc_t(1));
        QCOMPARE(t.c_cc[VTIME], cc_t(0));
        QCOMPARE(t.c_cc[VSTART], cc_t(0x21));
        QCOMPARE(t.c_cc[VSTOP], cc_t(0x23));
    }

    // A pseudo-terminal always carries 8-bit bytes without parity; a driver that cannot make
    // the frame asked for must not be left sending another one.
    void settingsTheDriverCannotKeepAreRefused_data()
    {
        QTest::addColumn<int>("databits");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("userBaud");
        QTest::newRow("7 data bits") << int(TVaDatabits::db7) << int(TVaParity::paNone) << 250000;
        QTest::newRow("4 data bits") << int(TVaDatabits::db4) << int(TVaParity::paNone) << 9600;
        QTest::newRow("even parity") << int(TVaDatabits::db8) << int(TVaParity::paEven) << 9600;
        QTest::newRow("mark parity") << int(TVaDatabits::db8) << int(TVaParity::paMark) << 9600;
        QTest::newRow("rate 0 would hang up")
            << int(TVaDatabits::db8) << int(TVaParity::paNone) << 0;
        QTest::newRow("negative rate") << int(TVaDatabits::db8) << int(TVaParity::paNone) << -5;
    }

    void settingsTheDriverCannotKeepAreRefused()
    {
        QFETCH(int, databits);
        QFETCH(int, parity);
        QFETCH(int, userBaud);
        PtyPort port;
        QVERIFY(port.ok());
        const termios2 found = port.pty.slaveSettings();
        port.comm.SetUserBaudrate(1); // makes the next call a change even for 0
        port.comm.SetUserBaudrate(userBaud);
        port.comm.SetDatabits(TVaDatabits(databits));
        port.comm.SetParity(TVaParity(parity));
        QVERIFY_THROWS_EXCEPTION(EVaCommError, port.comm.Open());
        QCOMPARE(commErrorText([&] { port.comm.Open(); }),
            QStringLiteral("Error writing dcb (22), Invalid argument"));
        QVERIFY(!port.comm.IsOpen());

        // The device is left with the settings it had, not with those of the refused open.
        const termios2 after = port.pty.slaveSettings();
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(&after), sizeof after),
            QByteArray(reinterpret_cast<const char *>(&found), sizeof found));

        // The failed open let the device go again.
        TVaComm other;
        useSystemSettings(other, port.pty.slavePath());
        other.Open();
        checkPortWorks(other, port.pty);
    }

    void changingLineSettingsWhileOpenRewritesThem()
    {
        PtyPort port;
        QVERIFY(port.open());
        port.comm.SetBaudrate(TVaBaudrate::br19200);
        QCOMPARE(port.pty.slaveSettings().c_ospeed, 19200u);
        port.comm.SetStopbits(TVaStopbits::sb1);
        QCOMPARE(port.pty.slaveSettings().c_cflag & CSTOPB, tcflag_t(0));

        QVERIFY_THROWS_EXCEPTION(EVaCommError, port.comm.SetDatabits(TVaDatabits::db7));
        QVERIFY(port.comm.IsOpen()); // a failed rewrite leaves the port open
        port.comm.SetDatabits(TVaDatabits::db8);
        checkPortWorks(port.comm, port.pty);
    }

    void settingsThatNeedAClosedPort()
    {
        PtyPort port;
        QVERIFY(port.open());

        QVERIFY_THROWS_EXCEPTION(EVaCommError, port.comm.SetDeviceName(QStringLiteral("ttyNone")));
        QVERIFY_THROWS_EXCEPTION(EVaCommError, port.comm.SetDeviceFolder(QStringLiteral("/tmp")));
        QVERIFY_THROWS_EXCEPTION(EVaCommError, port.comm.SetPortNum(4));
        QVERIFY_THROWS_EXCEPTION(EVaCommError, port.comm.SetUpdateDCB(false));
        TVaBuffers changed = port.comm.Buffers();
        changed.WriteSize = 10;
        QVERIFY_THROWS_EXCEPTION(EVaCommError, port.comm.SetBuffers(changed));
        port.comm.SetBuffers(port.comm.Buffers()); // unchanged: allowed
        QCOMPARE(commErrorText([&] { port.comm.Open(); }),
            QStringLiteral("Can't perform this operation while port is open"));
        QCOMPARE(port.comm.DeviceName(), port.pty.slavePath());
        QCOMPARE(port.comm.PortNum(), 0);
        QCOMPARE(port.comm.Buffers().WriteSize, 1900000);
        checkPortWorks(port.comm, port.pty);
    }

    void deviceNotFound_data()
    {
        QTest::addColumn<QString>("deviceName");
        QTest::addColumn<int>("portNum");
        QTest::addColumn<QString>("message");
        QTest::newRow("template") << "ttyOrmelin%d" << 7
                                  << "Specified device not found (ttyOrmelin7).";
        const QString path = m_devices.filePath(QStringLiteral("none"));
        QTest::newRow("path") << path << 0
                              << QStringLiteral("Specified device not found (%1).").arg(path);
        QTest::newRow("name with a percent sign is not re-read")
            << "ttyOrmelin%%s" << 0 << "Specified device not found (ttyOrmelin%s).";
    }

    void deviceNotFound()
    {
        QFETCH(QString, deviceName);
        QFETCH(int, portNum);
        QFETCH(QString, message);
        TVaComm comm;
        comm.SetDeviceFolder(m_devices.path());
        comm.SetDeviceName(deviceName);
        comm.SetPortNum(portNum);
        QCOMPARE(commErrorText([&] { comm.Open(); }), message);
        QVERIFY(!comm.IsOpen());
    }

    void unformattableTemplateIsNotACommError()
    {
        TVaComm comm;
        comm.SetDeviceName(QStringLiteral("COM%s"));
        bool commError = false;
        bool otherFailure = false;
        try {
            comm.Open();
        } catch (const EVaCommError &) {
            commError = true;
        } catch (const Failure &) {
            otherFailure = true;
        }
        QVERIFY(!commError);
        QVERIFY(otherFailure);
        QVERIFY(!comm.IsOpen());
    }

    // Anything but a terminal would take the queued bytes as data to keep.
    void somethingOtherThanATerminalIsRefused()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        const QString fifo = m_devices.filePath(QStringLiteral("fifo"));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        for (const QString &name : { fifo, file.fileName() }) {
            TVaComm comm;
            comm.SetDeviceName(name);
            QCOMPARE(commErrorText([&] { comm.Open(); }),
                QStringLiteral("Can't open specified device %1 (Error 25, Inappropriate "
                               "ioctl for device)")
                    .arg(name));
            QVERIFY(!comm.IsOpen());
        }
        QCOMPARE(file.size(), 0);
    }

    void portHeldBySecondInstanceIsBusy()
    {
        PtyPort port;
        QVERIFY(port.open());
        port.comm.SetBaudrate(TVaBaudrate::br9600); // the second must not touch this

        TVaComm second;
        useSystemSettings(second, port.pty.slavePath());
        QCOMPARE(commErrorText([&] { second.Open(); }), busyText(port.pty.slavePath()));
        QVERIFY(!second.IsOpen());
        QCOMPARE(port.pty.slaveSettings().c_ospeed, 9600u);
        checkPortWorks(port.comm, port.pty);

        port.comm.Close();
        second.Open(); // free again
        checkPortWorks(second, port.pty);
    }

    void portHeldByAnotherProcessIsBusy()
    {
        PtyPort port;
        QVERIFY(port.ok());
        PortHolder holder(port.pty.slavePath());
        QVERIFY(holder.holding());

        QCOMPARE(commErrorText([&] { port.comm.Open(); }), busyText(port.pty.slavePath()));
        QVERIFY(!port.comm.IsOpen());

        QCOMPARE(holder.release(), 0);
        port.comm.Open();
        checkPortWorks(port.comm, port.pty);
    }

    void reopenAThousandTimes()
    {
        PtyPort port;
        QVERIFY(port.ok());
        int opened = 0;
        int closed = 0;
        port.comm.OnOpen = [&] { ++opened; };
        port.comm.OnClose = [&] { ++closed; };
        for (int i = 0; i < 1000; ++i) {
            try {
                port.comm.Open();
            } catch (const std::exception &e) {
                QFAIL(qPrintable(QStringLiteral("open %1 failed: %2").arg(i).arg(e.what())));
            }
            port.comm.Close();
        }
        QCOMPARE(opened, 1000);
        QCOMPARE(closed, 1000);
        port.comm.Open();
        checkPortWorks(port.comm, port.pty);
    }

    void callsOnAClosedPortDoNothing()
    {
        TVaComm comm;
        int closed = 0;
        comm.OnClose = [&] { ++closed; };
        QCOMPARE(comm.WriteBytes("abc", 3), 0);
        QCOMPARE(comm.WriteByte(0x55), false);
        char buffer[4];
        QCOMPARE(comm.ReadBytes(buffer, 4), 0);
        comm.PurgeAll();
        comm.Close();
        comm.SetDtrLine(true);
        comm.SetRtsLine(false);
        QCOMPARE(closed, 0);
        QCOMPARE(comm.queuedBytes(), 0);
        QVERIFY(!comm.hungUp());
    }

    void handshakeLinesCannotBeSetByHand()
    {
        TVaComm comm; // closed: the rule holds all the same
        TVaFlowControl flow;
        flow.ControlDtr = TVaControlDtr::dtrHandshake;
        flow.ControlRts = TVaControlRts::rtsToggle;
        comm.SetFlowControl(flow);
        QCOMPARE(commErrorText([&] { comm.SetDtrLine(true); }),
            QStringLiteral("DTR line updates not allowed when flowcontrol is set to Handshake."));
        QCOMPARE(commErrorText([&] { comm.SetRtsLine(true); }),
            QStringLiteral(
                "RTS line updates not allowed when flowcontrol is set to Handshake or Toggle."));
    }

    // A pseudo-terminal has no modem lines: setting them is quietly nothing.
    void controlLinesOnADeviceWithoutThem()
    {
        PtyPort port;
        QVERIFY(port.open());
        port.comm.SetRtsLine(false);
        port.comm.SetDtrLine(true);
        checkPortWorks(port.comm, port.pty);
    }

    void failureInOnOpenIsReportedAndPortStaysOpen()
    {
        ProbedPort port;
        QVERIFY(port.ok());
        port.comm.OnOpen = [] { throw Failure(QStringLiteral("from OnOpen")); };
        port.comm.Open();
        QCOMPARE(port.probe.failures, QStringList { QStringLiteral("from OnOpen") });
        QVERIFY(port.comm.IsOpen());
    }

    void destructionClosesWithoutOnClose()
    {
        PtyPort port;
        QVERIFY(port.ok());
        int closed = 0;
        {
            TVaComm comm;
            useSystemSettings(comm, port.pty.slavePath());
            comm.OnClose = [&] { ++closed; };
            comm.Open();
            QCOMPARE(comm.WriteBytes("x", 1), 1);
        }
        QCOMPARE(closed, 0);
        QVERIFY(port.open()); // the device was let go
    }
};

QTEST_GUILESS_MAIN(TestVaCommOpen)
#include "tst_vacomm_open.moc"
