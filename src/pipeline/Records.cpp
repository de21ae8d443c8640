#include "pipeline/Records.h"

void ClearOmegaOrder(TOmegaOrder& a) {
    QVariant keep = std::move(a.TimeFilledValue);
    a = TOmegaOrder();
    a.TimeFilledValue = std::move(keep);
}

void ClearOrder(TOrder& o) {
    o = TOrder();
}

QString AlertRef(const TOmegaOrder& alert) {
    return QString::number(alert.ID) +
           (alert.Filled ? QStringLiteral(" (FilledOrders)") : QStringLiteral(" (ActiveOrders)"));
}
