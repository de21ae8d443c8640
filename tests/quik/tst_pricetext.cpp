#include "quik/PriceText.h"
#include "support/TestSupport.h"

#include <QTest>
#include <cmath>
#include <limits>

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

    void unwritablePrices_giveNoText_data() {
        QTest::addColumn<int>("digits");
        QTest::addColumn<double>("price");
        const double inf = std::numeric_limits<double>::infinity();
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("NaN") << 2 << nan;
        QTest::newRow("NaN, tens") << -1 << nan;
        QTest::newRow("infinity") << 0 << inf;
        QTest::newRow("minus infinity, fifties") << -5 << -inf;
        QTest::newRow("1e300 in tens") << -1 << 1e300;
        QTest::newRow("-1e300 in tens") << -1 << -1e300;
        QTest::newRow("just past 64 bits in tens") << -1 << 9.3e18;
        QTest::newRow("largest double, coarsest step")
            << std::numeric_limits<qint32>::min() << std::numeric_limits<double>::max();
    }
    void unwritablePrices_giveNoText() {
        QFETCH(int, digits);
        QFETCH(double, price);
        QCOMPARE(TryPriceToText(digits, price), std::nullopt);
        QCOMPARE(PriceToText(digits, price), QString());
    }

    void extremeDigits_data() {
        QTest::addColumn<int>("digits");
        QTest::addColumn<double>("price");
        QTest::addColumn<QString>("text");
        QTest::newRow("largest tens in 64 bits") << -1 << 9.2e18 << "9200000000000000000";
        QTest::newRow("coarsest step") << std::numeric_limits<qint32>::min() << 1e12 << "1009317314560";
        QTest::newRow("decimals capped at 30") << 1000 << 0.5 << "0.500000000000000000000000000000";
        QTest::newRow("huge with decimals") << 2 << 1e20 << "100000000000000000000.00";
    }
    void extremeDigits() {
        QLocale::setDefault(QLocale::c());
        QFETCH(int, digits);
        QFETCH(double, price);
        QTEST(TryPriceToText(digits, price).value_or("none"), "text");
    }

    // Whatever the digits and the price, the text is either absent or the price rounded to its step:
    // never a number far from it (1e300 in tens once came out as 0).
    void anyDigitsAndPrice_textIsAbsentOrNearThePrice() {
        QLocale::setDefault(QLocale::c());
        const double inf = std::numeric_limits<double>::infinity();
        const double prices[] = {std::numeric_limits<double>::quiet_NaN(),
                                 inf,
                                 -inf,
                                 1e300,
                                 -1e300,
                                 std::numeric_limits<double>::denorm_min(),
                                 0.0,
                                 -0.0,
                                 1234.5,
                                 -0.004,
                                 9.2e18,
                                 -9.3e18,
                                 4.6e20};
        for (int digits = -1000; digits <= 1000; ++digits)
            for (double price : prices) {
                const auto text = TryPriceToText(digits, price);
                if (!text) {
                    QVERIFY2(!std::isfinite(price) || (digits < 0 && std::fabs(price) > 9e18),
                             qPrintable(QStringLiteral("%1 at %2 digits").arg(price).arg(digits)));
                    continue;
                }
                bool ok = false;
                const double back = text->toDouble(&ok);
                const double halfStep =
                    digits < 0 ? 5.0 * -digits : 0.5 * std::pow(10.0, -std::min(digits, 30));
                QVERIFY2(
                    ok && std::fabs(back - price) <= halfStep + std::fabs(price) * 1e-15,
                    qPrintable(QStringLiteral("%1 at %2 digits gave %3").arg(price).arg(digits).arg(*text)));
            }
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
