// Reading 10 new result lines at the end of a large result file: a tick must cost what is new.
#include "quik/ResultReader.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

namespace {
double MicrosPerTick(int alreadyRead) {
    TTestWorkspace ws;
    TTestRobot r(ws);
    r.Connect();
    QByteArray bulk;
    for (int i = 0; i < alreadyRead; ++i)
        bulk += "TRANS_ID=" + QByteArray::number(i) +
                ";STATUS=2;TRANS_NAME=\"x\";DESCRIPTION=\"y\";ORDER_NUMBER=0;\r\n";
    WriteBytes(ws.TroPath(), bulk);
    TResultReader& reader = r.Engine->Reader();
    reader.actCheckTROExecute(); // the lines already read
    const int rounds = 20;
    qint64 total = 0;
    for (int k = 0; k < rounds; ++k) {
        QByteArray more;
        for (int i = 0; i < 10; ++i)
            more += "TRANS_ID=" + QByteArray::number(i) + ";STATUS=0;ORDER_NUMBER=7;\r\n";
        WriteBytes(ws.TroPath(), more, true);
        QElapsedTimer t;
        t.start();
        reader.actCheckTROExecute();
        total += t.nsecsElapsed();
    }
    return total / 1000.0 / rounds;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    const double small = MicrosPerTick(2000);
    const double large = MicrosPerTick(200000);
    std::printf("result reader, 10 new lines per tick\n");
    std::printf("  %8s lines already read: %9.1f us/tick\n", "2,000", small);
    std::printf("  %8s lines already read: %9.1f us/tick\n", "200,000", large);
    return 0;
}
