#include "policy/CautionAttachment.h"
#include "policy/CautionDomain.h"
#include "policy/OrganisationLists.h"
#include "policy/TrustedDomain.h"
#include "policy/TrustedRecipient.h"

#include "support/TempDir.h"
#include "support/Unprivileged.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using MAIL::LinkedList;
using MAIL::PatternList;
using MAIL::String;
using namespace pelorus::test;

namespace {

using Texts = std::vector<std::string>;

Texts textsOf(const LinkedList& list)
{
    Texts texts;
    list.forEach<String>([&](const String& s) { texts.emplace_back(s.view()); });
    return texts;
}

Texts ignoredWarnings()
{
    Texts texts;
    MAIL::reportIgnoredOrganisationFiles([&](std::string_view text) { texts.emplace_back(text); });
    return texts;
}

struct FoldersCase {
    const char* name;
    std::optional<std::string> variable;
    Texts folders;
};
void PrintTo(const FoldersCase& c, std::ostream* out) { *out << c.name; }

class OrganisationFolders : public testing::TestWithParam<FoldersCase> {};

// The user's folder and two organisation folders, reachable by an
// ordinary user.
class OrganisationFiles : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0); }

    std::string put(const std::string& org, const char* file, const std::string& content)
    {
        ::mkdir((dir / org).c_str(), 0755);
        ::mkdir((dir / org + "/Pelorus").c_str(), 0755);
        const std::string path = dir / org + "/Pelorus/" + file;
        writeFile(path, content);
        ::chmod(path.c_str(), 0644);
        return path;
    }

    TempDir dir;
    ScopedEnv home{"XDG_CONFIG_HOME", dir / "home"};
    ScopedEnv orgs{"XDG_CONFIG_DIRS", dir / "org1" + ":" + dir / "org2"};
};

} // namespace

TEST_P(OrganisationFolders, ComeFromTheVariable)
{
    ScopedEnv variable("XDG_CONFIG_DIRS", GetParam().variable);
    EXPECT_EQ(MAIL::organisationFolders(), GetParam().folders);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OrganisationFolders,
    testing::Values(FoldersCase{"UnsetMeansEtcXdg", std::nullopt, {"/etc/xdg/Pelorus"}},
                    FoldersCase{"EmptyMeansEtcXdg", "", {"/etc/xdg/Pelorus"}},
                    FoldersCase{"RelativeAndEmptyPartsAreSkipped", "a:/b::rel/c:/d:/b", {"/b/Pelorus", "/d/Pelorus"}}),
    [](const testing::TestParamInfo<FoldersCase>& info) { return std::string(info.param.name); });

TEST_F(OrganisationFiles, AreAddedToTheUsersListsAndNeverWritten)
{
    const std::string orgDomains = put("org1", "TrustedDomain.pel", "corp.example\n");
    put("org2", "TrustedDomain.pel", "branch.example");
    put("org2", "CautionAttachment.pel", ".key\n");
    put("org2", "TrustedRecipient.plx", "boss@corp.example\n");
    put("org1", "CautionDomain.pel", "rival.example\n");
    MAIL::TrustedDomain domains;
    LinkedList edited;
    edited.addLast(std::make_unique<String>("own.example"));
    ASSERT_TRUE(domains.save(edited));

    PatternList merged;
    EXPECT_EQ(domains.load(merged), 3);
    for (const char* address : {"a@own.example", "a@corp.example", "a@branch.example"})
        EXPECT_TRUE(merged.isAllowedDomain(address)) << address;
    LinkedList own, organisation;
    domains.load(own);
    domains.loadOrganisation(organisation);
    EXPECT_EQ(textsOf(own), Texts{"own.example"}) << "only the user's entries are for editing";
    EXPECT_EQ(textsOf(organisation), (Texts{"corp.example", "branch.example"}));

    PatternList cautions, attachments, recipients;
    MAIL::CautionDomain().load(cautions);
    MAIL::CautionAttachment().load(attachments);
    MAIL::TrustedRecipient().load(recipients);
    EXPECT_TRUE(cautions.isCautionDomain("a@RIVAL.example"));
    EXPECT_TRUE(attachments.isCautionAttachment("server.KEY"));
    EXPECT_TRUE(recipients.isTrustedRecipient("boss@corp.example"));

    ASSERT_TRUE(domains.remove());
    EXPECT_EQ(readFile(orgDomains), "corp.example\n");
    EXPECT_EQ(fileMode(orgDomains), 0644);
    EXPECT_EQ(ignoredWarnings(), Texts{});
}

TEST_F(OrganisationFiles, TheUsersOwnFolderIsNotReadTwice)
{
    ScopedEnv sameAsHome("XDG_CONFIG_DIRS", dir / "home");
    put("home", "CautionDomain.pel", "rival.example\n");
    LinkedList organisation;
    EXPECT_EQ(MAIL::CautionDomain().loadOrganisation(organisation), 0);
}

namespace {

enum class Owner { Root, Self, Other };

struct TrustCase {
    const char* name;
    Owner folderOwner;
    Owner fileOwner;
    int folderMode;
    int fileMode;
    bool link;
    bool read;
};
void PrintTo(const TrustCase& c, std::ostream* out) { *out << c.name; }

class OrganisationFileTrust : public OrganisationFiles, public testing::WithParamInterface<TrustCase> {
protected:
    // The uid that stands for owner when actor reads the file.
    static uid_t uidOf(Owner owner, uid_t actor) { return owner == Owner::Root ? 0 : owner == Owner::Self ? actor : 1; }

    // Prepares the file for actor and answers whether actor read it, and
    // whether a warning named it; 0 when both are as the case expects.
    int check(uid_t actor)
    {
        const TrustCase& c = GetParam();
        const std::string folder = dir / "org1/Pelorus";
        std::string path = put("org1", "TrustedDomain.pel", "corp.example\n");
        if (c.link) {
            const std::string target = put("org2", "target", "corp.example\n");
            ::unlink(path.c_str());
            if (::symlink(target.c_str(), path.c_str()) != 0)
                return 10;
        }
        if (::lchown(path.c_str(), uidOf(c.fileOwner, actor), 0) != 0 ||
            ::chown(folder.c_str(), uidOf(c.folderOwner, actor), 0) != 0 ||
            (!c.link && ::chmod(path.c_str(), c.fileMode) != 0) || ::chmod(folder.c_str(), c.folderMode) != 0)
            return 11;
        ignoredWarnings();
        const int expected = c.read ? 1 : 0;
        const auto read = [&] {
            PatternList list;
            if (MAIL::TrustedDomain().load(list) != expected)
                return 2;
            const Texts warnings = ignoredWarnings();
            if (warnings.size() != (c.read ? 0u : 1u) ||
                (!c.read && warnings[0].find(path) == std::string::npos))
                return 3;
            MAIL::TrustedDomain().load(list);
            return ignoredWarnings().empty() ? 0 : 4;  // one warning per path
        };
        return actor == ::geteuid() ? read() : runAsUser(read);
    }
};

} // namespace

TEST_P(OrganisationFileTrust, IsReadOnlyWhenNoOneElseCanChangeIt)
{
    const TrustCase& c = GetParam();
    if (!runningAsRoot() && (c.folderOwner != Owner::Self || c.fileOwner != Owner::Self))
        GTEST_SKIP() << "giving files to root or another user needs root";
    // As the ordinary user (nobody when the suite runs as root), then as
    // root, for whom root and the user are one.
    EXPECT_EQ(check(runningAsRoot() ? 65534 : ::geteuid()), 0) << "as an ordinary user";
    if (runningAsRoot() && c.folderOwner != Owner::Other && c.fileOwner != Owner::Other) {
        EXPECT_EQ(check(0), 0) << "as root";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OrganisationFileTrust,
    testing::Values(TrustCase{"OwnedByRoot", Owner::Root, Owner::Root, 0755, 0644, false, true},
                    TrustCase{"OwnedByTheUser", Owner::Self, Owner::Self, 0700, 0600, false, true},
                    TrustCase{"RootFolderUserFile", Owner::Root, Owner::Self, 0755, 0644, false, true},
                    TrustCase{"GroupWritableFile", Owner::Root, Owner::Root, 0755, 0664, false, false},
                    TrustCase{"OtherWritableFile", Owner::Self, Owner::Self, 0755, 0646, false, false},
                    TrustCase{"GroupWritableFolder", Owner::Root, Owner::Root, 0775, 0644, false, false},
                    TrustCase{"FileOfAnotherUser", Owner::Root, Owner::Other, 0755, 0644, false, false},
                    TrustCase{"FolderOfAnotherUser", Owner::Other, Owner::Root, 0755, 0644, false, false},
                    TrustCase{"SymbolicLink", Owner::Self, Owner::Self, 0755, 0644, true, false}),
    [](const testing::TestParamInfo<TrustCase>& info) { return std::string(info.param.name); });
