#pragma once

#include <QString>

// Every setting of the robot, one field per key of Korvex.ini, named as the key. Edit fields stay
// text (numbers included) and are converted where they are used; the three choice groups are indexes
// (-1: nothing chosen); check boxes are Booleans. Every part reads the field at the moment of use.
struct TSettings {
    // [Position]
    int PositionSize = 0;
    QString FixVol = QStringLiteral("30000");
    QString Part = QStringLiteral("20");
    int rgpFilled = 1;
    QString time1 = QStringLiteral("10:30:00");
    QString time2 = QStringLiteral("17:45:00");
    bool ExitQty = true;
    int rgpSingleMulti = 0;
    // [Quik]
    QString pathTRI = QStringLiteral("C:\\Program Files\\QUIK\\Trans\\Trans.tri");
    QString pathTRO = QStringLiteral("C:\\Program Files\\QUIK\\Trans\\Trans.tro");
    QString pathInfoLog = QStringLiteral("C:\\Program Files\\QUIK\\info.log");
    QString AccountMicex = QStringLiteral("L01-00000F00");
    QString AccountFORTS = QStringLiteral("SPB");
    QString intTable = QStringLiteral("1");
    QString QuikConnectTimeOut = QStringLiteral("60");
    QString Code = QStringLiteral("111");
    QString Alerts = QStringLiteral("C:\\Program Files\\Omega Research\\MyWork\\Alerts11.mdb");
    QString QuikData = QStringLiteral("C:\\Korvex\\Data\\dbQuikData.mdb");
    bool Connect = false;
    bool QuikConnect = false;
    // Run the watch pass and the result reading as soon as the alerts database or the result file
    // changes, not only on the table timer.
    bool WakeOnChange = true;
    // Seconds an alert that could not be sent (a database or file refused) is tried again before it
    // is given up: a late signal is worse than none.
    QString RetryPeriod = QStringLiteral("30");
    // [Mail]
    QString SMTP = QStringLiteral("localhost");
    QString Port = QStringLiteral("25");
    QString User = QStringLiteral("User");
    QString Password;
    bool Auten = false;
    // Connection security: 0 none (plain text), 1 STARTTLS, 2 TLS from the first byte. Kept as read:
    // any other value is no choice at all, never the nearest one.
    int Security = 0;
    // A certificate file (PEM or DER) trusted beside the system's authorities: a company's own
    // authority, or the server's own certificate. Empty: the system's authorities only.
    QString TrustedCertificate;
    QString FromName = QStringLiteral("User");
    QString FromAddress = QStringLiteral("korvex@localhost");
    QString Email1 = QStringLiteral("korvex@localhost");
    QString Email2 = QStringLiteral("sms-gateway@localhost");
    bool SendTrans_id = false;
    bool SendTrans_done = false;
    bool SendQuikConnect = false;
    // [Risk] guard rails; 0 means no limit.
    QString MaxLots = QStringLiteral("0");           // most lots in one order
    QString MaxMoney = QStringLiteral("0");          // most money in one order: lots x lot size x price
    QString MaxTransPerMinute = QStringLiteral("0"); // more transactions in a minute stop the watching
    // [Operator]
    // A manual send or cancel first shows what goes out and to how many accounts.
    bool ConfirmManualOrders = true;
};
