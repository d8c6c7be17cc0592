#include "analysis/message/AttachedFiles.h"
#include "analysis/message/MIMEFile.h"
#include "analysis/message/MailHeaderParser.h"

#include "MessageLog.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

using pelorus::test::fileMode;
using pelorus::test::listFolder;
using pelorus::test::pathExists;
using pelorus::test::readFile;
using pelorus::test::TempDir;
using pelorus::test::writeFile;

namespace {

std::string sample(const std::string& name) { return readFile(MESSAGE_TEST_DATA "/" + name); }

std::string base64(const std::string& bytes, std::size_t lineLength, const std::string& lineEnd = "\r\n")
{
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string encoded;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 2]);
        encoded += alphabet[group >> 18 & 63];
        encoded += alphabet[group >> 12 & 63];
        encoded += i + 1 < bytes.size() ? alphabet[group >> 6 & 63] : '=';
        encoded += i + 2 < bytes.size() ? alphabet[group & 63] : '=';
    }
    std::string out;
    for (std::size_t i = 0; i < encoded.size(); i += lineLength)
        out += encoded.substr(i, lineLength) + lineEnd;
    return out;
}

std::string quotedPrintable(const std::string& bytes)
{
    std::string out, line;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        char piece[4];
        if ((byte >= 33 && byte <= 126 && byte != '='))
            std::snprintf(piece, sizeof piece, "%c", c);
        else
            std::snprintf(piece, sizeof piece, "=%02X", byte);
        if (line.size() + std::strlen(piece) > 75) {
            out += line + "=\r\n";
            line.clear();
        }
        line += piece;
    }
    return out + line + "\r\n";
}

// Fills {SECRET_ZIP}, {SECRET_PDF}, {PLAIN_ZIP} with 76-column Base64.
std::string fill(std::string mail)
{
    const std::map<std::string, std::string> files = {{"{SECRET_ZIP}", base64(sample("secret.zip"), 76)},
                                                      {"{SECRET_PDF}", base64(sample("secret.pdf"), 76)},
                                                      {"{PLAIN_ZIP}", base64(sample("plain.zip"), 76)}};
    for (const auto& [key, value] : files)
        for (std::size_t at; (at = mail.find(key)) != std::string::npos;)
            mail.replace(at, key.size(), value);
    return mail;
}

std::string verdict(const MIMEFile& file)
{
    if (!file.isProtected())
        return "x";
    return file.getProtectionKind() == MAIL::ProtectionIRM ? "IRM" : "PWD";
}

// What the dialog would list for the mail, as the session judges it: the
// boundary from the header parser, the spool file in a folder of its own.
std::vector<std::string> judge(const std::string& mail)
{
    MAIL::MailHeaderParser parser;
    parser.parse(std::string_view(mail));
    TempDir dir;
    const std::string spool = dir / "{0B3F58C4-7D5E-4B7A-9E1D-2A6C8F0B1E37}.msg";
    writeFile(spool, mail);
    std::vector<std::string> listed;
    {
        AttachedFiles files(spool.c_str(), parser.getBoundary().getText());
        EXPECT_EQ(fileMode(spool + "_attached"), 0700);
        MAIL::LinkedList list;
        files.parse(list);
        files.clear();
        EXPECT_FALSE(pathExists(spool + "_attached")) << "the folder is removed";
        list.forEach<MIMEFile>([&](const MIMEFile& file) {
            listed.push_back(std::string(file.getName()) + ":" + verdict(file));
            EXPECT_FALSE(file.isOpen());
            if (file.getPath()[0] != '\0') {
                EXPECT_FALSE(pathExists(file.getPath()));
            }
        });
    }
    EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"{0B3F58C4-7D5E-4B7A-9E1D-2A6C8F0B1E37}.msg"});
    return listed;
}

using Listing = std::vector<std::string>;

} // namespace

TEST(AttachedFiles, MailsOfRealWriters)
{
    struct Case {
        const char* file;
        Listing listed;
    };
    const Case cases[] = {
        {"python-ascii.eml", {"secret.zip:PWD", "plain.pdf:x"}},
        {"python-nonascii.eml",
         {"見積書_2024年度_第3四半期_営業部_最終版_社外秘_取扱注意.pdf:PWD", "Überblick.zip:x"}},
        {"python-alternative.eml", {"inner.zip:PWD"}},
        {"curl-form.eml", {"secret.zip:PWD", "plain.pdf:x"}},
        {"swaks-attach.eml", {"secret.pdf:PWD", "secret.zip:PWD"}},
        {"openssl-signed.eml", {"signed.zip:PWD", "smime.p7s:x"}},
        {"python-name-only.eml", {"secret.zip:PWD", "見積書.pdf:x"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(judge(sample(c.file)), c.listed) << c.file;
}

TEST(AttachedFiles, PartsAsClientsWriteThem)
{
    const std::string head = "To: b@example.net\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n\r\npreamble\r\n";
    struct Case {
        const char* name;
        std::string body;
        Listing listed;
    };
    const Case cases[] = {
        {"folded RFC 2047 name, then a folded disposition",
         "--b1\r\nContent-Type: application/pdf;\r\n name=\"=?UTF-8?B?6KaL56mN5pu4?=\r\n =?UTF-8?B?LnBkZg==?=\"\r\n"
         "Content-Disposition: attachment;\r\n filename=\"x.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
         "{SECRET_PDF}--b1--\r\n",
         {"見積書.pdf:PWD"}},
        {"long quoted name folded over two continuation lines",
         "--b1\r\nContent-Type: application/zip; name=\"a-very-long-name-\r\n\tpart-two-\r\n\tpart-three.zip\"\r\n"
         "Content-Disposition: attachment\r\n\r\n{SECRET_ZIP}--b1--\r\n",
         {"a-very-long-name-part-two-part-three.zip:PWD"}},
        {"disposition with its filename as the last header line",
         "--b1\r\nContent-Type: application/zip\r\nContent-Transfer-Encoding: base64\r\n"
         "Content-Disposition: attachment; filename=\"last.zip\"\r\n\r\n{SECRET_ZIP}--b1--\r\n",
         {"last.zip:PWD"}},
        {"RFC 2231 ISO-2022-JP continuations",
         "--b1\r\nContent-Type: application/zip;\r\n name*0*=iso-2022-jp''%1B%24B8+%40Q%3Dq%1B%28B;\r\n name*1=.zip\r\n"
         "Content-Disposition: attachment\r\n\r\n{SECRET_ZIP}--b1--\r\n",
         {"見積書.zip:PWD"}},
        {"Q-encoded ISO-8859-1 name",
         "--b1\r\nContent-Disposition: inline; filename=\"=?ISO-8859-1?Q?Caf=E9.zip?=\"\r\n\r\n{PLAIN_ZIP}--b1--\r\n",
         {"Café.zip:x"}},
        {"a text part after an attachment takes no earlier name",
         "--b1\r\nContent-Disposition: attachment; filename=\"a.zip\"\r\n\r\n{SECRET_ZIP}"
         "--b1\r\nContent-Type: text/plain\r\nContent-Disposition: inline\r\n\r\nthanks\r\n--b1--\r\n",
         {"a.zip:PWD"}},
        {"a named part before any disposition is a file too",
         "--b1\r\nContent-Type: text/plain; name=\"body.txt\"\r\n\r\nhello\r\n"
         "--b1\r\nContent-Type: application/zip; name=\"ct.zip\"\r\n"
         "Content-Disposition: attachment; filename=\"cd.zip\"\r\n\r\n{SECRET_ZIP}--b1--\r\n",
         {"body.txt:x", "ct.zip:PWD"}},
        {"names only in the Content-Type, no disposition in the mail, body text unnamed",
         "--b1\r\nContent-Type: text/plain\r\n\r\nhello\r\n"
         "--b1\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<p>hello</p>\r\n"
         "--b1\r\nContent-Type: application/zip; name=only.zip\r\nContent-Transfer-Encoding: base64\r\n\r\n"
         "{SECRET_ZIP}"
         "--b1\r\nContent-Type: application/pdf;\r\n name*0*=utf-8''%E8%A6%8B;\r\n name*1=\".pdf\"\r\n\r\n"
         "{SECRET_PDF}--b1--\r\n",
         {"only.zip:PWD", "見.pdf:PWD"}},
        {"a filename with an empty disposition type",
         "--b1\r\nContent-Disposition: ; filename=\"bare.zip\"\r\n\r\n{PLAIN_ZIP}--b1--\r\n",
         {"bare.zip:x"}},
        {"several attachments, no closing line",
         "--b1\r\nContent-Disposition: attachment; filename=\"1.zip\"\r\n\r\n{PLAIN_ZIP}"
         "--b1\r\nContent-Disposition: attachment; filename=\"2.zip\"\r\n\r\n{SECRET_ZIP}",
         {"1.zip:x", "2.zip:PWD"}},
        {"headers cut off by the end of the file",
         "--b1\r\nContent-Disposition: attachment; filename=\"cut.zip\"\r\n",
         {"cut.zip:x"}},
        {"padded boundary lines and uneven Base64 lines",
         "--b1  \t\r\nContent-Disposition: attachment; filename=\"pad.zip\"\r\n\r\n" +
             base64(sample("secret.zip"), 50, " \r\n") + "--b1-- \r\n",
         {"pad.zip:PWD"}},
        {"quoted-printable body",
         "--b1\r\nContent-Type: application/pdf; name=\"qp.pdf\"\r\nContent-Disposition: attachment\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
             quotedPrintable(sample("secret.pdf")) + "--b1--\r\n",
         {"qp.pdf:PWD"}},
        {"nested levels, bare boundaries, closing lines of their own",
         "--b1\r\nContent-Type: multipart/related; boundary=r1\r\n\r\n"
         "--r1\r\nContent-Type: multipart/alternative; boundary=\"a1\"\r\n\r\n"
         "--a1\r\nContent-Type: text/plain\r\n\r\ntext\r\n--a1\r\nContent-Type: text/html\r\n\r\n<p>x</p>\r\n--a1--\r\n"
         "--r1\r\nContent-Type: image/png; name=\"logo.png\"\r\nContent-Disposition: inline\r\n\r\niVBORw0K\r\n"
         "--r1--\r\n"
         "--b1\r\nContent-Disposition: attachment; filename=\"outer.zip\"\r\n\r\n{SECRET_ZIP}--b1--\r\n",
         {"logo.png:x", "outer.zip:PWD"}},
        {"an outer boundary closes an unclosed nested level",
         "--b1\r\nContent-Type: multipart/alternative; boundary=\"a1\"\r\n\r\n--a1\r\nContent-Type: text/plain\r\n\r\nx\r\n"
         "--b1\r\nContent-Disposition: attachment; filename=\"after.zip\"\r\n\r\n{SECRET_ZIP}--b1--\r\n",
         {"after.zip:PWD"}},
        {"lines after the closing line are not read",
         "--b1--\r\n--b1\r\nContent-Disposition: attachment; filename=\"late.zip\"\r\n\r\n{SECRET_ZIP}",
         {}},
        {"boundary never appears", "--other\r\nContent-Disposition: attachment; filename=\"no.zip\"\r\n\r\nAAAA\r\n", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(judge(head + fill(c.body)), c.listed) << c.name;
}

TEST(AttachedFiles, NoBoundaryOrNoSpoolFileReadsNothing)
{
    TempDir dir;
    writeFile(dir / "m.msg", "--\r\nContent-Disposition: attachment; filename=\"a.zip\"\r\n\r\n");
    for (const char* boundary : {static_cast<const char*>(nullptr), ""}) {
        AttachedFiles files((dir / "m.msg").c_str(), boundary);
        MAIL::LinkedList list;
        EXPECT_FALSE(files.parse(list));
        EXPECT_EQ(list.getLength(), 0);
    }
    AttachedFiles missing((dir / "none.msg").c_str(), "b1");
    MAIL::LinkedList list;
    EXPECT_FALSE(missing.parse(list));
}

TEST(AttachedFiles, UntrustedNamesNeverLeaveTheFolderNorFollowLinks)
{
    TempDir dir;
    const std::string spool = dir / "m.msg";
    const std::string mail = fill(
        "Content-Type: multipart/mixed; boundary=b1\r\n\r\n"
        "--b1\r\nContent-Disposition: attachment; filename=\"../../escape.zip\"\r\n\r\n{SECRET_ZIP}"
        "--b1\r\nContent-Disposition: attachment; filename=\"taken.zip\"\r\n\r\n{SECRET_ZIP}--b1--\r\n");
    writeFile(spool, mail);
    writeFile(dir / "outside.zip", "untouched");
    AttachedFiles files(spool.c_str(), "b1");
    const std::string folder = spool + "_attached";
    ASSERT_EQ(::symlink((dir / "outside.zip").c_str(), (folder + "/taken.zip").c_str()), 0);
    MAIL::LinkedList list;
    ASSERT_TRUE(files.parse(list));
    std::vector<std::string> paths;
    list.forEach<MIMEFile>([&](const MIMEFile& file) {
        paths.push_back(file.getPath());
        EXPECT_EQ(verdict(file), "PWD") << file.getName();
    });
    EXPECT_EQ(paths, (std::vector<std::string>{folder + "/___.._escape.zip", folder + "/taken (2).zip"}));
    EXPECT_EQ(readFile(dir / "outside.zip"), "untouched");
    files.clear();
    EXPECT_FALSE(pathExists(folder));
    EXPECT_EQ(readFile(dir / "outside.zip"), "untouched") << "clear removes the link, not its target";
}

TEST(MIMEFile, CreatedNewWithMode0600)
{
    TempDir dir;
    MIMEFile file("n.pdf");
    EXPECT_EQ(file.write("x", 1), 0u) << "nothing open";
    EXPECT_FALSE(file.close());
    ASSERT_TRUE(file.open((dir / "n.pdf").c_str()));
    EXPECT_EQ(file.getPath(), dir / "n.pdf");
    EXPECT_EQ(file.write("abc", 3), 3u);
    EXPECT_TRUE(file.close());
    EXPECT_EQ(fileMode(dir / "n.pdf"), 0600);
    EXPECT_EQ(readFile(dir / "n.pdf"), "abc");

    MIMEFile again("n.pdf");
    EXPECT_FALSE(again.open((dir / "n.pdf").c_str())) << "an existing file is never reused";
    EXPECT_STREQ(again.getPath(), "");

    const std::string longName(2000, 'a');
    EXPECT_EQ(std::string(MIMEFile(longName.c_str()).getName()).size(), MIMEFile::MaxText);
    EXPECT_STREQ(MIMEFile().getName(), "");
}

TEST(AttachedFiles, ClearEmptiesAndRemovesTheFolder)
{
    TempDir dir;
    const std::string spool = dir / "m.msg";
    pelorus::test::clearMessageLog();
    {
        AttachedFiles files(spool.c_str(), "b1");
        writeFile(spool + "_attached/left.pdf", "x");
        files.clear();
        EXPECT_FALSE(pathExists(spool + "_attached"));
        files.clear();  // nothing left to find
    }
    const std::string log = pelorus::test::messageLog();
    for (const std::string& line : {"DEBUG: AttachedFilels#clear,1,pattern=" + spool + "_attached/*",
                                   "DEBUG: AttachedFilels#clear,1,OK.Deleted " + spool + "_attached/left.pdf",
                                   "DEBUG: AttachedFilels#clear,4,OK.Deleted " + spool + "_attached",
                                   "DEBUG: AttachedFilels#clear,1-1,No hitting files for= " + spool + "_attached/*"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\nin:\n" << log;
}

TEST(AttachedFiles, LogLines)
{
    TempDir dir;
    const std::string spool = dir / "m.msg";
    writeFile(spool, fill("--b1\r\nContent-Type: application/zip;\r\n name=\"a.zip\"\r\n"
                          "Content-Disposition: attachment\r\n\r\n{SECRET_ZIP}--b1--\r\n"));
    pelorus::test::clearMessageLog();
    AttachedFiles files(spool.c_str(), "b1");
    MAIL::LinkedList list;
    ASSERT_TRUE(files.parse(list));
    const std::string log = pelorus::test::messageLog();
    for (const char* line : {"DEBUG: AttachedFiles#parse,2,Found boundary=[--b1] line=4 blen=4\n",
                             "DEBUG: AttachedFile#parse,5,name=name=\"a.zip\"",
                             "DEBUG: AttachedFile#parse,3,Content-Type line =Content-Type: application/zip;name=\"a.zip\"",
                             "DEBUG: AttachedFile#parse,1,name=a.zip", "DEBUG: AttachedFile#parse,1,file=[a.zip]",
                             "DEBUG: AttachedFile#parse,2,file=[a.zip]"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\nin:\n" << log;
}
