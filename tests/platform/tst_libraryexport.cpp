#include "platform/libraryexport_win.h"

#include <QCoreApplication>
#include <QTest>

class TestLibraryExport : public QObject
{
    Q_OBJECT

private slots:
    void byOrdinal_data();
    void byOrdinal();
};

void TestLibraryExport::byOrdinal_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("ordinal");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("problem");

    QTest::newRow("the export by its number") << "fakeutp.dll" << 20 << true << QString();
    QTest::newRow("a number it lacks") << "fakeutp.dll" << 21 << false << "fakeutp.dll has no export number 21";
    QTest::newRow("no such file") << "absent.dll" << 20 << false << "cannot load ";
    QTest::newRow("no 64-bit DLL") << "notadll.dll" << 20 << false << "error 193: it is not a 64-bit Windows DLL";
}

void TestLibraryExport::byOrdinal()
{
    QFETCH(QString, fileName);
    QFETCH(int, ordinal);
    QFETCH(bool, found);
    QFETCH(QString, problem);

    QString reported;
    const QString path = QCoreApplication::applicationDirPath() + QLatin1Char('/') + fileName;
    const QFunctionPointer function = LibraryExport::byOrdinal(path, ordinal, &reported);

    QCOMPARE(function != nullptr, found);
    if (found) {
        using Update = int (*)(int, int, const char16_t *, void (*)(const char16_t *), void (*)(int, int));
        QCOMPARE(reinterpret_cast<Update>(function)(0x3a52, 0x010c, u"x", nullptr, nullptr), 0x3a52 + 0x010c);
        QVERIFY(reported.isEmpty());
    } else {
        QVERIFY2(reported.contains(problem), qPrintable(reported));
        QVERIFY2(reported.contains(fileName), qPrintable(reported));
    }
}

QTEST_GUILESS_MAIN(TestLibraryExport)
#include "tst_libraryexport.moc"
