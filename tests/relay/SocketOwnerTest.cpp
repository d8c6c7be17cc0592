// Only the account that runs the proxy is served: a real client of another
// account (started through setpriv as nobody) is refused before anything
// reaches the SMTP server or the user's screen; the kernel's answer about a
// socket's owner is checked against real loopback connections; and a query
// that fails refuses the client.
#include "RelayTestSupport.h"

#include "foundation/FileDescriptor.h"
#include "relay/SocketOwner.h"
#include "support/Unprivileged.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <sys/socket.h>

using namespace pelorus::test;

namespace {

const std::string Refusal = "554 5.7.1 Pelorus serves only the user who started it.";

sockaddr_storage address(int family, const char* text)
{
    sockaddr_storage storage{};
    storage.ss_family = static_cast<sa_family_t>(family);
    void* where = family == AF_INET ? static_cast<void*>(&reinterpret_cast<sockaddr_in*>(&storage)->sin_addr)
                                    : static_cast<void*>(&reinterpret_cast<sockaddr_in6*>(&storage)->sin6_addr);
    EXPECT_EQ(::inet_pton(family, text, where), 1) << text;
    return storage;
}

// One accepted loopback connection: both ends, seen from the accepting side.
struct LoopbackPair {
    MAIL::FileDescriptor listener, client, accepted;
    bool open(int family)
    {
        sockaddr_storage local = address(family, family == AF_INET ? "127.0.0.1" : "::1");
        const socklen_t size = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        listener.reset(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        socklen_t length = size;
        if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&local), size) != 0 || ::listen(listener.get(), 1) != 0 ||
            ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&local), &length) != 0)
            return false;
        client.reset(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (::connect(client.get(), reinterpret_cast<sockaddr*>(&local), size) != 0)
            return false;
        accepted.reset(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        return accepted.isOpen();
    }
    MAIL::ConnectionEnds ends() const
    {
        MAIL::ConnectionEnds e;
        socklen_t a = sizeof e.local, b = sizeof e.peer;
        ::getsockname(accepted.get(), reinterpret_cast<sockaddr*>(&e.local), &a);
        ::getpeername(accepted.get(), reinterpret_cast<sockaddr*>(&e.peer), &b);
        return e;
    }
};

bool failingQuery(const MAIL::ConnectionEnds&, uid_t&, std::string& reason)
{
    reason = "simulated netlink failure";
    return false;
}

// Puts the kernel's query back whatever the test's outcome.
struct QueryOverride {
    explicit QueryOverride(MAIL::OwnerQuery query) { MAIL::setOwnerQuery(query); }
    ~QueryOverride() { MAIL::setOwnerQuery(nullptr); }
};

// smtplib sends one mail, as this account or as nobody (through setpriv).
ProgramResult smtplibSend(std::uint16_t port, bool asNobody)
{
    const std::string script = "import smtplib,sys\n"
                               "try:\n"
                               "  with smtplib.SMTP('127.0.0.1'," + std::to_string(port) + ",timeout=60) as s:\n"
                               "    s.sendmail('a@corp.example',['b@evil.example'],b'Subject: s\\r\\n\\r\\nhi\\r\\n')\n"
                               "except smtplib.SMTPResponseException as e:\n"
                               "  print(e.smtp_code, e.smtp_error.decode()); sys.exit(3)\n";
    std::vector<std::string> argv{"/usr/bin/python3", "-c", script};
    if (asNobody)
        argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
    return runProgram(argv);
}

} // namespace

TEST(SocketOwner, LoopbackAddresses)
{
    const struct {
        int family;
        const char* text;
        bool loopback;
    } cases[] = {
        {AF_INET, "127.0.0.1", true},         {AF_INET, "127.255.3.9", true}, {AF_INET6, "::1", true},
        {AF_INET6, "::ffff:127.0.0.1", true}, {AF_INET, "10.0.0.1", false},   {AF_INET, "128.0.0.1", false},
        {AF_INET6, "::ffff:10.0.0.1", false}, {AF_INET6, "::2", false},       {AF_INET6, "fe80::1", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MAIL::isLoopbackAddress(address(c.family, c.text)), c.loopback) << c.text;
    sockaddr_storage local{};
    local.ss_family = AF_UNIX;
    EXPECT_FALSE(MAIL::isLoopbackAddress(local));
}

TEST(SocketOwner, TheKernelNamesTheOwnerOfALoopbackClient)
{
    for (const int family : {AF_INET, AF_INET6}) {
        LoopbackPair pair;
        if (!pair.open(family)) {
            EXPECT_EQ(family, AF_INET6) << "no IPv4 loopback connection";
            continue;  // a machine without ::1
        }
        uid_t owner = 12345;
        std::string reason;
        EXPECT_TRUE(MAIL::querySocketOwner(pair.ends(), owner, reason)) << reason;
        EXPECT_EQ(owner, ::geteuid());

        // The same ends with a client port nobody uses: no owner, no guess.
        MAIL::ConnectionEnds stale = pair.ends();
        auto* port = family == AF_INET ? &reinterpret_cast<sockaddr_in*>(&stale.peer)->sin_port
                                       : &reinterpret_cast<sockaddr_in6*>(&stale.peer)->sin6_port;
        *port = htons(static_cast<std::uint16_t>(ntohs(*port) ^ 1));
        EXPECT_FALSE(MAIL::querySocketOwner(stale, owner, reason));
        EXPECT_FALSE(reason.empty());
    }
}

// No privilege is needed: Pelorus run by an ordinary user learns the owner too.
TEST(SocketOwner, AnOrdinaryUserLearnsTheOwnerOfItsClients)
{
    EXPECT_EQ(runAsUser([] {
                  LoopbackPair pair;
                  uid_t owner = 0;
                  std::string reason;
                  if (!pair.open(AF_INET))
                      return 1;
                  if (!MAIL::querySocketOwner(pair.ends(), owner, reason))
                      return 2;
                  return owner == ::geteuid() ? 0 : 3;
              }),
              0);
}

TEST(SocketOwner, AnOwnerThatCannotBeFoundIsRefused)
{
    std::signal(SIGPIPE, SIG_IGN);
    ScriptedServer server([](Connection& c) { c.send("220 scripted\r\n"); });
    ProxyRunner proxy(server.port(), 1);
    const QueryOverride failing(&failingQuery);
    auto client = connectTo(proxy.port());
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->readReply(), Refusal + "\r\n");
    EXPECT_TRUE(client->waitClosed());
    ASSERT_TRUE(proxy.waitIdle());
    EXPECT_EQ(server.connections(), 0);
    EXPECT_TRUE(proxy.presenter().shown().empty());
    EXPECT_TRUE(proxy.notices().balloons().empty());
}

TEST(SocketOwner, AnotherAccountsClientIsRefusedAndTheSameAccountIsServed)
{
    if (!runningAsRoot())
        GTEST_SKIP() << "starting a client as another account needs root";
    std::signal(SIGPIPE, SIG_IGN);
    SmtpSink sink;
    ProxyRunner proxy(sink.port(), 1);

    const ProgramResult foreign = smtplibSend(proxy.port(), true);
    EXPECT_EQ(foreign.status, 3) << foreign.errors;
    EXPECT_EQ(foreign.output, Refusal + "\n");
    ASSERT_TRUE(proxy.waitIdle());
    EXPECT_TRUE(sink.journal().empty()) << sink.journal();
    EXPECT_TRUE(proxy.presenter().shown().empty());
    EXPECT_TRUE(proxy.notices().balloons().empty());

    const ProgramResult own = smtplibSend(proxy.port(), false);
    EXPECT_EQ(own.status, 0) << own.output << own.errors;
    ASSERT_TRUE(sink.waitForMails(1, 10000));
    EXPECT_EQ(proxy.presenter().shown().size(), 1u);
}
