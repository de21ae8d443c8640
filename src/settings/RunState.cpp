#include "settings/RunState.h"

#include <QFile>
#include <QSaveFile>

void TRunState::Load() {
    Alerts.clear();
    LastHandled.clear();
    Day.clear();
    LastTransId = -1;
    QFile f(FilePath);
    if (!f.open(QIODevice::ReadOnly)) return;
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) continue;
        const QString key = line.left(eq), value = line.mid(eq + 1);
        if (key == QLatin1String("Alerts")) {
            Alerts = value;
        } else if (key == QLatin1String("Day")) {
            Day = value;
        } else if (key == QLatin1String("LastTransId")) {
            bool ok = false;
            const qint64 id = value.toLongLong(&ok);
            if (ok) LastTransId = id;
        } else {
            bool ok = false;
            const qint64 id = value.toLongLong(&ok);
            if (ok) LastHandled.insert(key, id);
        }
    }
}

bool TRunState::Save() const {
    QSaveFile f(FilePath);
    if (!f.open(QIODevice::WriteOnly)) return false;
    QByteArray text = "[LastHandled]\r\nAlerts=" + Alerts.toUtf8() + "\r\n";
    for (auto it = LastHandled.cbegin(); it != LastHandled.cend(); ++it)
        text += it.key().toUtf8() + '=' + QByteArray::number(it.value()) + "\r\n";
    if (!Day.isEmpty())
        text += "[Transactions]\r\nDay=" + Day.toUtf8() +
                "\r\nLastTransId=" + QByteArray::number(LastTransId) + "\r\n";
    f.write(text);
    return f.commit();
}
