#include "common/Codec.h"
#include "common/KorvexError.h"
#include "quik/TransactionWriter.h"
#include "support/TestSupport.h"

#include <QTest>

class TestWriter : public QObject, TRobotFixture {
    Q_OBJECT

    TTransactionWriter& W() { return R->Engine->Writer(); }

    static TOrder Market(const QString& client = "111") {
        TOrder o;
        o.Action = "NEW_ORDER";
        o.Account = "L01-00000F00";
        o.SecCode = "EESR";
        o.ClassCode = "TQBR";
        o.ClientCode = client;
        o.Operation = "B";
        o.Price = 5.176;
        o.StopPrice = 5.176;
        o.Quantity = 10;
        o.Digits = 3;
        o.Ticker = "EESR";
        o.Filled = true;
        o.IdOrder = 17;
        o.OrderType = "LE";
        return o;
    }
    static TOmegaOrder AlertFor(const QString& type = "LE") {
        TOmegaOrder a;
        a.ID = 17;
        a.Symbol = "EESR";
        a.OrderType = type;
        a.System = "Breakout(20,2)";
        a.Workspace = "C:\\Omega\\Trend.orw";
        a.Signal = "BO";
        a.Interval = "5 min";
        a.Filled = true;
        return a;
    }
    int OpenPositions() { return Ws->Scalar(Ws->Trading(), "SELECT count(*) FROM tClientOpenPositions").toInt(); }

private slots:
    void init() {
        StartRobot(false, true);
    }
    void cleanup() { StopRobot(); }

    void firstMarketBuy_lineJournalAndRecord() {
        W().WriteTransaction(Market(), AlertFor());
        QCOMPARE(R->JournalTexts().last(), QStringLiteral("Транзакция номер 0 [B 10 EESR at 5.176]  по счету 111 отправлена в Quik."));
        QVERIFY(!QFileInfo::exists(Ws->TriPath()));  // nothing reaches the file before the flush
        W().FlushTransactions();
        QCOMPARE(ReadBytes(Ws->TriPath()),
                 QByteArray("TRANS_ID =0;ACTION=NEW_ORDER;ACCOUNT=L01-00000F00;SECCODE=EESR;CLASSCODE=TQBR;CLIENT_CODE=111;"
                            "OPERATION=B;PRICE=5.176;STOPPRICE=5.176;Order_key=;Stop_Order_key=;QUANTITY=10\r\n"));
        QCOMPARE(W().TransSent, 1);
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT trans_id || '/' || id_order || '/' || filled || '/' || code FROM tOrderNumber").toString(),
                 QStringLiteral("0/17/1/111"));
        QCOMPARE(R->Engine->StatusPanels()[3], QStringLiteral("Отправлено транзакций: 1/0/0"));
    }

    void twoAccounts_consecutiveNumbers_oneFlushInOrder_cp1251() {
        W().WriteTransaction(Market("111"), AlertFor());
        W().WriteTransaction(Market("Клиент"), AlertFor());
        W().FlushTransactions();
        const QByteArray bytes = ReadBytes(Ws->TriPath());
        QCOMPARE(bytes.count("\r\n"), 2);
        QVERIFY(bytes.startsWith("TRANS_ID =0;"));
        QVERIFY(bytes.contains("\r\nTRANS_ID =1;"));
        QVERIFY(bytes.contains(Cp1251::Encode(QStringLiteral("CLIENT_CODE=Клиент;"))));
        QVERIFY(W().PendingLines.isEmpty());
        // An existing file is appended to, never truncated.
        W().WriteTransaction(Market(), AlertFor());
        W().FlushTransactions();
        QVERIFY(ReadBytes(Ws->TriPath()).startsWith(bytes));
        QCOMPARE(ReadBytes(Ws->TriPath()).count("\r\n"), 3);
    }

    void stopOrderCancellation_carriesTheNumberInBothKeys() {
        TOrder o = Market();
        o.Action = "KILL_STOP_ORDER";
        o.OrderKey = "777";
        o.StopOrderKey = "777";
        W().WriteTransaction(o, AlertFor());
        W().FlushTransactions();
        QVERIFY(ReadCp1251(Ws->TriPath()).contains("Order_key=777;Stop_Order_key=777;QUANTITY=10\r\n"));
        QCOMPARE(R->JournalTexts().last(), QStringLiteral("Транзакция номер 0 [снятие заявки # 777] по счету 111 отправлена в Quik."));
        QCOMPARE(OpenPositions(), 0);  // cancellations keep no position books
    }

    void openPositions_entryAddsExitDeletesAll_stopEntryAddsNone() {
        W().WriteTransaction(Market(), AlertFor("LE"));
        W().WriteTransaction(Market(), AlertFor("LE"));
        QCOMPARE(OpenPositions(), 2);
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT Workspace || '|' || System || '|' || quantity FROM tClientOpenPositions").toString(),
                 QStringLiteral("Trend.orw|Breakout(20,2)|10"));
        TOrder stop = Market();
        stop.Action = "NEW_STOP_ORDER";
        W().WriteTransaction(stop, AlertFor("SE"));
        QCOMPARE(OpenPositions(), 2);
        TOmegaOrder other = AlertFor("LX");
        other.Interval = "1 min";
        W().WriteTransaction(Market(), other);  // another interval: not this position
        QCOMPARE(OpenPositions(), 2);
        W().WriteTransaction(Market(), AlertFor("LX"));
        QCOMPARE(OpenPositions(), 0);
    }

    void flushFailure_keepsLinesPending_nextFlushWritesThem() {
        R->S().pathTRI = Ws->Path("missing/dir/t.tri");
        W().WriteTransaction(Market(), AlertFor());
        QVERIFY_THROWS_EXCEPTION(IoError, W().FlushTransactions());
        QCOMPARE(W().PendingLines.size(), 1);
        R->S().pathTRI = Ws->TriPath();
        W().FlushTransactions();
        QVERIFY(W().PendingLines.isEmpty());
        QVERIFY(ReadBytes(Ws->TriPath()).startsWith("TRANS_ID =0;"));
    }

    void recordingFailure_neverReusesANumber_norSendsAnUnrecordedLine() {
        Ws->Exec(Ws->Trading(), "ALTER TABLE tOrderNumber RENAME TO tOrderNumberAway");
        QVERIFY_THROWS_EXCEPTION(KorvexError, W().WriteTransaction(Market(), AlertFor()));
        QVERIFY(W().PendingLines.isEmpty());
        QCOMPARE(W().TransSent, 1);
        Ws->Exec(Ws->Trading(), "ALTER TABLE tOrderNumberAway RENAME TO tOrderNumber");
        W().WriteTransaction(Market(), AlertFor());
        W().FlushTransactions();
        QVERIFY(ReadBytes(Ws->TriPath()).startsWith("TRANS_ID =1;"));
        QCOMPARE(ReadBytes(Ws->TriPath()).count("\r\n"), 1);
        // A failing exit delete ends the dispatch after the line was recorded: it is sent once, later.
        Ws->Exec(Ws->Trading(), "ALTER TABLE tClientOpenPositions RENAME TO away");
        QVERIFY_THROWS_EXCEPTION(KorvexError, W().WriteTransaction(Market(), AlertFor("LX")));
        QCOMPARE(W().TransSent, 3);
        Ws->Exec(Ws->Trading(), "ALTER TABLE away RENAME TO tClientOpenPositions");
        W().WriteTransaction(Market(), AlertFor());
        W().FlushTransactions();
        const QString tri = ReadCp1251(Ws->TriPath());
        QCOMPARE(tri.count("TRANS_ID =2;"), 1);
        QCOMPARE(tri.count("TRANS_ID =3;"), 1);
    }
};

QTEST_GUILESS_MAIN(TestWriter)
#include "tst_writer.moc"
