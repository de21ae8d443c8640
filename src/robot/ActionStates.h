#pragma once

// Which commands the operator can use right now. The engine owns these; the window mirrors them.
struct TActionStates {
    bool actStartWatch = false;
    bool actStopWatch = false;
    bool actSendNewOrderManual = false;
    bool actSendKillOrderManual = false;
};
