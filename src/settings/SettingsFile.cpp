#include "settings/SettingsFile.h"

#include "common/Codec.h"
#include "common/KorvexError.h"
#include "common/Regional.h"

#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <variant>

namespace {

// Choice: an index clamped into -1..LastChoice. Integer: a whole number kept as read, for a value
// whose user refuses what it does not know rather than taking the nearest choice.
enum class Kind { Text, Choice, Integer, Boolean, Password };

struct KeyDef {
    const char* Section;
    const char* Key;
    Kind kind;
    std::variant<QString TSettings::*, int TSettings::*, bool TSettings::*> Field;
    int LastChoice = 0;
};

const std::vector<KeyDef>& Keys() {
    static const std::vector<KeyDef> keys = {
        {"Position", "PositionSize", Kind::Choice, &TSettings::PositionSize, 4},
        {"Position", "FixVol", Kind::Text, &TSettings::FixVol},
        {"Position", "Part", Kind::Text, &TSettings::Part},
        {"Position", "rgpFilled", Kind::Choice, &TSettings::rgpFilled, 1},
        {"Position", "time1", Kind::Text, &TSettings::time1},
        {"Position", "time2", Kind::Text, &TSettings::time2},
        {"Position", "ExitQty", Kind::Boolean, &TSettings::ExitQty},
        {"Position", "rgpSingleMulti", Kind::Choice, &TSettings::rgpSingleMulti, 1},
        {"Quik", "pathTRI", Kind::Text, &TSettings::pathTRI},
        {"Quik", "pathTRO", Kind::Text, &TSettings::pathTRO},
        {"Quik", "pathInfoLog", Kind::Text, &TSettings::pathInfoLog},
        {"Quik", "AccountMicex", Kind::Text, &TSettings::AccountMicex},
        {"Quik", "AccountFORTS", Kind::Text, &TSettings::AccountFORTS},
        {"Quik", "intTable", Kind::Text, &TSettings::intTable},
        {"Quik", "QuikConnectTimeOut", Kind::Text, &TSettings::QuikConnectTimeOut},
        {"Quik", "Code", Kind::Text, &TSettings::Code},
        {"Quik", "Alerts", Kind::Text, &TSettings::Alerts},
        {"Quik", "QuikData", Kind::Text, &TSettings::QuikData},
        {"Quik", "Connect", Kind::Boolean, &TSettings::Connect},
        {"Quik", "QuikConnect", Kind::Boolean, &TSettings::QuikConnect},
        {"Quik", "RetryPeriod", Kind::Text, &TSettings::RetryPeriod},
        {"Quik", "WakeOnChange", Kind::Boolean, &TSettings::WakeOnChange},
        {"Mail", "SMTP", Kind::Text, &TSettings::SMTP},
        {"Mail", "Port", Kind::Text, &TSettings::Port},
        {"Mail", "User", Kind::Text, &TSettings::User},
        {"Mail", "Password", Kind::Password, &TSettings::Password},
        {"Mail", "Auten", Kind::Boolean, &TSettings::Auten},
        {"Mail", "Security", Kind::Integer, &TSettings::Security},
        {"Mail", "TrustedCertificate", Kind::Text, &TSettings::TrustedCertificate},
        {"Mail", "FromName", Kind::Text, &TSettings::FromName},
        {"Mail", "FromAddress", Kind::Text, &TSettings::FromAddress},
        {"Mail", "Email1", Kind::Text, &TSettings::Email1},
        {"Mail", "Email2", Kind::Text, &TSettings::Email2},
        {"Mail", "SendTrans_id", Kind::Boolean, &TSettings::SendTrans_id},
        {"Mail", "SendTrans_done", Kind::Boolean, &TSettings::SendTrans_done},
        {"Mail", "SendQuikConnect", Kind::Boolean, &TSettings::SendQuikConnect},
        {"Risk", "MaxLots", Kind::Text, &TSettings::MaxLots},
        {"Risk", "MaxMoney", Kind::Text, &TSettings::MaxMoney},
        {"Risk", "MaxTransPerMinute", Kind::Text, &TSettings::MaxTransPerMinute},
        {"Operator", "ConfirmManualOrders", Kind::Boolean, &TSettings::ConfirmManualOrders},
    };
    return keys;
}

// Defaults are the values of a freshly made settings object; the same object gives every default.
const TSettings& Defaults() {
    static const TSettings d;
    return d;
}

QString DefaultText(const KeyDef& k) {
    if (auto p = std::get_if<QString TSettings::*>(&k.Field)) return Defaults().*(*p);
    if (auto p = std::get_if<int TSettings::*>(&k.Field)) return QString::number(Defaults().*(*p));
    return Defaults().*(std::get<bool TSettings::*>(k.Field)) ? QStringLiteral("1") : QStringLiteral("0");
}

int ReadInteger(const QString& text) {
    auto v = Regional::ParseInteger(text);
    if (!v || *v < INT_MIN || *v > INT_MAX)
        throw ConversionError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return static_cast<int>(*v);
}

bool ReadBoolean(const QString& text) {
    if (auto v = Regional::ParseInteger(text)) return *v != 0;
    if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) return true;
    if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) return false;
    throw ConversionError(QStringLiteral("'%1' is not a valid boolean value").arg(text));
}

constexpr int MaxValueLength = 2047;

// A password the scrambled line cannot hold whole: "ю" (0xFE) becomes a zero byte that ends the value,
// a scrambled line break splits the line, blanks at either end are trimmed by the reader, and a letter
// without a Windows-1251 byte is lost. Such a password is kept beside it, its UTF-8 bytes scrambled and
// written in hex; every other password stays in the one line as always.
const char* const PasswordHexKey = "PasswordHex";

bool LineHoldsPassword(const QString& password, const QByteArray& scrambled) {
    if (Cp1251::Decode(Cp1251::Encode(password)) != password) return false;
    if (scrambled.contains('\0') || scrambled.contains('\r') || scrambled.contains('\n')) return false;
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    return scrambled.isEmpty() || (!blank(scrambled.front()) && !blank(scrambled.back()));
}

} // namespace

QByteArray ScramblePassword(const QByteArray& text, bool store) {
    QByteArray out = text;
    for (char& c : out) {
        auto b = static_cast<unsigned char>(c);
        c = static_cast<char>(store ? static_cast<unsigned char>(b + 2) : static_cast<unsigned char>(b - 2));
    }
    return out;
}

QStringList TSettingsFile::KeyOrder() {
    QStringList out;
    for (const auto& k : Keys())
        out << QStringLiteral("%1/%2").arg(QLatin1String(k.Section), QLatin1String(k.Key));
    return out;
}

QStringList TSettingsFile::Load(TSettings& s) const {
    CSimpleIniA ini;
    QFile f(FilePath);
    QByteArray data;
    if (f.open(QIODevice::ReadOnly)) data = f.readAll();
    if (!data.isEmpty()) ini.LoadData(data.constData(), static_cast<size_t>(data.size()));

    QStringList unread;
    for (const auto& k : Keys()) {
        const char* raw = ini.GetValue(k.Section, k.Key, nullptr);
        QByteArray bytes = raw ? QByteArray(raw).left(MaxValueLength) : QByteArray();
        if (k.kind == Kind::Password) {
            const char* hex = ini.GetValue(k.Section, PasswordHexKey, nullptr);
            QString& password = s.*(std::get<QString TSettings::*>(k.Field));
            if (hex && *hex)
                password = QString::fromUtf8(ScramblePassword(QByteArray::fromHex(hex), false));
            else
                password = raw ? Cp1251::Decode(ScramblePassword(bytes, false)) : QString();
            continue;
        }
        const QString text = raw ? Cp1251::Decode(bytes) : DefaultText(k);
        try {
            switch (k.kind) {
            case Kind::Text:
                s.*(std::get<QString TSettings::*>(k.Field)) = text;
                break;
            case Kind::Choice: {
                int v = ReadInteger(text);
                if (v < -1) v = -1;
                if (v > k.LastChoice) v = k.LastChoice;
                s.*(std::get<int TSettings::*>(k.Field)) = v;
                break;
            }
            case Kind::Integer:
                s.*(std::get<int TSettings::*>(k.Field)) = ReadInteger(text);
                break;
            case Kind::Boolean:
                s.*(std::get<bool TSettings::*>(k.Field)) = ReadBoolean(text);
                break;
            case Kind::Password:
                break;
            }
        } catch (const ConversionError& e) {
            // One key that does not read must not leave the keys after it (the guards among them)
            // unread: it takes its default, and the operator is told which line to correct.
            QString taken;
            if (k.kind == Kind::Integer) {
                // The connection's protection is never guessed: no choice, which the mail refuses.
                s.*(std::get<int TSettings::*>(k.Field)) = -1;
                taken = QStringLiteral("значение не выбрано (-1), выберите его в настройках");
            } else if (auto p = std::get_if<int TSettings::*>(&k.Field)) {
                s.*(*p) = Defaults().*(*p);
                taken = QStringLiteral("взято значение по умолчанию ") + QString::number(Defaults().*(*p));
            } else {
                const bool b = Defaults().*(std::get<bool TSettings::*>(k.Field));
                s.*(std::get<bool TSettings::*>(k.Field)) = b;
                taken = QStringLiteral("взято значение по умолчанию ") +
                        (b ? QStringLiteral("-1") : QStringLiteral("0"));
            }
            unread << SettingsValueError(FilePath, QLatin1String(k.Section), QLatin1String(k.Key),
                                         e.Message) +
                          QStringLiteral("; ") + taken + QLatin1Char('.');
        }
    }
    return unread;
}

QString SettingsValueError(const QString& path, const QString& section, const QString& key,
                           const QString& error) {
    return QStringLiteral("%1, [%2] %3: %4").arg(QDir::toNativeSeparators(path), section, key, error);
}

void TSettingsFile::Save(const TSettings& s) const {
    const QString unableToWrite = QStringLiteral("Unable to write to %1").arg(FilePath);
    CSimpleIniA ini;
    ini.SetSpaces(false);
    QFile existing(FilePath);
    if (existing.exists()) {
        if (!QFileInfo(FilePath).isWritable() || !existing.open(QIODevice::ReadOnly))
            throw IoError(unableToWrite);
        QByteArray data = existing.readAll();
        existing.close();
        if (!data.isEmpty()) ini.LoadData(data.constData(), static_cast<size_t>(data.size()));
    }
    for (const auto& k : Keys()) {
        QByteArray value;
        if (auto p = std::get_if<QString TSettings::*>(&k.Field)) {
            value = Cp1251::Encode(s.*(*p));
            if (k.kind == Kind::Password) {
                value = ScramblePassword(value, true);
                if (LineHoldsPassword(s.*(*p), value)) {
                    ini.Delete(k.Section, PasswordHexKey);
                } else {
                    ini.SetValue(k.Section, PasswordHexKey,
                                 ScramblePassword((s.*(*p)).toUtf8(), true).toHex().constData());
                    value.clear();
                }
            }
        } else if (auto p = std::get_if<int TSettings::*>(&k.Field)) {
            value = QByteArray::number(s.*(*p));
        } else {
            value = s.*(std::get<bool TSettings::*>(k.Field)) ? "-1" : "0";
        }
        ini.SetValue(k.Section, k.Key, value.constData());
    }
    std::string out;
    if (ini.Save(out) < 0) throw IoError(unableToWrite);
    QByteArray bytes = QByteArray::fromStdString(out);
    bytes.replace("\r\n", "\n");
    bytes.replace("\n", "\r\n");
    // Written through a temporary file and renamed into place, so a failure never leaves half a file.
    QSaveFile f(FilePath);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit())
        throw IoError(unableToWrite);
}
