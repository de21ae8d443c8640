#pragma once

#include "pipeline/PipelineContext.h"

#include <QString>
#include <functional>

class TMailNotifier;

// Tells from the growth of QUIK's info.log whether QUIK is connected to its server.
class TLinkMonitor {
public:
    TLinkMonitor(const TPipelineContext& ctx, TMailNotifier& mail);

    enum : quint8 { Broken = 0, Connected = 1, Unknown = 255 };
    quint8 QuikLinkState = Unknown;
    qint32 LastInfoLogSize = 0;

    std::function<void()> OnStatusChanged;

    // The size of info.log in bytes (low 32 bits); 0 when the file cannot be had. Never reads it.
    qint32 GetInfoLogSize();
    // One check: compares the size with the last one and journals (and mails) each change.
    void timInfoLogTimer();

private:
    TPipelineContext Ctx;
    TMailNotifier& Mail;
};
