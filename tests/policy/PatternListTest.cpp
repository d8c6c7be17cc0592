#include "policy/PatternList.h"
#include "policy/RecipientList.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using MAIL::PatternList;
using MAIL::RecipientList;
using MAIL::String;

namespace {

// Entries in the order they are added (the last is walked first); null
// stands for an entry without text.
std::unique_ptr<PatternList> listOf(const std::vector<const char*>& entries)
{
    auto list = std::make_unique<PatternList>();
    for (const char* entry : entries)
        list->add(new String(entry));
    return list;
}

struct MatchCase {
    const char* name;
    std::vector<const char*> entries;
    std::string address;  // or, for the caution lists, a file name
    bool expected;
    bool attachment = false;  // the caution lists: attachments, not domains
};

// Parameterised cases are named by their name field, in test names and output.
std::string caseName(const testing::TestParamInfo<MatchCase>& info) { return info.param.name; }
void PrintTo(const MatchCase& c, std::ostream* out) { *out << c.name; }

const std::string Mailbox1021(1021, 'm');
const std::string Mailbox1022(1022, 'm');

class PatternListTrustedRecipient : public testing::TestWithParam<MatchCase> {};
class PatternListAllowedDomain : public testing::TestWithParam<MatchCase> {};

} // namespace

TEST_P(PatternListTrustedRecipient, ComparesTheBracketPartsExactly)
{
    const MatchCase& c = GetParam();
    const auto list = listOf(c.entries);
    EXPECT_EQ(list->isTrustedRecipient(c.address.c_str()), c.expected) << c.address;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PatternListTrustedRecipient,
    testing::Values(
        MatchCase{"EmptyListTrustsNobody", {}, "<ann@corp.example>", false},
        MatchCase{"BracketedAddressBareEntry", {"ann@corp.example"}, "<ann@corp.example>", true},
        MatchCase{"LetterCaseCounts", {"Ann@corp.example"}, "<ann@corp.example>", false},
        MatchCase{"DisplayNameInEntryIsIgnored", {"Ann Lee <ann@corp.example>"}, "<ann@corp.example>", true},
        MatchCase{"BareAddressBracketedEntry", {"<ann@corp.example>"}, "ann@corp.example", true},
        MatchCase{"OpeningBracketOnly", {"ann@corp.example"}, "<ann@corp.example", true},
        MatchCase{"ClosingBracketOnlyIsKept", {"ann@corp.example"}, "ann@corp.example>", false},
        MatchCase{"ParametersAfterTheBracket", {"ann@corp.example"}, "<ann@corp.example> SIZE=1200", true},
        MatchCase{"NestedBracketsKeepTheInnerPair", {"ann@corp.example"}, "<<ann@corp.example>>", false},
        MatchCase{"NestedBracketsOnBothSides", {"x <<ann@corp.example>>"}, "<<ann@corp.example>>", true},
        MatchCase{"BlanksAreNotTrimmed", {" ann@corp.example"}, "<ann@corp.example>", false},
        MatchCase{"ASubstringIsNotEnough", {"ann@corp.example"}, "<joann@corp.example>", false},
        MatchCase{"AnyEntryMayMatch", {"bob@corp.example", "ann@corp.example", "cy@corp.example"},
                  "<ann@corp.example>", true},
        MatchCase{"AnEmptyEntryTrustsNoAddress", {""}, "<ann@corp.example>", false},
        MatchCase{"AnEntryWithoutTextIsSkipped", {"ann@corp.example", nullptr}, "<ann@corp.example>", true},
        MatchCase{"EmptyAddress", {""}, "", false},
        MatchCase{"Address1023CharactersIsEvaluated", {Mailbox1021.c_str()}, "<" + Mailbox1021 + ">", true},
        MatchCase{"Address1024CharactersIsRefused", {Mailbox1022.c_str()}, "<" + Mailbox1022 + ">", false}),
    caseName);

TEST(PatternListLimits, NullAddressesAndOverlongEntriesMatchNothing)
{
    const std::string longEntry = "Somebody " + std::string(1015, 'n') + " <ann@corp.example>";
    ASSERT_GE(longEntry.size(), 1024u);
    const auto list = listOf({longEntry.c_str(), ""});
    EXPECT_FALSE(list->isTrustedRecipient(nullptr));
    EXPECT_FALSE(list->isAllowedDomain(nullptr));
    EXPECT_FALSE(list->isTrustedRecipient("<ann@corp.example>"))
        << "an entry longer than any address that can be trusted never matches";
}

TEST_P(PatternListAllowedDomain, SearchesTheWholeAddressForAnEntry)
{
    const MatchCase& c = GetParam();
    const auto list = listOf(c.entries);
    EXPECT_EQ(list->isAllowedDomain(c.address.c_str()), c.expected) << c.address;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PatternListAllowedDomain,
    testing::Values(
        MatchCase{"EmptyListAuthorizesNobody", {}, "<ann@corp.example>", false},
        MatchCase{"DomainAtTheEnd", {"corp.example"}, "<ann@corp.example>", true},
        MatchCase{"LetterCaseCounts", {"Corp.example"}, "<ann@corp.example>", false},
        MatchCase{"LeadingCharactersWithTheBracket", {"<ann@co"}, "<ann@corp.example>", true},
        MatchCase{"Subdomain", {"corp.example"}, "<ann@mail.corp.example>", true},
        MatchCase{"LongerDomainBeginningWithTheEntry", {"corp.example"}, "<ann@corp.example.net>", true},
        MatchCase{"OtherDomain", {"corp.example"}, "<ann@corp.exampl>", false},
        MatchCase{"AnyEntryMayMatch", {"a.example", "corp.example"}, "<ann@corp.example>", true},
        MatchCase{"AnEmptyEntryAuthorizesEverything", {"a.example", ""}, "x", true},
        MatchCase{"AnEntryWithoutTextIsSkipped", {nullptr}, "<ann@corp.example>", false},
        MatchCase{"EmptyAddressEvenWithAnEmptyEntry", {""}, "", false},
        MatchCase{"NoLengthLimit", {"corp.example"}, "<" + std::string(5000, 'a') + "@corp.example>", true}),
    caseName);

namespace {

class PatternListCaution : public testing::TestWithParam<MatchCase> {};

} // namespace

// Domains match as they are or as a parent; attachments by a suffix or a
// word anywhere in the name; letter case never counts.
TEST_P(PatternListCaution, FindsAnEntryIgnoringCase)
{
    const MatchCase& c = GetParam();
    const auto list = listOf(c.entries);
    const char* text = c.address.c_str();
    EXPECT_EQ(c.attachment ? list->isCautionAttachment(text) : list->isCautionDomain(text), c.expected) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PatternListCaution,
    testing::Values(MatchCase{"EmptyListCautionsNobody", {}, "ann@rival.example", false},
                    MatchCase{"OtherLetterCase", {"Rival.EXAMPLE"}, "ann@rival.example", true},
                    MatchCase{"Subdomain", {"rival.example"}, "ann@mail.RIVAL.example", true},
                    MatchCase{"OtherDomain", {"rival.example"}, "ann@corp.example", false},
                    MatchCase{"AnEmptyDomainEntryMatchesNothing", {"", nullptr}, "ann@corp.example", false},
                    MatchCase{"NonAsciiIsComparedAsIs", {"\xc3\x84"}, "ann@\xc3\xa4.example", false},
                    MatchCase{"SuffixOtherCase", {".KEY"}, "server.key", true, true},
                    MatchCase{"SuffixOnlyAtTheEnd", {".key"}, "server.key.txt", false, true},
                    MatchCase{"SuffixLongerThanTheName", {".tar.gz"}, "a.gz", false, true},
                    MatchCase{"WordAnywhere", {"confidential"}, "Q3-Confidential.xlsx", true, true},
                    MatchCase{"WordMissing", {"confidential"}, "Q3-report.xlsx", false, true},
                    MatchCase{"AnEmptyAttachmentEntryMatchesNothing", {""}, "server.key", false, true},
                    MatchCase{"AnyEntryMayMatch", {".pem", "secret"}, "id.PEM", true, true}),
    caseName);

TEST(RecipientListJoin, AppendsEveryElementWithAComma)
{
    RecipientList list;
    std::string text = "kept:";
    list.join(text);
    EXPECT_EQ(text, "kept:") << "an empty list appends nothing";
    list.add(new String("x"));
    list.add(new String("y"));
    list.join(text);
    EXPECT_EQ(text, "kept:x,y,");
}
