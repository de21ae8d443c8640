#include "quik/LinkMonitor.h"

#include "common/FileNames.h"
#include "common/Journal.h"
#include "notify/MailNotifier.h"
#include "settings/Settings.h"

#include <QFileInfo>

TLinkMonitor::TLinkMonitor(const TPipelineContext& ctx, TMailNotifier& mail) : Ctx(ctx), Mail(mail) {}

qint32 TLinkMonitor::GetInfoLogSize() {
    const QString path = LocalFilePath(Ctx.Settings.pathInfoLog);
    qint32 result = 0;
    try {
        // Only the file's attributes are asked for: QUIK keeps the log open for writing.
        const QFileInfo fi(path);
        if (fi.exists() && fi.isFile())
            result = static_cast<qint32>(static_cast<quint32>(fi.size() & 0xFFFFFFFF));
    } catch (const std::exception&) {
        Ctx.Journal.AddJournalLine(QStringLiteral("Невозможно открыть файл %1").arg(path));
        result = 0;
    }
    Ctx.Journal.FlushJournal();
    return result;
}

void TLinkMonitor::timInfoLogTimer() {
    if (Ctx.Settings.QuikConnect) {
        const qint32 size = GetInfoLogSize();
        if (size == 0) QuikLinkState = Unknown;
        if (size != LastInfoLogSize) {
            if (QuikLinkState == Broken) {
                Ctx.Journal.AddJournalLine(QStringLiteral("Соединение установлено"));
                if (Ctx.Settings.SendQuikConnect)
                    Mail.SendNotification(QStringLiteral("Соединение установлено"));
            }
            QuikLinkState = Connected;
        } else {
            if (QuikLinkState == Connected) {
                Ctx.Journal.AddJournalLine(QStringLiteral("Соединение разорвано"));
                if (Ctx.Settings.SendQuikConnect)
                    Mail.SendNotification(QStringLiteral("Соединение разорвано"));
            }
            QuikLinkState = Broken;
        }
        LastInfoLogSize = size;
    }
    if (OnStatusChanged) OnStatusChanged();
    Ctx.Journal.FlushJournal();
}
