#include "pipeline/Records.h"

void ClearOmegaOrder(TOmegaOrder& a) {
    const QDateTime keep = a.TimeFilled;
    a = TOmegaOrder();
    a.TimeFilled = keep;
}

void ClearOrder(TOrder& o) {
    o = TOrder();
}
