// What the owner check adds to each client connection: the sock_diag
// exchange alone, and a whole loopback connection (connect, accept, close)
// with and without it. Only 127.0.0.1 is used.
#include "relay/SocketOwner.h"

#include "foundation/FileDescriptor.h"

#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <sys/socket.h>

namespace {

using MAIL::FileDescriptor;

// A listener on 127.0.0.1 with a port of the kernel's choosing.
FileDescriptor listener(sockaddr_in& where)
{
    FileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    where = {};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof where;
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || ::listen(fd.get(), 16) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&where), &length) != 0)
        fd.reset();
    return fd;
}

MAIL::ConnectionEnds endsOf(int accepted)
{
    MAIL::ConnectionEnds ends;
    socklen_t a = sizeof ends.local, b = sizeof ends.peer;
    ::getsockname(accepted, reinterpret_cast<sockaddr*>(&ends.local), &a);
    ::getpeername(accepted, reinterpret_cast<sockaddr*>(&ends.peer), &b);
    return ends;
}

void BM_OwnerQuery(benchmark::State& state)
{
    sockaddr_in where;
    FileDescriptor listen = listener(where);
    FileDescriptor client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!listen.isOpen() || ::connect(client.get(), reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
        state.SkipWithError("no loopback connection");
        return;
    }
    FileDescriptor accepted(::accept4(listen.get(), nullptr, nullptr, SOCK_CLOEXEC));
    const MAIL::ConnectionEnds ends = endsOf(accepted.get());
    for (auto _ : state) {
        uid_t owner = 0;
        std::string reason;
        if (!MAIL::querySocketOwner(ends, owner, reason)) {
            state.SkipWithError(reason.c_str());
            return;
        }
        benchmark::DoNotOptimize(owner);
    }
}
BENCHMARK(BM_OwnerQuery);

// range(0): 1 with the check, 0 without.
void BM_LoopbackConnection(benchmark::State& state)
{
    sockaddr_in where;
    FileDescriptor listen = listener(where);
    if (!listen.isOpen()) {
        state.SkipWithError("no loopback listener");
        return;
    }
    for (auto _ : state) {
        FileDescriptor client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (::connect(client.get(), reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
            state.SkipWithError("connect failed");
            return;
        }
        // Reset instead of TIME-WAIT, so the loop never runs out of ports.
        const linger reset{1, 0};
        ::setsockopt(client.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        FileDescriptor accepted(::accept4(listen.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (state.range(0) != 0) {
            uid_t owner = 0;
            std::string reason;
            benchmark::DoNotOptimize(MAIL::querySocketOwner(endsOf(accepted.get()), owner, reason));
        }
    }
}
BENCHMARK(BM_LoopbackConnection)->Arg(0)->Arg(1);

} // namespace

BENCHMARK_MAIN();
