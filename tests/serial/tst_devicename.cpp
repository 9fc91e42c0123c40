// Device names: the template formatted with the port number, and the node the name stands for.
#include "common/failure.h"
#include "serial/devicename.h"

#include <QTest>

using namespace ormelin;
using namespace ormelin::serialdetail;

class TestDeviceName : public QObject
{
    Q_OBJECT
private slots:
    void formatting_data()
    {
        QTest::addColumn<QString>("nameTemplate");
        QTest::addColumn<int>("portNumber");
        QTest::addColumn<QString>("name");
        QTest::newRow("default template") << "COM%d" << 3 << "COM3";
        QTest::newRow("no placeholder ignores the number") << "COM3" << 7 << "COM3";
        QTest::newRow("port box text") << "ttyUSB0" << 3 << "ttyUSB0";
        QTest::newRow("percent sign") << "a%%b%d" << 1 << "a%b1";
        QTest::newRow("upper-case kind") << "COM%D" << 12 << "COM12";
        QTest::newRow("precision pads with zeros") << "tty%.3d" << 5 << "tty005";
        QTest::newRow("width pads with blanks") << "[%4d]" << 5 << "[   5]";
        QTest::newRow("left aligned") << "[%-4d]" << 5 << "[5   ]";
        QTest::newRow("width from the argument") << "[%*d]" << 3 << "";
        QTest::newRow("index 0") << "COM%0:d" << 8 << "COM8";
        QTest::newRow("unsigned") << "n%u" << -1 << "n4294967295";
        QTest::newRow("hex is upper case") << "x%x" << 255 << "xFF";
        QTest::newRow("negative") << "p%d" << -4 << "p-4";
        QTest::newRow("largest number") << "p%d" << 2147483647 << "p2147483647";
    }

    void formatting()
    {
        QFETCH(QString, nameTemplate);
        QFETCH(int, portNumber);
        QFETCH(QString, name);
        if (name.isEmpty()) { // "*" takes the only argument, leaving none for the number
            QVERIFY_THROWS_EXCEPTION(Failure, formatDeviceName(nameTemplate, portNumber));
            return;
        }
        QCOMPARE(formatDeviceName(nameTemplate, portNumber), name);
    }

    void rejectedTemplates_data()
    {
        QTest::addColumn<QString>("nameTemplate");
        QTest::newRow("string kind") << "COM%s";
        QTest::newRow("float kind") << "COM%f";
        QTest::newRow("pointer kind") << "COM%p";
        QTest::newRow("two numbers") << "COM%d%d";
        QTest::newRow("index 1") << "COM%1:d";
        QTest::newRow("lone percent at the end") << "COM%";
        QTest::newRow("unknown kind") << "COM%q";
    }

    void rejectedTemplates()
    {
        QFETCH(QString, nameTemplate);
        try {
            formatDeviceName(nameTemplate, 3);
            QFAIL("formatted");
        } catch (const Failure &e) {
            QVERIFY2(e.text().contains(nameTemplate), qPrintable(e.text()));
        }
    }

    void devicePaths_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("path");
        const QString dev = QString::fromLatin1(kSystemDeviceFolder);
        QTest::newRow("COM1 is the first serial port") << "COM1" << dev << "/dev/ttyS0";
        QTest::newRow("COM3") << "COM3" << dev << "/dev/ttyS2";
        QTest::newRow("COM12") << "COM12" << dev << "/dev/ttyS11";
        QTest::newRow("lower case") << "com2" << dev << "/dev/ttyS1";
        QTest::newRow("COM0 is no serial port number") << "COM0" << dev << "/dev/COM0";
        QTest::newRow("leading zero") << "COM03" << dev << "/dev/COM03";
        QTest::newRow("COM with more") << "COM3x" << dev << "/dev/COM3x";
        QTest::newRow("node name") << "ttyUSB0" << dev << "/dev/ttyUSB0";
        QTest::newRow("path as it stands") << "/dev/pts/4" << dev << "/dev/pts/4";
        QTest::newRow("name with a folder is looked up in the device folder")
            << "pts/4" << dev << "/dev/pts/4";
        QTest::newRow("never relative to the current folder")
            << "serial/by-id/x" << dev << "/dev/serial/by-id/x";
        QTest::newRow("dot folder stays under the device folder") << "./x" << dev << "/dev/./x";
        QTest::newRow("COM in another folder") << "COM3"
                                               << "/tmp/d"
                                               << "/tmp/d/ttyS2";
        QTest::newRow("name in another folder") << "pts/4"
                                                << "/tmp/d/"
                                                << "/tmp/d/pts/4";
        QTest::newRow("path ignores the folder") << "/dev/pts/4"
                                                 << "/tmp/d"
                                                 << "/dev/pts/4";
    }

    void devicePaths()
    {
        QFETCH(QString, name);
        QFETCH(QString, folder);
        QFETCH(QString, path);
        QCOMPARE(devicePathFor(name, folder), path);
    }
};

QTEST_GUILESS_MAIN(TestDeviceName)
#include "tst_devicename.moc"
