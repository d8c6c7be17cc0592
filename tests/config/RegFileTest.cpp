#include "config/RegFile.h"

#include <gtest/gtest.h>

using namespace MAIL::regfile;

namespace {
constexpr const char* SettingKey = "HKEY_CURRENT_USER\\Software\\Corvane\\Application\\Pelorus\\Setting";
}

TEST(RegFile, ReadsAHandWrittenExport)
{
    const std::string file =
        "\xEF\xBB\xBF" "REGEDIT4\r\n"
        "\r\n"
        "[hkey_current_user\\software\\corvane\\application\\pelorus\\setting]\r\n"
        "\"Server\"=\"first.example\"\r\n"
        "\"Port\"=dword:0000024b\r\n"
        "\"Expand\"=hex(2):25,00,00\r\n"
        "garbage line\r\n"
        "\"Quoted\"=\"say \\\"hi\\\" C:\\\\dir\"\r\n"
        "\"SERVER\"=\"last.example\"\r\n"
        "\"Multi\"=hex(1):61,0d,0a,\\\r\n"
        "  62,00\r\n";
    const Document d = parse(file);
    const Key* key = d.find(SettingKey);
    ASSERT_NE(key, nullptr);
    const Value* server = key->find("server");
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->type, Value::Type::String);
    EXPECT_EQ(server->text, "last.example") << "the last duplicate wins";
    EXPECT_EQ(key->find("Port")->number, 0x24Bu);
    EXPECT_EQ(key->find("Expand")->type, Value::Type::Other);
    EXPECT_EQ(key->find("Quoted")->text, "say \"hi\" C:\\dir");
    EXPECT_EQ(key->find("Multi")->text, "a\r\nb");
    EXPECT_EQ(key->find("garbage"), nullptr);
}

TEST(RegFile, WritesWhatItReadsBackAndKeepsForeignTypes)
{
    Document d;
    Key& key = d.obtain(SettingKey);
    key.obtain("Text").type = Value::Type::String;
    key.obtain("Text").text = "line one\nline \"two\"\\";
    key.obtain("Number").type = Value::Type::Number;
    key.obtain("Number").number = 0xFFFFFFFFu;
    const Document other = parse("REGEDIT4\n[" + std::string(SettingKey) + "]\n\"Blob\"=hex:01,02,\\\n  03\n");
    key.values.push_back(other.keys[0].values[0]);

    const std::string text = serialize(d);
    EXPECT_EQ(text.find("line one\n"), std::string::npos) << "no raw line break in the file";
    const Document again = parse(text);
    const Key* k = again.find(SettingKey);
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->find("Text")->text, "line one\nline \"two\"\\");
    EXPECT_EQ(k->find("Number")->number, 0xFFFFFFFFu);
    EXPECT_EQ(k->find("Blob")->rawLines, (std::vector<std::string>{"\"Blob\"=hex:01,02,\\", "  03"}));
    EXPECT_EQ(serialize(again), text);
}

TEST(RegFile, IgnoresValuesOutsideKeysAndBrokenData)
{
    const Document d = parse("\"Orphan\"=\"x\"\n[K]\n\"A\"=dword:123456789\n\"B\"=\"unterminated\n\"C\"=hex(1):zz\n");
    ASSERT_EQ(d.keys.size(), 1u);
    EXPECT_TRUE(d.keys[0].values.empty());
}
