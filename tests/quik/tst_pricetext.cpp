#include "quik/PriceText.h"
#include "support/TestSupport.h"

#include <QTest>

class TestPriceText : public QObject {
    Q_OBJECT
private slots:
    void examples_data() {
        QTest::addColumn<int>("digits");
        QTest::addColumn<double>("price");
        QTest::addColumn<QString>("text");
        QTest::newRow("2 decimals") << 2 << 25.5 << "25.50";
        QTest::newRow("half away from zero") << 0 << 150.5 << "151";
        QTest::newRow("negative half away from zero") << 0 << -150.5 << "-151";
        QTest::newRow("3 decimals") << 3 << 5.176 << "5.176";
        QTest::newRow("decimal half, not binary") << 2 << 2.675 << "2.68";
        QTest::newRow("small") << 4 << 0.00005 << "0.0001";
        QTest::newRow("zero") << 2 << 0.0 << "0.00";
        QTest::newRow("tens") << -1 << 1234.5 << "1230";
        QTest::newRow("multiples of 20") << -2 << 1234.5 << "1240";
        QTest::newRow("multiples of 50") << -5 << 1234.5 << "1250";
        QTest::newRow("halves to even, down") << -10 << 1250.0 << "1200";
        QTest::newRow("halves to even, up") << -10 << 1350.0 << "1400";
        QTest::newRow("no thousands separator") << 2 << 1234567.891 << "1234567.89";
    }
    void examples() {
        QLocale::setDefault(QLocale::c());
        QFETCH(int, digits);
        QFETCH(double, price);
        QTEST(PriceToText(digits, price), "text");
    }

    void decimalSeparator_isRegional() {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        QCOMPARE(PriceToText(2, 25.5), QStringLiteral("25,50"));
        QCOMPARE(PriceToText(2, 1234567.891), QStringLiteral("1234567,89"));
        QLocale::setDefault(QLocale::c());
    }
};

QTEST_GUILESS_MAIN(TestPriceText)
#include "tst_pricetext.moc"
