// The confirmation model: rows and flags, the effective timeout, the
// countdown, and which end of a confirmation sends the mail.
#include "RelayTestSupport.h"

#include "config/ProxyConfiguration.h"
#include "analysis/message/MIMEFile.h"
#include "relay/AddressConfirmationDialog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <thread>

using namespace MAIL;
using pelorus::test::ScopedEnv;
using pelorus::test::TempDir;

namespace {

class Confirmation : public testing::Test {
protected:
    TempDir home;
    ScopedEnv config{"XDG_CONFIG_HOME", home.path()};
    void SetUp() override
    {
        std::filesystem::create_directories(home / "Pelorus");
        pelorus::test::writeFile(home / "Pelorus/TrustedDomain.pel", "corp.example\n");
        reopenConfirmations();
    }
    void TearDown() override { setConfirmationPresenter(nullptr); }
};

class Answering : public ConfirmationPresenter {
public:
    explicit Answering(std::function<int(CancelToken&)> answer) : answer_(std::move(answer)) {}
    int present(const AddressConfirmationDialog&, CancelToken& token) override { return answer_(token); }

private:
    std::function<int(CancelToken&)> answer_;
};

} // namespace

TEST_F(Confirmation, RowsAreSplitTrimmedAndFlaggedByAddress)
{
    AddressConfirmationDialog dialog;
    dialog.setTo("Ann <ann@corp.example>, \"Eve, corp.example\" <eve@evil.example>,,");
    dialog.setSecurity("IRM unprotected,S/MIME encrypted");
    const auto to = dialog.toRows();
    ASSERT_EQ(to.size(), 2u);
    EXPECT_EQ(to[0].first, "Ann <ann@corp.example>");
    EXPECT_FALSE(to[0].flagged);
    EXPECT_EQ(to[0].second, "");
    EXPECT_EQ(to[1].first, "\"Eve, corp.example\" <eve@evil.example>");
    EXPECT_TRUE(to[1].flagged);
    EXPECT_EQ(to[1].second, "x");
    const auto security = dialog.securityRows();
    ASSERT_EQ(security.size(), 2u);
    EXPECT_TRUE(security[0].flagged);
    EXPECT_FALSE(security[1].flagged);
    EXPECT_TRUE(dialog.ccRows().empty());
    EXPECT_TRUE(dialog.isToEnabled());
    dialog.setTo("");
    EXPECT_FALSE(dialog.isToEnabled());
    EXPECT_EQ(dialog.messageText(), AddressConfirmationDialog::DefaultMessage);
}

TEST_F(Confirmation, CautionFollowsTheOtherFlagsOfARow)
{
    pelorus::test::writeFile(home / "Pelorus/CautionDomain.pel", "\nRIVAL.example\n");
    pelorus::test::writeFile(home / "Pelorus/CautionAttachment.pel", ".KEY\nconfidential\n");
    AddressConfirmationDialog dialog;
    dialog.setTo("bob@rival.example, ann@corp.example, Boss <boss@rival.example.corp.example>");
    dialog.setNewRecipients({"BOB@rival.example"});
    LinkedList files;
    const auto file = [&files](const char* name, bool isProtected) {
        auto record = std::make_unique<MIMEFile>(name);
        record->setProtected(isProtected);
        record->setProtectionKind(isProtected ? ProtectionPassword : ProtectionNone);
        files.addLast(std::move(record));
    };
    file("server.key", false);
    file("Q3-Confidential.xlsx", true);
    file("notes.txt", true);
    dialog.setAttachments(&files);
    std::vector<std::pair<std::string, bool>> seen;
    for (const auto& rows : {dialog.toRows(), dialog.attachmentRows()})
        for (const ConfirmationRow& row : rows)
            seen.emplace_back(row.second, row.flagged);
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, bool>>{{"x new caution", true},
                                                               {"", false},
                                                               {"caution", true},
                                                               {"x caution", true},
                                                               {"PWD caution", true},
                                                               {"PWD", false}}));
    EXPECT_EQ(AddressConfirmationDialog::joinFlags({"x", "", "caution"}), "x caution");
}

TEST_F(Confirmation, EffectiveTimeoutAcceptsOnly31To299AndKeepsTheLast)
{
    struct Step {
        std::int32_t stored;
        int effective;
    };
    // Each stored value, in order, and the timeout the next dialog gets.
    for (const Step& s : {Step{120, 120}, Step{500, 120}, Step{20, 120}, Step{5, 50}, Step{30, 50}, Step{300, 50},
                          Step{31, 31}, Step{299, 299}}) {
        ProxyConfiguration().setDWORD(ProxyConfiguration::SettingKey, "DialogTimeout",
                                      static_cast<std::uint32_t>(s.stored));
        int seen = 0;
        setConfirmationPresenter(std::make_shared<Answering>([&](CancelToken&) { return 2; }));
        AddressConfirmationDialog dialog;
        dialog.showModal();
        seen = dialog.getTimeout();
        EXPECT_EQ(seen, s.effective) << "stored " << s.stored;
    }
}

TEST_F(Confirmation, CountdownCountsDownAndCancelsOnTheTickAfter)
{
    Countdown countdown(3);
    EXPECT_EQ(countdown.initialText(), "This mail is automatically cancelled in (60) seconds.");
    EXPECT_EQ(countdown.tick(), "This mail is automatically cancelled in (2) seconds.");
    EXPECT_EQ(countdown.tick(), "This mail is automatically cancelled in (1) seconds.");
    EXPECT_EQ(countdown.tick(), "This mail is automatically cancelled in (0) seconds.");
    EXPECT_EQ(countdown.tick(), std::nullopt);
}

TEST_F(Confirmation, OnlyAnExplicitConfirmationSends)
{
    struct Case {
        const char* name;
        std::function<int(CancelToken&)> answer;
        int result;
    };
    for (const Case& c : {
             Case{"Ok", [](CancelToken&) { return 1; }, 1},
             Case{"Cancel", [](CancelToken&) { return 2; }, 2},
             Case{"ToolkitCode", [](CancelToken&) { return 0; }, 2},
             Case{"Failure", [](CancelToken&) { return -1; }, 2},
             Case{"Throws", [](CancelToken&) -> int { throw std::runtime_error("no display"); }, 2},
             Case{"OkAfterCancel", [](CancelToken& t) { t.cancel(); return 1; }, 2},
         }) {
        setConfirmationPresenter(std::make_shared<Answering>(c.answer));
        AddressConfirmationDialog dialog;
        EXPECT_EQ(dialog.showModal(), c.result) << c.name;
    }
    setConfirmationPresenter(nullptr);
    AddressConfirmationDialog dialog;
    EXPECT_EQ(dialog.showModal(), 2) << "no one to ask";
}

TEST_F(Confirmation, ANewerConfirmationCancelsTheOpenOneWhenShown)
{
    std::atomic<int> opened{0};
    setConfirmationPresenter(std::make_shared<Answering>([&](CancelToken& token) {
        ++opened;
        return token.waitFor(20000) ? 2 : 1;
    }));
    std::atomic<int> first{0};
    std::thread older([&] {
        AddressConfirmationDialog dialog;
        first = dialog.showModal();
    });
    while (opened.load() < 1)
        std::this_thread::yield();
    {
        AddressConfirmationDialog built;  // a model alone cancels nothing
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(first.load(), 0);
    }
    std::thread newer([&] {
        AddressConfirmationDialog dialog;
        dialog.showModal();
    });
    older.join();
    EXPECT_EQ(first.load(), 2);
    cancelOpenConfirmation(true);
    newer.join();
    AddressConfirmationDialog late;
    EXPECT_EQ(late.showModal(), 2) << "after shut-down nothing is asked";
    EXPECT_EQ(opened.load(), 2);
}
