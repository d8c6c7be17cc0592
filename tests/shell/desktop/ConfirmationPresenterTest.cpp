// The desktop presenter between a waiting session and its window: the
// answer reaches the session thread for every way the window ends, a newer
// confirmation ends the older one at once, shut-down cancels and refuses,
// and through the real proxy a cancelled mail gives its client the 450 and
// never reaches the server while a confirmed one arrives.
#include "shell/desktop/DesktopConfirmationPresenter.h"

#include "relay/RelayTestSupport.h"
#include "relay/AddressConfirmationDialog.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTreeWidget>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>

using namespace pelorus::test;
using MAIL::ConfirmationWindow;
using MAIL::DesktopConfirmationPresenter;

namespace {

// A bound for waiting on other threads, never a measured time.
constexpr int Patience = 30000;

// Asks one confirmation on its own thread, as a session does.
class Session {
public:
    Session(std::string to = "eve@elsewhere.example", std::string subject = "quarterly figures")
    {
        dialog_.setTo(to.c_str());
        dialog_.setSubject(subject.c_str());
        dialog_.setSecurity("IRM unprotected,S/MIME unencrypted");
        answer_ = std::async(std::launch::async, [this] { return dialog_.showModal(); });
    }
    ~Session()
    {
        // Never leave the thread behind, whatever the test did.
        MAIL::cancelOpenConfirmation(false);
        if (answer_.valid())
            answer_.wait();
    }
    // Processes events until the answer is there; -1 when it never came.
    int answer()
    {
        if (!QTest::qWaitFor([this] { return answer_.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                             Patience))
            return -1;
        return answer_.get();
    }
    // How the confirmation ended, once answer() returned.
    MAIL::ConfirmationEnd end() const { return dialog_.getEnd(); }

private:
    MAIL::AddressConfirmationDialog dialog_;
    std::future<int> answer_;
};

class ConfirmationPresenterTest : public testing::Test {
protected:
    void SetUp() override
    {
        MAIL::reopenConfirmations();
        MAIL::setConfirmationPresenter(presenter);
    }
    void TearDown() override
    {
        MAIL::setConfirmationPresenter(nullptr);
        MAIL::reopenConfirmations();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // The window the presenter opened, once it is there.
    ConfirmationWindow* window(ConfirmationWindow* other = nullptr)
    {
        ConfirmationWindow* shown = nullptr;
        (void)QTest::qWaitFor(
            [&] {
                shown = presenter->openWindow();
                return shown != nullptr && shown != other;
            },
            Patience);
        return shown == other ? nullptr : shown;
    }

    void writeDomains(const std::vector<std::string>& domains)
    {
        std::filesystem::create_directories(home / "config/Pelorus");
        std::string text;
        for (const std::string& domain : domains)
            text += domain + "\r\n";
        writeFile(home / "config/Pelorus/TrustedDomain.pel", text);
    }

    TempDir home;
    ScopedEnv config{"XDG_CONFIG_HOME", home / "config"};
    std::shared_ptr<DesktopConfirmationPresenter> presenter =
        std::make_shared<DesktopConfirmationPresenter>(ConfirmationWindow::Clock::Manual);
};

struct Action {
    const char* name;
    std::function<void(ConfirmationWindow&, DesktopConfirmationPresenter&)> act;
    int answer;
    MAIL::ConfirmationEnd end;  // what the record of decisions is told
};

void PrintTo(const Action& action, std::ostream* os) { *os << action.name; }

void check(ConfirmationWindow& w) { w.findChild<QCheckBox*>("1019")->click(); }

const Action Actions[] = {
    {"OkAfterChecking",
     [](ConfirmationWindow& w, DesktopConfirmationPresenter&) {
         check(w);
         w.findChild<QPushButton*>("1")->click();
     },
     1, MAIL::ConfirmationEnd::Confirmed},
    {"Escape",
     [](ConfirmationWindow& w, DesktopConfirmationPresenter&) {
         check(w);
         QTest::keyClick(&w, Qt::Key_Escape);
     },
     2, MAIL::ConfirmationEnd::Cancelled},
    {"CloseBox",
     [](ConfirmationWindow& w, DesktopConfirmationPresenter&) {
         check(w);
         w.close();
     },
     2, MAIL::ConfirmationEnd::Cancelled},
    {"AcceptedFromOutside", [](ConfirmationWindow& w, DesktopConfirmationPresenter&) { w.done(QDialog::Accepted); }, 2,
     MAIL::ConfirmationEnd::Cancelled},
    {"ShutDown",
     [](ConfirmationWindow& w, DesktopConfirmationPresenter& p) {
         check(w);
         p.shutDown();
     },
     2, MAIL::ConfirmationEnd::ShutDown},
    {"Countdown",
     [](ConfirmationWindow& w, DesktopConfirmationPresenter&) {
         check(w);
         for (int tick = 0; tick <= 50; ++tick)
             w.tick();
     },
     2, MAIL::ConfirmationEnd::TimedOut},
};

class ConfirmationPresenterAction : public ConfirmationPresenterTest,
                                    public testing::WithParamInterface<Action> {};

TEST_P(ConfirmationPresenterAction, ReachesTheSession)
{
    Session session;
    ConfirmationWindow* shown = window();
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->isVisible());
    GetParam().act(*shown, *presenter);
    EXPECT_EQ(session.answer(), GetParam().answer);
    EXPECT_EQ(session.end(), GetParam().end);
    EXPECT_EQ(presenter->openWindow(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Actions, ConfirmationPresenterAction, testing::ValuesIn(Actions),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConfirmationPresenterTest, ShowsTheModelWithTheStoredCountdown)
{
    writeDomains({"corp.example"});
    Session session("Ann <ann@corp.example>, bob@evil.example", "<b>x</b><img src=x>");
    ConfirmationWindow* shown = window();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->findChild<QLineEdit*>("1000")->text(), "<b>x</b><img src=x>");
    auto* to = shown->findChild<QTreeWidget*>("1007");
    ASSERT_EQ(to->topLevelItemCount(), 2);
    EXPECT_EQ(to->topLevelItem(0)->text(0), "Ann <ann@corp.example>");
    EXPECT_EQ(to->topLevelItem(0)->text(1), "");
    EXPECT_EQ(to->topLevelItem(1)->text(0), "bob@evil.example");
    EXPECT_EQ(to->topLevelItem(1)->text(1), "x");
    EXPECT_EQ(to->topLevelItem(1)->foreground(0).color(), QColor(255, 0, 0));
    EXPECT_EQ(shown->findChild<QTreeWidget*>("1013")->topLevelItemCount(), 2);
    // DialogTimeout is not stored: 50 seconds.
    auto* label = shown->findChild<QLabel*>("1018");
    shown->tick();
    EXPECT_EQ(label->text(), "This mail is automatically cancelled in (49) seconds.");
    shown->cancel();
    EXPECT_EQ(session.answer(), 2);
}

TEST_F(ConfirmationPresenterTest, TakesInputAboveAnApplicationModalDialog)
{
    QDialog properties;  // stands for Properties or Filters, shown modally
    properties.setWindowModality(Qt::ApplicationModal);
    properties.show();
    Session first("first@elsewhere.example");
    ConfirmationWindow* older = window();
    ASSERT_NE(older, nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), older);

    Session second("second@elsewhere.example");
    ConfirmationWindow* newer = window(older);
    ASSERT_NE(newer, nullptr);
    EXPECT_EQ(first.answer(), 2);
    EXPECT_EQ(QApplication::activeModalWidget(), newer);
    QTest::keyClick(newer, Qt::Key_Escape);
    EXPECT_EQ(second.answer(), 2);
    EXPECT_TRUE(properties.isVisible());
}

TEST_F(ConfirmationPresenterTest, AskedOnTheGuiThreadAnswersCancelWithoutWaiting)
{
    MAIL::CancelToken token;
    MAIL::AddressConfirmationDialog dialog;
    dialog.setTo("eve@elsewhere.example");
    EXPECT_EQ(presenter->present(dialog, token), 2);
    EXPECT_EQ(presenter->openWindow(), nullptr);
}

TEST_F(ConfirmationPresenterTest, NewerConfirmationEndsTheOlderAtOnce)
{
    Session first("first@elsewhere.example");
    ConfirmationWindow* older = window();
    ASSERT_NE(older, nullptr);
    QPointer<ConfirmationWindow> olderAlive = older;
    check(*older);

    Session second("second@elsewhere.example");
    ConfirmationWindow* newer = window(older);
    ASSERT_NE(newer, nullptr);
    // The older window ended before the newer one was shown.
    EXPECT_TRUE(!olderAlive || olderAlive->hasEnded());
    EXPECT_EQ(first.answer(), 2);
    EXPECT_EQ(first.end(), MAIL::ConfirmationEnd::Replaced);
    EXPECT_TRUE(newer->isVisible());
    EXPECT_FALSE(newer->hasEnded());

    check(*newer);
    newer->findChild<QPushButton*>("1")->click();
    EXPECT_EQ(second.answer(), 1);
}

TEST_F(ConfirmationPresenterTest, AfterShutDownEveryConfirmationIsCancelledAtOnce)
{
    presenter->shutDown();
    Session session;
    EXPECT_EQ(session.answer(), 2);
    EXPECT_EQ(presenter->openWindow(), nullptr);
}

TEST_F(ConfirmationPresenterTest, CancelTokenClosesTheWindow)
{
    Session session;
    ConfirmationWindow* shown = window();
    ASSERT_NE(shown, nullptr);
    QPointer<ConfirmationWindow> alive = shown;
    MAIL::cancelOpenConfirmation(false);  // what the proxy does on stop()
    EXPECT_EQ(session.answer(), 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !alive || !alive->isVisible(); }, Patience));
}

TEST(ConfirmationPresenterWithoutGui, AnswersCancel)
{
    // A presenter whose GUI thread never runs a loop again (the GUI has
    // ended): the session must not wait for a window forever.
    auto presenter = std::make_shared<DesktopConfirmationPresenter>(ConfirmationWindow::Clock::Manual);
    // What QCoreApplication::exec() emits when the loop ends.
    ASSERT_TRUE(QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit", Qt::DirectConnection));
    MAIL::CancelToken token;
    MAIL::AddressConfirmationDialog dialog;
    dialog.setTo("eve@elsewhere.example");
    EXPECT_EQ(presenter->present(dialog, token), 2);
}

// ---- through the real proxy --------------------------------------------

// Sends one mail with Python's smtplib; prints the refusal "code text".
ProgramResult sendWithSmtplib(std::uint16_t port)
{
    const std::string script =
        "import smtplib,sys\n"
        "try:\n"
        "  with smtplib.SMTP('127.0.0.1'," + std::to_string(port) + ",timeout=60) as s:\n"
        "    s.sendmail('alice@corp.example',['eve@elsewhere.example'],"
        "b'Subject: figures\\r\\nTo: eve@elsewhere.example\\r\\n\\r\\nhello\\r\\n')\n"
        "except smtplib.SMTPResponseException as e:\n"
        "  print(e.smtp_code, e.smtp_error.decode()); sys.exit(3)\n";
    return runProgram({"/usr/bin/python3", "-c", script});
}

class ConfirmationThroughProxy : public testing::TestWithParam<Action> {
protected:
    static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }
};

TEST_P(ConfirmationThroughProxy, ClientSeesTheAnswer)
{
    const Action& action = GetParam();
    SmtpSink sink;
    ProxyRunner proxy(sink.port(), 1);
    auto presenter = std::make_shared<DesktopConfirmationPresenter>(ConfirmationWindow::Clock::Manual);
    MAIL::setConfirmationPresenter(presenter);

    std::future<ProgramResult> client = std::async(std::launch::async, [&] { return sendWithSmtplib(proxy.port()); });
    ConfirmationWindow* shown = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (shown = presenter->openWindow()) != nullptr; }, Patience));
    EXPECT_TRUE(proxy.notices().hasBalloonContaining("Recipients Confirmation - Pelorus"));
    action.act(*shown, *presenter);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return client.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 90000));
    const ProgramResult sent = client.get();
    if (action.answer == 1) {
        EXPECT_EQ(sent.status, 0) << sent.output << sent.errors;
        EXPECT_TRUE(sink.waitForMails(1, Patience));
    } else {
        EXPECT_EQ(sent.status, 3) << sent.output << sent.errors;
        EXPECT_EQ(sent.output, "450 Pelorus action has been cancelled.\n");
        EXPECT_TRUE(proxy.waitIdle());
        EXPECT_TRUE(sink.mails().empty());
    }
    MAIL::setConfirmationPresenter(nullptr);
    MAIL::reopenConfirmations();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

const Action ProxyActions[] = {Actions[0], Actions[1], Actions[2], Actions[4]};

INSTANTIATE_TEST_SUITE_P(Actions, ConfirmationThroughProxy, testing::ValuesIn(ProxyActions),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
