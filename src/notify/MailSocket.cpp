#include "notify/MailSocket.h"

#include <QtGlobal>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace MailNet {

namespace {

// The few calls that differ between Winsock and the POSIX sockets.
#ifdef Q_OS_WIN
using TNative = SOCKET;
int LastError() {
    return WSAGetLastError();
}
bool WouldBlock(int e) {
    return e == WSAEWOULDBLOCK || e == WSAEINPROGRESS || e == WSAEINTR;
}
bool Refused(int e) {
    return e == WSAECONNREFUSED;
}
void CloseNative(TNative s) {
    closesocket(s);
}
bool MakeNonBlocking(TNative s) {
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}
// select, not WSAPoll: WSAPoll does not report a refused connection on older Windows.
int PollOne(TNative s, bool write, int ms) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval wait{ms / 1000, (ms % 1000) * 1000};
    return select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &wait);
}
std::string LookupErrorText(int e) {
    return std::system_category().message(e);
}
constexpr int NoSignal = 0;
void StartSockets() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}
#else
using TNative = int;
int LastError() {
    return errno;
}
bool WouldBlock(int e) {
    return e == EAGAIN || e == EWOULDBLOCK || e == EINPROGRESS || e == EINTR;
}
bool Refused(int e) {
    return e == ECONNREFUSED;
}
void CloseNative(TNative s) {
    ::close(s);
}
bool MakeNonBlocking(TNative s) {
    return ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) | O_NONBLOCK) == 0;
}
int PollOne(TNative s, bool write, int ms) {
    pollfd p{s, static_cast<short>(write ? POLLOUT : POLLIN), 0};
    return ::poll(&p, 1, ms);
}
std::string LookupErrorText(int e) {
    return gai_strerror(e);
}
#ifdef MSG_NOSIGNAL
constexpr int NoSignal = MSG_NOSIGNAL; // a server that went away fails the call, not the process
#else
constexpr int NoSignal = 0;
#endif
void StartSockets() {}
#endif

TNative Native(std::intptr_t h) {
    return static_cast<TNative>(h);
}

std::string ErrorText(int e) {
    return std::system_category().message(e);
}

struct TAddress {
    sockaddr_storage Bytes{};
    socklen_t Length = 0;
};

// One host name lookup. The lookup's thread holds its own share and copies of what it reads, so the
// mail thread may stop waiting for it at any moment: nothing it writes to lives on a stack it left.
struct TLookup {
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
    int Error = 0;
    std::vector<TAddress> Addresses;
};

void Resolve(const std::shared_ptr<TLookup>& lookup, std::string host, std::string port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int error = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    std::vector<TAddress> addresses;
    for (addrinfo* a = found; error == 0 && a; a = a->ai_next) {
        if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) || a->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        TAddress out;
        std::memcpy(&out.Bytes, a->ai_addr, a->ai_addrlen);
        out.Length = static_cast<socklen_t>(a->ai_addrlen);
        addresses.push_back(out);
    }
    if (found) ::freeaddrinfo(found);
    std::lock_guard<std::mutex> g(lookup->Lock);
    lookup->Error = error;
    lookup->Addresses = std::move(addresses);
    lookup->Finished = true;
    lookup->Done.notify_all();
}

// A numeric address needs no lookup.
bool Numeric(const std::string& host, int port, TAddress& out) {
    sockaddr_in v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<unsigned short>(port));
        std::memcpy(&out.Bytes, &v4, sizeof v4);
        out.Length = sizeof v4;
        return true;
    }
    sockaddr_in6 v6{};
    if (inet_pton(AF_INET6, host.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<unsigned short>(port));
        std::memcpy(&out.Bytes, &v6, sizeof v6);
        out.Length = sizeof v6;
        return true;
    }
    return false;
}

} // namespace

TMailSocket::TMailSocket(TStopFlag stop, vmime::shared_ptr<MailTls::TVersionProbe> probe)
    : Stop(std::move(stop)), Probe(std::move(probe)) {
    StartSockets();
}

TMailSocket::~TMailSocket() {
    disconnect();
}

void TMailSocket::Fail(TEnd end, const std::string& reason) {
    Ended = end;
    Why = reason;
    // Only VMime's exceptions may pass through the TLS library's callbacks.
    if (end == TEnd::TimedOut) throw vmime::exceptions::operation_timed_out();
    if (end == TEnd::Stopped) throw vmime::exceptions::operation_cancelled();
    throw vmime::exceptions::socket_exception(reason);
}

void TMailSocket::SetLimit(int seconds, const std::string& phase) {
    LimitSeconds = seconds;
    Phase = phase;
    Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
}

void TMailSocket::CheckLimit() {
    if (Stop && Stop->load()) Fail(TEnd::Stopped, "обмен прерван");
    if (std::chrono::steady_clock::now() >= Deadline)
        Fail(TEnd::TimedOut, "сервер не ответил за " + std::to_string(LimitSeconds) + " с (" + Phase + ")");
}

bool TMailSocket::WaitFor(bool write, int ms) {
    if (Handle == -1) Fail(TEnd::Broken, "соединение закрыто");
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        CheckLimit();
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::min(until, Deadline) - now);
        const int slice = static_cast<int>(std::clamp<long long>(left.count(), 1, SliceMs));
        const int ready = PollOne(Native(Handle), write, slice);
        if (ready > 0) return true; // readable, writable, or failed: the next call tells which
        if (ready < 0 && !WouldBlock(LastError()))
            Fail(TEnd::Broken, "сбой соединения (" + ErrorText(LastError()) + ")");
    }
}

void TMailSocket::Open(const std::string& host, int port, int seconds) {
    disconnect();
    Host = host;
    Unknown = false;
    Ended = TEnd::None;
    Why.clear();
    SetLimit(seconds, "установка соединения");
    std::vector<TAddress> addresses;
    TAddress numeric;
    if (Numeric(host, port, numeric)) {
        addresses.push_back(numeric);
    } else {
        auto lookup = std::make_shared<TLookup>();
        try {
            std::thread(Resolve, lookup, host, std::to_string(port)).detach();
        } catch (const std::system_error& e) {
            Fail(TEnd::NotResolved, "поиск адреса сервера не запущен (" + std::string(e.what()) + ")");
        }
        std::unique_lock<std::mutex> lock(lookup->Lock);
        while (!lookup->Finished) {
            lock.unlock();
            try {
                CheckLimit();
            } catch (const vmime::exceptions::operation_timed_out&) {
                Why = "адрес сервера не найден за " + std::to_string(seconds) + " с";
                throw;
            }
            lock.lock();
            lookup->Done.wait_for(lock, std::chrono::milliseconds(SliceMs));
        }
        if (lookup->Error != 0) {
            Unknown = lookup->Error == EAI_NONAME
#ifdef EAI_NODATA
                      || lookup->Error == EAI_NODATA
#endif
                ;
            Fail(TEnd::NotResolved, "адрес сервера не найден (" + LookupErrorText(lookup->Error) + ")");
        }
        addresses = lookup->Addresses;
    }
    std::string failure = "у имени сервера нет адреса";
    for (const TAddress& a : addresses) {
        const TNative s = ::socket(a.Bytes.ss_family, SOCK_STREAM, IPPROTO_TCP);
        if (s == static_cast<TNative>(-1)) {
            failure = "соединение не открыто (" + ErrorText(LastError()) + ")";
            continue;
        }
        Handle = static_cast<std::intptr_t>(s);
        if (!MakeNonBlocking(s)) {
            failure = "соединение не открыто (" + ErrorText(LastError()) + ")";
            disconnect();
            continue;
        }
        int error = 0;
        if (::connect(s, reinterpret_cast<const sockaddr*>(&a.Bytes), a.Length) != 0) {
            error = LastError();
            if (WouldBlock(error)) {
                WaitFor(true, seconds * 1000); // throws once the limit has passed
                socklen_t length = sizeof error;
                if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
                    error = LastError();
            }
        }
        if (error == 0) return;
        failure = (Refused(error) ? "ничто не отвечает (" : "сервер недоступен (") + ErrorText(error) + ")";
        disconnect();
    }
    Fail(TEnd::NotReached, failure);
}

std::string TMailSocket::LocalAddressLiteral() const {
    sockaddr_storage a{};
    socklen_t length = sizeof a;
    char text[INET6_ADDRSTRLEN] = {};
    if (Handle == -1 || ::getsockname(Native(Handle), reinterpret_cast<sockaddr*>(&a), &length) != 0)
        return "[127.0.0.1]";
    if (a.ss_family == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&a)->sin6_addr, text, sizeof text);
        return std::string("[IPv6:") + text + "]";
    }
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&a)->sin_addr, text, sizeof text);
    return std::string("[") + text + "]";
}

void TMailSocket::connect(const vmime::string& address, const vmime::port_t port) {
    Open(address, port, LimitSeconds > 0 ? LimitSeconds : 30);
}

void TMailSocket::disconnect() {
    if (Handle == -1) return;
    CloseNative(Native(Handle));
    Handle = -1;
}

bool TMailSocket::isConnected() const {
    return Handle != -1 && Ended != TEnd::Closed && Ended != TEnd::Broken;
}

bool TMailSocket::waitForRead(const int msecs) {
    return WaitFor(false, std::min(msecs, SliceMs));
}

bool TMailSocket::waitForWrite(const int msecs) {
    return WaitFor(true, std::min(msecs, SliceMs));
}

void TMailSocket::receive(vmime::string& buffer) {
    const size_t n = receiveRaw(Buffer, sizeof Buffer);
    buffer.assign(reinterpret_cast<const char*>(Buffer), n);
}

size_t TMailSocket::receiveRaw(vmime::byte_t* buffer, const size_t count) {
    Status &= ~STATUS_WOULDBLOCK;
    if (!WaitFor(false, SliceMs)) {
        Status |= STATUS_WOULDBLOCK;
        return 0;
    }
    const auto got = ::recv(Native(Handle), reinterpret_cast<char*>(buffer), static_cast<int>(count), 0);
    if (got > 0) {
        if (Probe) Probe->Received(buffer, static_cast<size_t>(got));
        return static_cast<size_t>(got);
    }
    if (got == 0) Fail(TEnd::Closed, "сервер закрыл соединение (" + Phase + ")");
    if (!WouldBlock(LastError()))
        Fail(TEnd::Broken, "соединение оборвалось (" + ErrorText(LastError()) + ")");
    Status |= STATUS_WOULDBLOCK;
    return 0;
}

void TMailSocket::send(const vmime::string& buffer) {
    sendRaw(reinterpret_cast<const vmime::byte_t*>(buffer.data()), buffer.size());
}

void TMailSocket::send(const char* str) {
    sendRaw(reinterpret_cast<const vmime::byte_t*>(str), std::strlen(str));
}

void TMailSocket::sendRaw(const vmime::byte_t* buffer, const size_t count) {
    for (size_t done = 0; done < count;) {
        const size_t n = sendRawNonBlocking(buffer + done, count - done);
        if (n == 0) WaitFor(true, SliceMs);
        done += n;
    }
}

size_t TMailSocket::sendRawNonBlocking(const vmime::byte_t* buffer, const size_t count) {
    Status &= ~STATUS_WOULDBLOCK;
    CheckLimit();
    if (Handle == -1) Fail(TEnd::Broken, "соединение закрыто");
    const auto sent =
        ::send(Native(Handle), reinterpret_cast<const char*>(buffer), static_cast<int>(count), NoSignal);
    if (sent > 0) {
        if (Probe) Probe->Sent(buffer, static_cast<size_t>(sent));
        return static_cast<size_t>(sent);
    }
    if (sent < 0 && !WouldBlock(LastError()))
        Fail(TEnd::Broken, "соединение оборвалось (" + ErrorText(LastError()) + ")");
    Status |= STATUS_WOULDBLOCK;
    return 0;
}

} // namespace MailNet
