#include "quik/OrderStage.h"

namespace {
using S = TOrderStage;
using E = TOrderEvent;

struct TMove {
    S From;
    E Event;
    S To;
};

// Forward only. An answer QUIK repeats, or one that arrives after a later one (a status 0 after 3),
// finds no row here and changes nothing.
constexpr TMove Moves[] = {
    {S::Recorded, E::LineWritten, S::InFile},
    {S::Recorded, E::LineGivenUp, S::GivenUp},

    {S::InFile, E::SentToServer, S::AtServer},
    {S::InFile, E::AcceptedLive, S::Accepted},
    {S::InFile, E::Executed, S::Done},
    {S::InFile, E::Refused, S::Refused},
    {S::AtServer, E::AcceptedLive, S::Accepted},
    {S::AtServer, E::Executed, S::Done},
    {S::AtServer, E::Refused, S::Refused},

    {S::Accepted, E::KillSent, S::CancelPending},
    {S::Accepted, E::FillReported, S::Filled},
    {S::CancelPending, E::KillDone, S::Cancelled},
    // QUIK refused the cancellation (the order may have filled meanwhile): the order is live as far
    // as the robot knows, and "pull all" may try again.
    {S::CancelPending, E::KillFailed, S::Accepted},
    {S::CancelPending, E::FillReported, S::Filled},
};
} // namespace

std::optional<TOrderStage> NextStage(TOrderStage stage, TOrderEvent event) {
    for (const TMove& m : Moves)
        if (m.From == stage && m.Event == event) return m.To;
    return std::nullopt;
}

QString StageText(TOrderStage stage) {
    switch (stage) {
    case S::Recorded:
        return QStringLiteral("записана");
    case S::InFile:
        return QStringLiteral("в файле транзакций");
    case S::AtServer:
        return QStringLiteral("на сервере Quik");
    case S::Accepted:
        return QStringLiteral("принята");
    case S::Refused:
        return QStringLiteral("отвергнута");
    case S::GivenUp:
        return QStringLiteral("не отправлена");
    case S::CancelPending:
        return QStringLiteral("снимается");
    case S::Cancelled:
        return QStringLiteral("снята");
    case S::Filled:
        return QStringLiteral("исполнена");
    case S::Done:
        return QStringLiteral("выполнена");
    }
    return QString();
}
