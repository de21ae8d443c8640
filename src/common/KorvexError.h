#pragma once

#include <QString>
#include <stdexcept>

// An error that no operation catches where it happens. It travels up to the event boundary (a timer
// tick, an action, a dialog button), where the general error report shows its text to the operator.
class KorvexError : public std::runtime_error {
public:
    explicit KorvexError(const QString& message)
        : std::runtime_error(message.toStdString()), Message(message) {}
    QString Message;
};

// A value that does not convert (a setting, a quantity word, an order number).
class ConversionError : public KorvexError {
public:
    using KorvexError::KorvexError;
};

// A file or database operation the system refused.
class IoError : public KorvexError {
public:
    using KorvexError::KorvexError;
};

// A database refused a statement (locked, closed, full). The operation may succeed when tried again.
class StoreError : public KorvexError {
public:
    using KorvexError::KorvexError;
};

// The text of any exception, as the general error report shows it.
inline QString ErrorText(const std::exception& e) {
    if (auto k = dynamic_cast<const KorvexError*>(&e)) return k->Message;
    return QString::fromLocal8Bit(e.what());
}
