#include "common/Codec.h"
#include "common/KorvexError.h"
#include "quik/TransactionWriter.h"
#include "support/TestSupport.h"

#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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
    int OpenPositions() {
        return Ws->Scalar(Ws->Trading(), "SELECT count(*) FROM tClientOpenPositions").toInt();
    }

private slots:
    void init() { StartRobot(false, true); }
    void cleanup() { StopRobot(); }

    void firstMarketBuy_lineJournalAndRecord() {
        W().WriteTransaction(Market(), AlertFor());
        QVERIFY(!QFileInfo::exists(Ws->TriPath())); // nothing reaches the file before the flush
        // The operator hears of the line once it is in the file, not before.
        QVERIFY(R->JournalTexts().filter("отправлена в Quik").isEmpty());
        W().FlushTransactions();
        QCOMPARE(
            R->JournalTexts().last(),
            QStringLiteral("Транзакция номер 1 [покупка 10 EESR по 5.176]  по счету 111 отправлена в Quik."));
        QCOMPARE(
            ReadBytes(Ws->TriPath()),
            QByteArray("TRANS_ID "
                       "=1;ACTION=NEW_ORDER;ACCOUNT=L01-00000F00;SECCODE=EESR;CLASSCODE=TQBR;CLIENT_CODE=111;"
                       "OPERATION=B;PRICE=5.176;STOPPRICE=5.176;Order_key=;Stop_Order_key=;QUANTITY=10\r\n"));
        QCOMPARE(R->Engine->Registry().NextTransId(), 2);
        QCOMPARE(
            Ws->Scalar(Ws->Trading(),
                       "SELECT trans_id || '/' || id_order || '/' || filled || '/' || code FROM tOrderNumber")
                .toString(),
            QStringLiteral("1/17/1/111"));
        QCOMPARE(R->Engine->StatusPanels()[3], QStringLiteral("Отправлено транзакций: 1/0/0"));
    }

    void twoAccounts_consecutiveNumbers_oneFlushInOrder_cp1251() {
        W().WriteTransaction(Market("111"), AlertFor());
        W().WriteTransaction(Market("Клиент"), AlertFor());
        W().FlushTransactions();
        const QByteArray bytes = ReadBytes(Ws->TriPath());
        QCOMPARE(bytes.count("\r\n"), 2);
        QVERIFY(bytes.startsWith("TRANS_ID =1;"));
        QVERIFY(bytes.contains("\r\nTRANS_ID =2;"));
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
        QCOMPARE(R->JournalTexts().last(),
                 QStringLiteral("Транзакция номер 1 [снятие заявки # 777] по счету 111 отправлена в Quik."));
        QCOMPARE(OpenPositions(), 0); // cancellations keep no position books
    }

    void openPositions_entryAddsExitDeletesAll_stopEntryAddsNone() {
        W().WriteTransaction(Market(), AlertFor("LE"));
        W().WriteTransaction(Market(), AlertFor("LE"));
        QCOMPARE(OpenPositions(), 2);
        QCOMPARE(Ws->Scalar(Ws->Trading(),
                            "SELECT Workspace || '|' || System || '|' || quantity FROM tClientOpenPositions")
                     .toString(),
                 QStringLiteral("Trend.orw|Breakout(20,2)|10"));
        TOrder stop = Market();
        stop.Action = "NEW_STOP_ORDER";
        W().WriteTransaction(stop, AlertFor("SE"));
        QCOMPARE(OpenPositions(), 2);
        TOmegaOrder other = AlertFor("LX");
        other.Interval = "1 min";
        W().WriteTransaction(Market(), other); // another interval: not this position
        QCOMPARE(OpenPositions(), 2);
        W().WriteTransaction(Market(), AlertFor("LX"));
        QCOMPARE(OpenPositions(), 0);
    }

    void flushFailure_keepsLinesPending_saysSoOnce_nextFlushWritesThem() {
        R->S().pathTRI = Ws->Path("missing/dir/t.tri");
        W().WriteTransaction(Market(), AlertFor());
        QVERIFY(!W().FlushTransactions());
        QVERIFY(!W().FlushTransactions());
        QCOMPARE(W().PendingLines.size(), 1);
        QCOMPARE(R->JournalTexts().filter("Не удалось записать в файл транзакций").size(), 1);
        R->S().pathTRI = Ws->TriPath();
        QVERIFY(W().FlushTransactions());
        QVERIFY(W().PendingLines.isEmpty());
        QVERIFY(ReadBytes(Ws->TriPath()).startsWith("TRANS_ID =1;"));
        QCOMPARE(R->JournalTexts().filter("снова доступен").size(), 1);
        // A line that waited longer than the retry period without reaching the file is given up.
        R->S().pathTRI = Ws->Path("missing/dir/t.tri");
        W().WriteTransaction(Market(), AlertFor());
        QVERIFY(!W().FlushTransactions());
        R->Clock.Set(R->Clock.Now().addSecs(31));
        R->S().pathTRI = Ws->TriPath();
        QVERIFY(W().FlushTransactions());
        QCOMPARE(ReadBytes(Ws->TriPath()).count("\r\n"), 1);
        QCOMPARE(R->JournalTexts().filter("Транзакция номер 2 не отправлена в Quik").size(), 1);
        // Given up means undone: its position, its row and its count are gone; the first stays.
        QCOMPARE(OpenPositions(), 1);
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT count(*) FROM tOrderNumber WHERE trans_id = 2").toInt(),
                 0);
        QCOMPARE(R->Engine->Writer().LinesSent, 1);
        QVERIFY(R->JournalTexts().filter("Транзакция номер 2 [").isEmpty());
    }

    // A field holding the separator or a line break would make QUIK read a line never meant; one
    // holding a character Windows-1251 has no byte for would reach it as another byte.
    void hostileField_refusesTheTransaction_nothingRecorded_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("says");
        QTest::newRow("semicolon in account") << "Account"
                                              << "L01;QUANTITY=1000"
                                              << "содержит \";\"";
        QTest::newRow("LF in client code") << "ClientCode"
                                           << "111\nTRANS_ID =10"
                                           << "управляющий символ U+000A";
        QTest::newRow("CR in sec code") << "SecCode"
                                        << "EESR\r"
                                        << "управляющий символ U+000D";
        QTest::newRow("NUL in class code") << "ClassCode" << QString(QChar(0)) + "TQBR"
                                           << "управляющий символ U+0000";
        QTest::newRow("zero-width space in account")
            << "Account" << QStringLiteral("L01\u200b") << "символ U+200B, которого нет в Windows-1251";
        QTest::newRow("zero-width space in sec code")
            << "SecCode" << QStringLiteral("\u200bEESR") << "символ U+200B, которого нет в Windows-1251";
        QTest::newRow("line separator in account") << "Account" << QStringLiteral("L01\u2028") << "U+2028";
        QTest::newRow("NEL in client code") << "ClientCode" << QStringLiteral("111\u0085") << "символ U+0085";
        QTest::newRow("BOM in account") << "Account" << QStringLiteral("\ufeffL01") << "U+FEFF";
        QTest::newRow("emoji in client code") << "ClientCode" << QStringLiteral("111\U0001F600") << "U+1F600";
    }
    void hostileField_refusesTheTransaction_nothingRecorded() {
        QFETCH(QString, field);
        QFETCH(QString, value);
        QFETCH(QString, says);
        TOrder o = Market();
        (field == "Account"      ? o.Account
         : field == "ClientCode" ? o.ClientCode
         : field == "SecCode"    ? o.SecCode
                                 : o.ClassCode) = value;
        QVERIFY_THROWS_EXCEPTION(ConversionError, W().WriteTransaction(o, AlertFor()));
        QVERIFY(W().PendingLines.isEmpty());
        QCOMPARE(OpenPositions(), 0);
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT count(*) FROM tOrderNumber").toInt(), 0);
        const QString why = TTransactionWriter::UnsafeField(o, R->S());
        QVERIFY2(why.contains(says), qPrintable(why));
        for (const QChar c : why)
            QVERIFY(c.unicode() >= 0x20 && Cp1251::Holds(c));
    }

    void partialWrite_finishesTheCutLine_neverWritesAByteTwice() {
        for (int i = 0; i < 3; ++i)
            W().WriteTransaction(Market(QString::number(i)), AlertFor());
        QByteArray expected;
        for (const QString& l : W().PendingLines)
            expected += Cp1251::Encode(l) + "\r\n";
        WriteBytes(Ws->TriPath(), "");
        // A child whose file-size limit lets only part of a line through, as a full disk would.
        const pid_t pid = fork();
        if (pid == 0) {
            signal(SIGXFSZ, SIG_IGN);
            rlimit small{150, RLIM_INFINITY};
            setrlimit(RLIMIT_FSIZE, &small);
            const bool first = W().FlushTransactions();
            const bool cut = W().PendingLines.size() == 3 && W().FirstLineWritten == 150;
            rlimit large{RLIM_INFINITY, RLIM_INFINITY};
            setrlimit(RLIMIT_FSIZE, &large);
            const bool second = W().FlushTransactions();
            _exit(!first && cut && second && W().PendingLines.isEmpty() ? 0 : 1);
        }
        int status = -1;
        waitpid(pid, &status, 0);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        QCOMPARE(ReadBytes(Ws->TriPath()), expected);
    }

    void dispatchFailure_rollsBackEveryRow_neverReusesANumber_norSendsTheLine() {
        Ws->Exec(Ws->Trading(), "ALTER TABLE tOrderNumber RENAME TO tOrderNumberAway");
        QVERIFY_THROWS_EXCEPTION(KorvexError, W().WriteTransaction(Market(), AlertFor()));
        QVERIFY(W().PendingLines.isEmpty());
        QCOMPARE(R->Engine->Registry().NextTransId(), 2);
        Ws->Exec(Ws->Trading(), "ALTER TABLE tOrderNumberAway RENAME TO tOrderNumber");
        W().WriteTransaction(Market(), AlertFor());
        W().FlushTransactions();
        QVERIFY(ReadBytes(Ws->TriPath()).startsWith("TRANS_ID =2;"));
        QCOMPARE(ReadBytes(Ws->TriPath()).count("\r\n"), 1);
        // A failing exit delete rolls back its tOrderNumber row too: no line, no row, no journal line.
        const int journal = R->JournalTexts().size();
        Ws->Exec(Ws->Trading(), "ALTER TABLE tClientOpenPositions RENAME TO away");
        QVERIFY_THROWS_EXCEPTION(KorvexError, W().WriteTransaction(Market(), AlertFor("LX")));
        // The exit failed before it was given a number.
        QCOMPARE(R->Engine->Registry().NextTransId(), 3);
        QCOMPARE(R->JournalTexts().size(), journal);
        QCOMPARE(Ws->Scalar(Ws->Trading(), "SELECT count(*) FROM tOrderNumber WHERE trans_id = 3").toInt(),
                 0);
        Ws->Exec(Ws->Trading(), "ALTER TABLE away RENAME TO tClientOpenPositions");
        W().WriteTransaction(Market(), AlertFor());
        W().FlushTransactions();
        const QString tri = ReadCp1251(Ws->TriPath());
        QCOMPARE(tri.count("TRANS_ID =2;"), 1);
        QCOMPARE(tri.count("TRANS_ID =3;"), 1);
    }

    void textsWithPercentDigits_reachTheLineAsTheyStand() {
        TOrder o = Market("C%1");
        o.Account = "L01%1X";
        W().WriteTransaction(o, AlertFor());
        W().FlushTransactions();
        QCOMPARE(
            ReadCp1251(Ws->TriPath()),
            QStringLiteral(
                "TRANS_ID =1;ACTION=NEW_ORDER;ACCOUNT=L01%1X;SECCODE=EESR;CLASSCODE=TQBR;CLIENT_CODE=C%1;"
                "OPERATION=B;PRICE=5.176;STOPPRICE=5.176;Order_key=;Stop_Order_key=;QUANTITY=10\r\n"));
        QCOMPARE(
            R->JournalTexts().last(),
            QStringLiteral("Транзакция номер 1 [покупка 10 EESR по 5.176]  по счету C%1 отправлена в Quik."));
    }
};

QTEST_GUILESS_MAIN(TestWriter)
#include "tst_writer.moc"
