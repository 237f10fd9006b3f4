// The device protocol's text form: requests as the device receives them, answers as hostile
// input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/protocol_codec.h"

namespace {

// The storage commands' tag table, in its order.
const std::vector<std::string> StorageTags = {
    "JOB", "COMMAND", "TYPE", "PARAM", "CODE", "ATTRIBUTE", "FOLDERID", "PASSWORD", "FOLDERNAME",
    "FILEID", "FILENAME", "TIMESTAMP", "PAGES", "DOCUMENTID", "USERID", "STATUS", "IMAGEPATH",
    "SUBJECT", "USERHANDLE", "DOCUMENT", "OWNER", "DOCTYPE", "SERVER", "STRAGE", "XPIXEL",
    "YPIXEL", "XRESOLUTION", "YRESOLUTION", "PAGE", "RESOLUTION", "DOCSIZE", "SCALING",
    "DENSITY", "ERRORCODE", "ERRORWORDING", "FILE", "FOLDER", "DATASIZE", "PAGENUMBER",
    "ROOTNAME", "USERNAME", "USER", "PACKET", "MODE", "HPIXEL", "HRESOLUTION", "SCAN", "STORAGE"};

enum { JOB = 0, COMMAND = 1, TYPE = 2, PARAM = 3, CODE = 4, FOLDERID = 6, PASSWORD = 7,
       FOLDERNAME = 8, OWNER = 20, DOCTYPE = 21, SERVER = 22, STRAGE = 23, STORAGE = 47 };

TagNames Tags()
{
    TagNames tags;
    EXPECT_TRUE(tags.Assign(StorageTags));
    return tags;
}

struct Walked {
    int tag;
    int depth;
    std::string text;
    bool operator==(const Walked&) const = default;
};

std::vector<Walked> Walk(const Answer& answer)
{
    std::vector<Walked> walked;
    for (const AnswerElement& element : answer.elements)
        walked.push_back({element.tag, element.depth, std::string(answer.Text(element))});
    return walked;
}

std::string Nested(int depth)
{
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += "<PARAM>";
    text += "x";
    for (int i = 0; i < depth; ++i)
        text += "</PARAM>";
    return text;
}

}  // namespace

TEST(ProtocolCodec, RequestIsWrittenAsTheWireFormatSays)
{
    TagNames tags = Tags();
    RequestTree tree;
    ASSERT_TRUE(tree.BeginElement(tags, JOB));
    ASSERT_TRUE(tree.AddText(tags, COMMAND, "LIST"));
    ASSERT_TRUE(tree.AddText(tags, TYPE, "STRAGE"));
    ASSERT_TRUE(tree.BeginElement(tags, PARAM));
    ASSERT_TRUE(tree.BeginElement(tags, STRAGE));
    ASSERT_TRUE(tree.AddInt(tags, OWNER, -3));
    // Characters that XML 1.0 cannot carry are dropped, not written as references.
    ASSERT_TRUE(tree.AddText(tags, PASSWORD, "a<b&c>\"\x01" "d\x1B'\xEF\xBF\xBF"));
    ASSERT_TRUE(tree.AddId(tags, FOLDERID, 0x1A, 8));
    // The open elements are closed by writing.
    EXPECT_EQ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<JOB><COMMAND>LIST</COMMAND><TYPE>STRAGE</TYPE><PARAM><STRAGE><OWNER>-3</OWNER>"
              "<PASSWORD>a&lt;b&amp;c&gt;\"d'</PASSWORD><FOLDERID>0000001A</FOLDERID></STRAGE>"
              "</PARAM></JOB>",
              tree.Serialize(tags));
}

TEST(ProtocolCodec, RequestRoundTripsThroughTheAnswerParser)
{
    TagNames tags = Tags();
    RequestTree tree;
    ASSERT_TRUE(tree.BeginElement(tags, SERVER));
    ASSERT_TRUE(tree.AddText(tags, FOLDERNAME, "M\xC3\xBCller \xE6\x97\xA5\xE6\x9C\xAC"));
    ASSERT_TRUE(tree.AddText(tags, PASSWORD, "  "));
    ASSERT_TRUE(tree.AddText(tags, COMMAND, "tab\tand\x01" "control"));
    ASSERT_TRUE(tree.AddInt(tags, CODE, INT32_MIN));
    ASSERT_TRUE(tree.AddId(tags, FOLDERID, 0xFFFFFFFFu, 8));
    ASSERT_TRUE(tree.EndElement());
    ASSERT_TRUE(tree.BeginElement(tags, STORAGE));
    ASSERT_TRUE(tree.AddText(tags, STRAGE, ""));

    Answer answer;
    ASSERT_EQ(AnswerStatus::Ok, ParseAnswer(tree.Serialize(tags), tags, answer));
    std::vector<Walked> expected = {
        {SERVER, 1, ""},
        {FOLDERNAME, 2, "M\xC3\xBCller \xE6\x97\xA5\xE6\x9C\xAC"},
        {PASSWORD, 2, "  "},
        {COMMAND, 2, "tab\tandcontrol"},
        {CODE, 2, "-2147483648"},
        {FOLDERID, 2, "FFFFFFFF"},
        {STORAGE, 1, ""},
        {STRAGE, 2, ""},
    };
    EXPECT_EQ(expected, Walk(answer));
    int32_t number;
    EXPECT_TRUE(ParseInt(answer.Text(answer.elements[4]), number));
    EXPECT_EQ(INT32_MIN, number);
    uint32_t id;
    EXPECT_TRUE(ParseId(answer.Text(answer.elements[5]), id));
    EXPECT_EQ(0xFFFFFFFFu, id);
}

TEST(ProtocolCodec, RequestBuildingRefusesWhatCannotBeSent)
{
    TagNames tags = Tags();
    RequestTree tree;
    EXPECT_FALSE(tree.EndElement());
    EXPECT_FALSE(tree.BeginElement(tags, -1));
    EXPECT_FALSE(tree.BeginElement(tags, 48));
    EXPECT_FALSE(tree.AddText(tags, 99, "x"));
    EXPECT_FALSE(tree.AddId(tags, FOLDERID, 1, 0));
    EXPECT_FALSE(tree.AddId(tags, FOLDERID, 1, 9));
    EXPECT_FALSE(tree.AddText(tags, COMMAND, std::string(MaxRequestText + 1, 'x')));
    for (size_t i = 0; i < MaxRequestDepth; ++i)
        ASSERT_TRUE(tree.BeginElement(tags, PARAM));
    EXPECT_FALSE(tree.BeginElement(tags, PARAM));
    EXPECT_FALSE(tree.AddInt(tags, OWNER, 1));
    ASSERT_TRUE(tree.EndElement());
    EXPECT_TRUE(tree.AddInt(tags, OWNER, 1));
    EXPECT_EQ(MaxRequestDepth + 1, tree.size());
    tree.Clear();
    EXPECT_EQ(0u, tree.size());
    EXPECT_FALSE(tree.EndElement());
}

TEST(ProtocolCodec, TagTablesHoldPlainNamesOnly)
{
    TagNames tags;
    EXPECT_FALSE(tags.Assign({}));
    EXPECT_FALSE(tags.Assign({"JOB", "BAD NAME"}));
    EXPECT_FALSE(tags.Assign({"JOB", "<x>"}));
    EXPECT_FALSE(tags.Assign({"1ST"}));
    EXPECT_FALSE(tags.Assign({std::string(MaxTagNameLength + 1, 'A')}));
    EXPECT_FALSE(tags.Assign(std::vector<std::string>(MaxTagNames + 1, "A")));
    ASSERT_TRUE(tags.Assign({"A", "B", "A"}));
    EXPECT_EQ(0, tags.Find("A"));
    EXPECT_EQ(1, tags.Find("B"));
    EXPECT_EQ(-1, tags.Find("a"));
    EXPECT_EQ(-1, tags.Find(""));
}

TEST(ProtocolCodec, AnswersAreWalkedInDocumentOrderWithUnknownNames)
{
    TagNames tags = Tags();
    Answer answer;
    std::string body =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!-- a comment -->\n"
        "<JOB>\n  <CODE> 600 </CODE>\n"
        "  <VENDOR><FOLDERID>1</FOLDERID>stray text</VENDOR>\n"
        "  <STRAGE><FOLDERNAME><![CDATA[a <b>]]></FOLDERNAME><FOLDERID/></STRAGE>\n"
        "</JOB>\n";
    ASSERT_EQ(AnswerStatus::Ok, ParseAnswer(body, tags, answer));
    std::vector<Walked> expected = {
        {JOB, 1, ""},       {CODE, 2, " 600 "},       {-1, 2, "stray text"}, {FOLDERID, 3, "1"},
        {STRAGE, 2, ""},    {FOLDERNAME, 3, "a <b>"}, {FOLDERID, 3, ""},
    };
    EXPECT_EQ(expected, Walk(answer));
}

TEST(ProtocolCodec, AnswersWithoutElementsAreEmptyAndGarbageIsRefused)
{
    TagNames tags = Tags();
    Answer answer;
    EXPECT_EQ(AnswerStatus::Ok, ParseAnswer("", tags, answer));
    EXPECT_TRUE(answer.elements.empty());
    EXPECT_EQ(AnswerStatus::Ok, ParseAnswer(" \r\n<?xml version=\"1.0\"?>\n", tags, answer));
    EXPECT_TRUE(answer.elements.empty());

    for (const char* bad : {"garbage", "<JOB><CODE>600</JOB>", "<JOB><CODE>600</CODE>", "<JOB",
                            "<JOB></job>", "<JOB a=></JOB>"}) {
        answer.elements.push_back({});
        EXPECT_EQ(AnswerStatus::Malformed, ParseAnswer(bad, tags, answer)) << bad;
        EXPECT_TRUE(answer.elements.empty()) << bad;
    }
}

TEST(ProtocolCodec, HostileAnswersAreBounded)
{
    TagNames tags = Tags();
    Answer answer;

    // Past the size or markup bound an answer keeps the root's children that arrived whole.
    std::string huge = "<JOB><CODE>600</CODE>" + std::string(MaxAnswerBytes, ' ') + "<CODE>1</CODE></JOB>";
    ASSERT_EQ(AnswerStatus::Ok, ParseAnswer(huge, tags, answer));
    EXPECT_EQ((std::vector<Walked>{{JOB, 1, ""}, {CODE, 2, "600"}}), Walk(answer));
    ASSERT_EQ(AnswerStatus::Ok, ParseAnswer("<JOB/>" + std::string(MaxAnswerBytes, ' '), tags, answer));
    EXPECT_EQ(1u, answer.elements.size());

    std::string markup = "<JOB>";
    for (size_t i = 0; i < MaxAnswerMarkup / 4 + 1; ++i)
        markup += "<STRAGE><CODE>1</CODE></STRAGE>";
    markup += "</JOB>";
    ASSERT_LT(markup.size(), MaxAnswerBytes);
    ASSERT_EQ(AnswerStatus::Ok, ParseAnswer(markup, tags, answer));
    // The record cut by the bound is left out.
    EXPECT_EQ(1 + 2 * ((MaxAnswerMarkup - 1) / 4), answer.elements.size());
    EXPECT_EQ(CODE, answer.elements.back().tag);
    EXPECT_EQ(AnswerStatus::TooLarge, ParseAnswer("<JOB a=\"" + std::string(MaxAnswerBytes, 'a') + "\"/>", tags, answer));

    ASSERT_EQ(AnswerStatus::Ok, ParseAnswer(Nested(MaxAnswerDepth), tags, answer));
    EXPECT_EQ(MaxAnswerDepth, answer.elements.size());
    EXPECT_EQ(static_cast<int>(MaxAnswerDepth), answer.elements.back().depth);
    EXPECT_EQ("x", answer.Text(answer.elements.back()));
    EXPECT_EQ(AnswerStatus::TooDeep, ParseAnswer(Nested(MaxAnswerDepth + 1), tags, answer));
    EXPECT_TRUE(answer.elements.empty());
    // Far deeper than any stack would hold if the walk recursed.
    EXPECT_EQ(AnswerStatus::TooDeep, ParseAnswer(Nested(100000), tags, answer));
}

// Past the markup bound an answer is cut to its whole children; the cut must not turn a hostile
// answer into an empty one that the caller reads as "nothing there" without any failure.
TEST(ProtocolCodec, CutAnswersAreRefusedWhenTheyAreTooDeepOrKeepNothing)
{
    TagNames tags = Tags();
    Answer answer;
    auto wrapped = [](const std::string& inner) { return "<SERVER>" + inner + "</SERVER>"; };

    // A million deep: only the cut part is ever looked at, and it is already too deep.
    std::string million = wrapped("<CODE>600</CODE>" + Nested(1000000));
    ASSERT_LT(million.size(), MaxAnswerBytes);
    answer.elements.push_back({});
    EXPECT_EQ(AnswerStatus::TooDeep, ParseAnswer(million, tags, answer));
    EXPECT_TRUE(answer.elements.empty());
    // Just within the markup bound the whole text is parsed, with the same outcome.
    std::string within = wrapped(Nested(static_cast<int>(MaxAnswerMarkup / 2) - 2));
    EXPECT_EQ(AnswerStatus::TooDeep, ParseAnswer(within, tags, answer));
    // Deep nesting after the last whole child, and just one level past the bound.
    std::string shallowPast = wrapped("<CODE>600</CODE><USER>" + Nested(static_cast<int>(MaxAnswerDepth) - 1) +
                                      std::string(MaxAnswerMarkup, '<'));
    EXPECT_EQ(AnswerStatus::TooDeep, ParseAnswer(shallowPast, tags, answer));

    // One record holding more markup than the bound: nothing of the root's arrives whole.
    std::string oneRecord = "<SERVER><USER>";
    for (size_t i = 0; i < MaxAnswerMarkup / 2 + 1; ++i)
        oneRecord += "<USERID>1</USERID>";
    oneRecord += "</USER></SERVER>";
    EXPECT_EQ(AnswerStatus::TooMuchMarkup, ParseAnswer(oneRecord, tags, answer));
    EXPECT_TRUE(answer.elements.empty());
    // The same record cut inside its own start tag.
    EXPECT_EQ(AnswerStatus::TooLarge,
              ParseAnswer("<SERVER><USER a=\"" + std::string(MaxAnswerBytes, 'a') + "\"/></SERVER>", tags, answer));
    // With one whole record before it, that record is kept as before.
    std::string kept = "<SERVER><CODE>600</CODE>" + oneRecord.substr(8);
    ASSERT_EQ(AnswerStatus::Ok, ParseAnswer(kept, tags, answer));
    EXPECT_EQ((std::vector<Walked>{{SERVER, 1, ""}, {CODE, 2, "600"}}), Walk(answer));
}

TEST(ProtocolCodec, EntitiesAreNotDefinedByTheAnswer)
{
    TagNames tags = Tags();
    Answer answer;
    std::string body =
        "<!DOCTYPE JOB [<!ENTITY boom \"BOOM\"><!ENTITY ext SYSTEM \"file:///etc/passwd\">]>"
        "<JOB><CODE>&boom;&ext;&amp;&#65;</CODE></JOB>";
    ASSERT_EQ(AnswerStatus::Ok, ParseAnswer(body, tags, answer));
    ASSERT_EQ(2u, answer.elements.size());
    EXPECT_EQ("&boom;&ext;&A", answer.Text(answer.elements[1]));
}

TEST(ProtocolCodec, AnswerTextsAreCleanedAndCut)
{
    TagNames tags = Tags();
    Answer answer;
    std::string body = "<JOB><CODE>ok\xFF\xC3(\xE0\x80\xAF\xED\xA0\x80\xF4\x90\x80\x80\xC3\xA9</CODE>"
                       "<FOLDERID>&#0;x</FOLDERID></JOB>";
    ASSERT_EQ(AnswerStatus::Ok, ParseAnswer(body, tags, answer));
    ASSERT_EQ(3u, answer.elements.size());
    EXPECT_EQ("ok??" "(" "??????????\xC3\xA9", answer.Text(answer.elements[1]));
    EXPECT_EQ(std::string::npos, answer.Text(answer.elements[2]).find('\0'));

    // 1022 ASCII bytes and a two-byte character: the character does not fit and is dropped.
    std::string longText = std::string(MaxElementText - 1, 'a') + "\xC3\xA9" + std::string(5000, 'b');
    ASSERT_EQ(AnswerStatus::Ok, ParseAnswer("<JOB>" + longText + "</JOB>", tags, answer));
    EXPECT_EQ(std::string(MaxElementText - 1, 'a'), answer.Text(answer.elements[0]));
    std::string exact = std::string(MaxElementText, 'c');
    ASSERT_EQ(AnswerStatus::Ok, ParseAnswer("<JOB>" + exact + "d</JOB>", tags, answer));
    EXPECT_EQ(exact, answer.Text(answer.elements[0]));
}

TEST(ProtocolCodec, NumbersAndIdentifiers)
{
    int32_t number = 7;
    EXPECT_TRUE(ParseInt(" \t600\r\n", number));
    EXPECT_EQ(600, number);
    EXPECT_TRUE(ParseInt("+2147483647", number));
    EXPECT_EQ(INT32_MAX, number);
    EXPECT_TRUE(ParseInt("-2147483648", number));
    EXPECT_EQ(INT32_MIN, number);
    for (const char* bad : {"", " ", "-", "2147483648", "-2147483649", "99999999999", "6 00", "0x10", "1e3", "12a"}) {
        number = 7;
        EXPECT_FALSE(ParseInt(bad, number)) << bad;
        EXPECT_EQ(0, number) << bad;
    }

    uint32_t id = 7;
    EXPECT_TRUE(ParseId("0000001A", id));
    EXPECT_EQ(0x1Au, id);
    EXPECT_TRUE(ParseId(" ffffffff ", id));
    EXPECT_EQ(0xFFFFFFFFu, id);
    EXPECT_TRUE(ParseId("7", id));
    EXPECT_EQ(7u, id);
    for (const char* bad : {"", "123456789", "0x1A", "12 34", "-1", "G"}) {
        id = 7;
        EXPECT_FALSE(ParseId(bad, id)) << bad;
        EXPECT_EQ(0u, id) << bad;
    }
}

TEST(ProtocolCodec, Utf8CleaningAndCutting)
{
    EXPECT_EQ("abc", CleanUtf8("abc"));
    EXPECT_EQ("\xF0\x9F\x98\x80", CleanUtf8("\xF0\x9F\x98\x80"));
    EXPECT_EQ("??", CleanUtf8("\xC0\xAF"));          // overlong '/'
    EXPECT_EQ("???", CleanUtf8("\xED\xBF\xBF"));     // surrogate
    EXPECT_EQ("??a", CleanUtf8("\xE2\x82" "a"));     // truncated sequence
    EXPECT_EQ("?", CleanUtf8(std::string(1, '\0')));
    EXPECT_EQ("\xC3\xA9", CutUtf8("\xC3\xA9\xC3\xA9", 3));
    EXPECT_EQ("", CutUtf8("\xE6\x97\xA5", 2));
    EXPECT_EQ("ab", CutUtf8("ab", 5));
}
