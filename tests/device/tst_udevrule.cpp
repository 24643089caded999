// The udev rule shipped for Linux must name the vendor ID the program
// searches for, or ordinary users cannot open any controller.

#include "protocol/models.h"

#include <QFile>
#include <QRegularExpression>
#include <QtTest>

class UdevRuleTest : public QObject
{
    Q_OBJECT

private slots:
    void grantsAccessToOurVendorId();
};

void UdevRuleTest::grantsAccessToOurVendorId()
{
    QFile rules(QStringLiteral(TAVORO_UDEV_RULES));
    QVERIFY2(rules.open(QIODevice::ReadOnly | QIODevice::Text), qPrintable(rules.fileName()));

    // udev compares the sysfs attribute as text: four lowercase hex digits.
    const QString expectedVendor = QStringLiteral("%1").arg(vendorId, 4, 16, QLatin1Char('0'));
    static const QRegularExpression rule(QStringLiteral(
        "^KERNEL==\"hidraw\\*\", ATTRS\\{idVendor\\}==\"([^\"]*)\", TAG\\+=\"uaccess\"$"));

    QStringList vendors;
    while (!rules.atEnd()) {
        const QString line = QString::fromUtf8(rules.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QRegularExpressionMatch match = rule.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        vendors.append(match.captured(1));
    }
    QCOMPARE(vendors, QStringList { expectedVendor });
}

QTEST_GUILESS_MAIN(UdevRuleTest)
#include "tst_udevrule.moc"
