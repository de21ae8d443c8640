#pragma once

// The TCP connection under the mail exchange, with the time limits of its phases and a stop that ends
// any wait at once. VMime types: included by SmtpClient.cpp only.
//
// The library's own socket is not used: it resolves host names with getaddrinfo_a on a request kept on
// its stack and may leave while the C library's resolver thread still works on it, which corrupts the
// stack of the mail thread and ends the robot with a segmentation fault. Here a name is resolved on a
// thread that owns every byte it touches, so the mail thread can leave a lookup at any moment.

#include "notify/MailTls.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace MailNet {

// Raised by the owner of an exchange to end it: every wait of the socket checks it within SliceMs.
using TStopFlag = std::shared_ptr<std::atomic<bool>>;

// How the last failed operation of a socket ended.
enum class TEnd {
    None,
    NotResolved, // the host name could not be resolved
    NotReached,  // no connection could be made
    TimedOut,    // the phase's limit passed without the awaited data
    Closed,      // the server closed the connection
    Broken,      // the connection failed (reset, unreachable…)
    Stopped,     // the owner raised the stop flag
};

class TMailSocket : public vmime::net::socket {
public:
    static constexpr int SliceMs = 50;

    TMailSocket(TStopFlag stop, vmime::shared_ptr<MailTls::TVersionProbe> probe);
    ~TMailSocket() override;

    // Resolves `host` and connects to `port` within `seconds`. Throws a vmime::exception; End() and
    // Reason() say why.
    void Open(const std::string& host, int port, int seconds);
    // From now on every wait ends at `seconds` from now; `phase` names what is awaited in Reason().
    void SetLimit(int seconds, const std::string& phase);
    // Whether the address lookup said the name does not exist (rather than it could not be asked).
    bool NameUnknown() const { return Unknown; }
    TEnd End() const { return Ended; }
    // The end of the last failed operation in the operator's words, e.g. "сервер не ответил за 300 с
    // (приветствие сервера)"; empty when nothing failed.
    std::string Reason() const { return Why; }
    // The address of this end of the connection as an SMTP address literal ("[192.0.2.1]").
    std::string LocalAddressLiteral() const;

    void connect(const vmime::string& address, const vmime::port_t port) override;
    void disconnect() override;
    bool isConnected() const override;
    bool waitForRead(const int msecs = 30000) override;
    bool waitForWrite(const int msecs = 30000) override;
    void receive(vmime::string& buffer) override;
    size_t receiveRaw(vmime::byte_t* buffer, const size_t count) override;
    void send(const vmime::string& buffer) override;
    void send(const char* str) override;
    void sendRaw(const vmime::byte_t* buffer, const size_t count) override;
    size_t sendRawNonBlocking(const vmime::byte_t* buffer, const size_t count) override;
    size_t getBlockSize() const override { return sizeof Buffer; }
    unsigned int getStatus() const override { return Status; }
    const vmime::string getPeerName() const override { return Host; }
    const vmime::string getPeerAddress() const override { return Host; }
    vmime::shared_ptr<vmime::net::timeoutHandler> getTimeoutHandler() override { return nullptr; }
    void setTracer(vmime::shared_ptr<vmime::net::tracer>) override {}
    vmime::shared_ptr<vmime::net::tracer> getTracer() override { return nullptr; }

private:
    [[noreturn]] void Fail(TEnd end, const std::string& reason);
    // Waits up to `ms` for the socket to be readable (or writable); false when it is not yet. Passing
    // the phase's limit or a raised stop flag fails the operation.
    bool WaitFor(bool write, int ms);
    void CheckLimit();

    TStopFlag Stop;
    vmime::shared_ptr<MailTls::TVersionProbe> Probe;
    std::intptr_t Handle = -1; // the platform's socket handle; -1 while there is none
    std::string Host;
    std::chrono::steady_clock::time_point Deadline;
    int LimitSeconds = 0;
    std::string Phase;
    TEnd Ended = TEnd::None;
    std::string Why;
    bool Unknown = false;
    unsigned int Status = 0;
    vmime::byte_t Buffer[16384];
};

} // namespace MailNet
