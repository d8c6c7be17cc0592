#include "analysis/message/Base64Decoder.h"
#include "analysis/message/URLDecoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using MAIL::Base64Decoder;
using MAIL::Base64Stream;

namespace {

std::string decodeWord(const std::string& input, int& length)
{
    std::unique_ptr<unsigned char[]> out;
    Base64Decoder().decode(input.data(), input.size(), out, length);
    return std::string(reinterpret_cast<const char*>(out.get()), static_cast<std::size_t>(length));
}

// Decodes a body handed over in the given pieces.
std::string decodeStream(const std::vector<std::string>& pieces)
{
    Base64Stream stream;
    std::string out;
    for (const std::string& piece : pieces) {
        std::vector<unsigned char> buffer(Base64Stream::maxOutput(piece.size()));
        const std::size_t n = stream.decode(piece, buffer.data());
        out.append(reinterpret_cast<const char*>(buffer.data()), n);
    }
    unsigned char tail[2];
    const std::size_t n = stream.finish(tail);
    out.append(reinterpret_cast<const char*>(tail), n);
    return out;
}

std::string encode(const std::string& bytes)
{
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 2]);
        out += alphabet[group >> 18 & 63];
        out += alphabet[group >> 12 & 63];
        out += i + 1 < bytes.size() ? alphabet[group >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? alphabet[group & 63] : '=';
    }
    return out;
}

} // namespace

TEST(Base64Decoder, EncodedWordRules)
{
    struct Case {
        const char* name;
        std::string input;
        std::string bytes;
        int length;
    };
    const Case cases[] = {
        {"whole groups", "SGVsbG8h", "Hello!", 6},
        {"one pad", "SGVsbG8=", "Hello", 5},
        {"two pads", "SGVsbA==", "Hell", 4},
        {"unpadded tail decodes as if padded with zeros", "SGVsbG8", "Hello", 5},
        {"76 characters give 57 bytes", std::string(76, 'A'), std::string(57, '\0'), 57},
        {"only padding never goes below zero", "====", "", 0},
        {"one character writes nothing it could claim", "Q", "", 0},
        {"empty", "", "", 0},
        {"outside the alphabet counts as zero bits", "S?Vs", std::string("H\x05l", 3), 3},
    };
    for (const Case& c : cases) {
        int length = -1;
        EXPECT_EQ(decodeWord(c.input, length), c.bytes) << c.name;
        EXPECT_EQ(length, c.length) << c.name;
    }
    std::unique_ptr<unsigned char[]> untouched;
    int length = 7;
    EXPECT_EQ(Base64Decoder().decode(nullptr, 4, untouched, length), 0);
    EXPECT_EQ(length, 7);
    EXPECT_EQ(untouched, nullptr);
}

TEST(Base64Stream, AnyCutOfABodyGivesTheSameBytes)
{
    std::mt19937 random(42);
    std::string bytes(1000, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    const std::string encoded = encode(bytes);
    // As mail writers lay it out: 76-character lines with CR LF.
    std::string body;
    for (std::size_t i = 0; i < encoded.size(); i += 76)
        body += encoded.substr(i, 76) + "\r\n";
    EXPECT_EQ(decodeStream({body}), bytes);
    for (std::size_t cut = 0; cut <= body.size(); ++cut)
        ASSERT_EQ(decodeStream({body.substr(0, cut), body.substr(cut)}), bytes) << "cut at " << cut;
    std::vector<std::string> single;
    for (char c : body)
        single.emplace_back(1, c);
    EXPECT_EQ(decodeStream(single), bytes);
}

TEST(Base64Stream, BlanksAndOddLineLengthsDoNotShiftTheBytes)
{
    const std::string bytes = "%PDF-1.7 the signature must survive odd line lengths";
    const std::string encoded = encode(bytes);
    struct Case {
        const char* name;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"lines of 10", {encoded.substr(0, 10), encoded.substr(10, 10), encoded.substr(20)}},
        {"trailing blanks and tabs", {encoded.substr(0, 13) + " \t", encoded.substr(13) + "  "}},
        {"bare LF and CR inside", {encoded.substr(0, 5) + "\r", "\n" + encoded.substr(5)}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(decodeStream(c.lines), bytes) << c.name;
}

TEST(Base64Stream, PaddingEndsItsGroupAndDecodingGoesOn)
{
    EXPECT_EQ(decodeStream({"SGk=SGk="}), "HiHi");
    EXPECT_EQ(decodeStream({"SGVsbA", "=="}), "Hell");
    EXPECT_EQ(decodeStream({"SGVsbG8"}), "Hello") << "a group without its padding is still written";
    EXPECT_EQ(decodeStream({"S"}), "") << "one character holds no whole byte";
}

TEST(URLDecoder, PercentAndPlus)
{
    struct Case {
        const char* input;
        std::string output;
    };
    const Case cases[] = {
        {"a+b", "a b"},
        {"%1B%24B", "\x1b$B"},
        {"%e3%81", "\xe3\x81"},
        {"%zz!", ""},  // "%zz" is byte 0, which ends the text
        {"abc%4", "abc@"},                            // one digit: high nibble 4, low 0
        {"plain", "plain"},
    };
    for (const Case& c : cases) {
        const auto decoded = MAIL::URLDecoder().decode(c.input);
        ASSERT_NE(decoded, nullptr);
        EXPECT_EQ(std::string(decoded.get()), c.output) << c.input;
    }
    EXPECT_EQ(MAIL::URLDecoder().decode(nullptr), nullptr);

    std::string rfc2231;
    MAIL::percentDecode("a+b%2B%zz%4", rfc2231);
    EXPECT_EQ(rfc2231, "a+b+%zz%4") << "RFC 2231 values know no '+' rule and keep stray '%'";
}
