#pragma once

#include <QByteArray>
#include <QString>

// The five values of one QUIK result line, defaults applied.
struct TResultLine {
    QString TRANS_ID;
    QString STATUS = QStringLiteral("-1");
    QString TRANS_NAME = QStringLiteral(" \"\" ");
    QString DESCRIPTION = QStringLiteral(" \"\" ");
    QString ORDER_NUMBER = QStringLiteral("0");
};

// Cuts a line at every ";" and "=" and takes each of the five keys from the piece after it. The text
// after the last separator is not taken.
TResultLine ParseResultLine(const QString& line);

// A text value as stored: a value written as a double-quoted literal loses its enclosing quotes
// (doubled quotes inside become one).
QString ResultText(const QString& value);

// The text of one line of QUIK's result file. QUIK writes Windows-1251; a line that is valid UTF-8
// and holds letters beyond ASCII (a terminal set to write UTF-8) is read as UTF-8, and `utf8` is then
// set. A UTF-8 byte order mark at the start of the line is passed over.
QString DecodeResultLine(const QByteArray& bytes, bool* utf8 = nullptr);
