// Action strings: SplitFields, font styles, the kinds and their default
// strings, the dispatch of ApplyAction; the ActionList and its files.
#include <gtest/gtest.h>

#include <filesystem>

#include "actions/action_kinds.h"
#include "actions/action_list.h"
#include "actions/action_string.h"
#include "actions/apply_action.h"
#include "core/error.h"
#include "core/file_util.h"
#include "operations/geometry.h"
#include "operations/tone.h"
#include "test_util.h"

using namespace pictorix;
using namespace pictorix::test;

namespace {

using Fields = std::vector<std::string>;

using test::SamePixels;

// The message of the Error that `f` throws, or "" when it throws none.
template <typename F>
std::string ErrorOf(F f) {
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

}  // namespace

// ---------------------------------------------------------------- SplitFields

TEST(SplitFields, KeepsEveryFieldAsItStands) {
    const std::vector<std::pair<std::string, Fields>> cases = {
        {"", {""}},
        {";", {"", ""}},
        {"a;;b", {"a", "", "b"}},
        {"rotate;0;16777215;", {"rotate", "0", "16777215", ""}},
        {"rotate;0;16777215", {"rotate", "0", "16777215"}},
        {";;", {"", "", ""}},
        {"a", {"a"}},
        {" a ; b ", {" a ", " b "}},
        {"x;x;x", {"x", "x", "x"}},
        {"\"a;b\"", {"\"a", "b\""}},  // no quoting
        {"textwatermark;4;5;5;pixels;pixels;50;0;-1;16777215;-16777208;Arial;12;;A;B;C",
         {"textwatermark", "4", "5", "5", "pixels", "pixels", "50", "0", "-1", "16777215", "-16777208", "Arial",
          "12", "", "A", "B", "C"}},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(SplitFields(text, ";"), expected) << "text: " << text;
}

TEST(SplitFields, OtherSeparators) {
    EXPECT_EQ(SplitFields("a b  c", " "), (Fields{"a", "b", "", "c"}));
    EXPECT_EQ(SplitFields("a<>b<>", "<>"), (Fields{"a", "b", ""}));
    EXPECT_EQ(SplitFields("aaa", "aa"), (Fields{"", "a"}));  // scanned from the left
    EXPECT_EQ(SplitFields("abc", "x"), (Fields{"abc"}));
}

// ---------------------------------------------------------------- ActionFields

TEST(ActionFields, Conversions) {
    ActionFields f("k;12;-7;+3;-1;0;TRUE;false;2.5;-16777208;4278190088;pixels;percents;PERCENTS");
    EXPECT_EQ(f.size(), 14u);
    EXPECT_EQ(f.integer(1), 12);
    EXPECT_EQ(f.integer(2), -7);
    EXPECT_EQ(f.integer(3), 3);
    EXPECT_TRUE(f.boolean(4));
    EXPECT_FALSE(f.boolean(5));
    EXPECT_TRUE(f.boolean(6));
    EXPECT_FALSE(f.boolean(7));
    EXPECT_TRUE(f.boolean(1));  // any non-zero number
    EXPECT_DOUBLE_EQ(f.real(8), 2.5);
    EXPECT_DOUBLE_EQ(f.real(1), 12.0);
    EXPECT_EQ(f.colour(9), kWindowTextColour);
    EXPECT_EQ(f.colour(10), kWindowTextColour);  // the unsigned spelling of the same bits
    EXPECT_FALSE(f.percents(11));
    EXPECT_TRUE(f.percents(12));
    EXPECT_FALSE(f.percents(13));  // only "percents" means percent
}

TEST(ActionFields, FailuresNameTheAction) {
    ActionFields f("contrast;abc;;1.5;yes");
    for (auto fail : std::vector<std::function<void()>>{
             [&] { f.integer(1); }, [&] { f.integer(2); }, [&] { f.integer(3); }, [&] { f.boolean(4); },
             [&] { f.boolean(2); }, [&] { f.real(1); }, [&] { f.colour(1); }, [&] { f.text(5); },
             [&] { f.integer(9); }}) {
        std::string message = ErrorOf(fail);
        EXPECT_NE(message.find("contrast;abc;;1.5;yes"), std::string::npos) << message;
    }
    EXPECT_NE(ErrorOf([&] { f.integer(7); }).find("no field 7"), std::string::npos);
}

TEST(ActionFields, ResolveColour) {
    EXPECT_EQ(ResolveColour(16777215), kWhite);
    EXPECT_EQ(ResolveColour(0), kBlack);
    EXPECT_EQ(ResolveColour(255), RGB(255, 0, 0));
    EXPECT_EQ(ResolveColour(0x00123456), Color(0x00123456));
    EXPECT_EQ(ResolveColour(kWindowTextColour), kBlack);
    EXPECT_EQ(ResolveColour(static_cast<std::int32_t>(0xFF000005u)), kWhite);  // window background
    EXPECT_EQ(ResolveColour(static_cast<std::int32_t>(0xFF0000F0u)), kBlack);  // no such system colour
    EXPECT_EQ(ResolveColour(0x02123456), Color(0x00123456));
}

TEST(ActionFields, FieldWriters) {
    EXPECT_EQ(BooleanField(true), "-1");
    EXPECT_EQ(BooleanField(false), "0");
    EXPECT_EQ(ColourField(0xFFFFFF), "16777215");
    EXPECT_EQ(ColourField(kWindowTextColour), "-16777208");
    EXPECT_EQ(ColourField(0), "0");
}

// ---------------------------------------------------------------- font styles

TEST(FontStyle, TheSixteenWrittenFormsReadBack) {
    const std::vector<std::pair<std::string, FontStyle>> forms = {
        {"", {false, false, false, false}},
        {"[fsBold]", {true, false, false, false}},
        {"[fsItalic]", {false, true, false, false}},
        {"[fsBold,fsItalic]", {true, true, false, false}},
        {"[fsUnderline]", {false, false, true, false}},
        {"[fsBold,fsUnderline]", {true, false, true, false}},
        {"[fsItalic,fsUnderline]", {false, true, true, false}},
        {"[fsBold,fsItalic,fsUnderline]", {true, true, true, false}},
        {"[fsStrikeOut]", {false, false, false, true}},
        {"[fsBold,fsStrikeOut]", {true, false, false, true}},
        {"[fsItalic,fsStrikeOut]", {false, true, false, true}},
        {"[fsBold,fsItalic,fsStrikeOut]", {true, true, false, true}},
        {"[fsUnderline,fsStrikeOut]", {false, false, true, true}},
        {"[fsBold,fsUnderline,fsStrikeOut]", {true, false, true, true}},
        {"[fsItalic,fsUnderline,fsStrikeOut]", {false, true, true, true}},
        {"[fsBold,fsItalic,fsUnderline,fsStrikeOut]", {true, true, true, true}},
    };
    for (const auto& [text, style] : forms) {
        EXPECT_EQ(str2fontstyle(text), style) << text;
        EXPECT_EQ(fontstyle2str(style), text) << text;
    }
}

TEST(FontStyle, AnyOtherTextIsTheEmptyStyle) {
    for (const char* text :
         {"[fsItalic,fsBold]", "[]", "bold", "fsBold", "[fsbold]", "[FSBOLD]", "[fsBold, fsItalic]", " [fsBold]",
          "[fsBold] ", "[fsBold,]", "[,fsBold]", "[fsBold,fsBold]", "[fsStrikeOut,fsUnderline]", "[fsBold",
          "fsBold]", "[fsBold;fsItalic]", "[fsUnderline,fsItalic,fsBold]"}) {
        EXPECT_TRUE(str2fontstyle(text).empty()) << text;
    }
}

TEST(FontStyle, WriterExamples) {
    EXPECT_EQ(fontstyle2str(FontStyle{}), "");  // not "[]"
    EXPECT_EQ(fontstyle2str({true, false, true, false}), "[fsBold,fsUnderline]");
    EXPECT_EQ(fontstyle2str({false, true, true, true}), "[fsItalic,fsUnderline,fsStrikeOut]");
}

// ---------------------------------------------------------------- kinds

TEST(ActionKinds, DefaultStringsAndCaptions) {
    struct Row {
        ActionKind kind;
        const char* keyword;
        const char* defaultString;
        const char* constant;
        const char* caption;
    };
    const std::vector<Row> rows = {
        {ActionKind::Rotate, "rotate", "rotate;0;16777215;", "sactions_rotate", "Rotate"},
        {ActionKind::Mirror, "mirror", "mirror;0;0", "sactions_mirror", "Mirror"},
        {ActionKind::Resize, "resize", "resize;100;100;pixels;pixels;both", "sactions_resize", "Resize"},
        {ActionKind::CanvasSize, "canvassize", "canvassize;100;100", "sactions_canvassize", "Canvas Size"},
        {ActionKind::Crop, "crop", "crop;edge;10;10;10;10;100;100", "sactions_crop", "Crop"},
        {ActionKind::Contrast, "contrast", "contrast;0", "sactions_contrast", "Contrast"},
        {ActionKind::Brightness, "brightness", "brightness;0", "sactions_brightness", "Brightness"},
        {ActionKind::Blur, "blur", "blur;5", "sactions_blur", "Blur"},
        {ActionKind::TextWatermark, "textwatermark",
         "textwatermark;4;5;5;pixels;pixels;50;0;-1;16777215;-16777208;Arial;12;;Your Text", "sactions_textwm",
         "Text watermark"},
        {ActionKind::PictureWatermark, "picturewatermark", "picturewatermark;4;5;5;pixels;pixels;50;0;-1;;16777215",
         "sactions_picturewm", "Picture watermark"},
    };
    ASSERT_EQ(ActionKinds().size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ActionKindInfo& info = ActionKinds()[i];
        const Row& row = rows[i];
        EXPECT_EQ(info.kind, row.kind);
        EXPECT_STREQ(info.keyword, row.keyword);
        EXPECT_STREQ(info.defaultString, row.defaultString);
        EXPECT_STREQ(info.captionConstant, row.constant);
        EXPECT_STREQ(info.englishCaption, row.caption);
        EXPECT_EQ(DefaultActionString(row.kind), row.defaultString);
        EXPECT_EQ(&KindInfo(row.kind), &info);
        EXPECT_EQ(KindOfKeyword(row.keyword), row.kind);
        EXPECT_EQ(KindOfAction(row.defaultString), row.kind);
        // The default string's field 0 is the keyword.
        EXPECT_EQ(SplitFields(row.defaultString, ";")[0], row.keyword);
    }
    // The rotate default has an empty field 3; the text watermark default an empty style.
    EXPECT_EQ(SplitFields(DefaultActionString(ActionKind::Rotate), ";").size(), 4u);
    Fields text = SplitFields(DefaultActionString(ActionKind::TextWatermark), ";");
    ASSERT_EQ(text.size(), 15u);
    EXPECT_EQ(text[13], "");
    EXPECT_TRUE(str2fontstyle(text[13]).empty());
    EXPECT_EQ(text[14], "Your Text");
    EXPECT_EQ(SplitFields(DefaultActionString(ActionKind::PictureWatermark), ";").size(), 11u);
}

TEST(ActionKinds, KeywordsCompareExactly) {
    for (const char* keyword : {"Rotate", "ROTATE", "rotate ", " rotate", "", "rot", "rotatex", "canvas size",
                                "watermark", "Crop"})
        EXPECT_FALSE(KindOfKeyword(keyword).has_value()) << keyword;
    EXPECT_EQ(KindOfAction("rotate"), ActionKind::Rotate);  // a keyword without fields
    EXPECT_EQ(KindOfAction("blur;;;"), ActionKind::Blur);
    EXPECT_FALSE(KindOfAction("Rotate;90;0").has_value());
    EXPECT_FALSE(KindOfAction("").has_value());
}

// ---------------------------------------------------------------- ApplyAction

TEST(ApplyAction, UnknownKindsArePassedOver) {
    const Bitmap original = Gradient(9, 7);
    for (const char* action :
         {"Rotate;90;0", "", ";", "ROTATE;90;0", "rotate90", "sharpen;5", "contrast ;10", "  ", "mirror-1;-1",
          // a picture watermark without a file leaves the picture as it is
          "picturewatermark;4;5;5;pixels;pixels;50;0;-1;;16777215"}) {
        for (ActionPurpose purpose : {ActionPurpose::ConversionRun, ActionPurpose::Preview}) {
            Bitmap b = original;
            EXPECT_NO_THROW(ApplyAction(action, b, purpose)) << action;
            EXPECT_TRUE(SamePixels(b, original)) << action;
            EXPECT_EQ(b.bitsPerPixel(), 24) << action;
        }
    }
}

TEST(ApplyAction, MalformedActionsFailNamingTheAction) {
    for (const char* action :
         {"contrast;abc", "contrast", "contrast;", "contrast;1.5", "brightness;x", "brightness", "blur;", "blur;0.5",
          "blur", "mirror;-1", "mirror;yes;0", "mirror;0;maybe", "mirror", "rotate;90", "rotate;abc;0",
          "rotate;90;red", "rotate", "canvassize;100", "canvassize;a;100", "canvassize;100;10.5", "canvassize"}) {
        for (ActionPurpose purpose : {ActionPurpose::ConversionRun, ActionPurpose::Preview}) {
            Bitmap b = Gradient(6, 5);
            const Bitmap before = b;
            const std::string message = ErrorOf([&] { ApplyAction(action, b, purpose); });
            EXPECT_NE(message.find(std::string("\"") + action + "\""), std::string::npos)
                << action << " gave: " << message;
            // These kinds convert all their fields before touching the picture.
            EXPECT_TRUE(SamePixels(b, before)) << action;
        }
    }
}

TEST(ApplyAction, ResizeAndCropReadTheirOwnFields) {
    // DoResize and DoCrop get the whole action; a malformed one fails naming it.
    for (const char* action : {"resize;abc;100;pixels;pixels;both", "resize", "crop;edge;x;10;10;10;100;100"}) {
        Bitmap b = Gradient(20, 20);
        const std::string message = ErrorOf([&] { ApplyAction(action, b, ActionPurpose::ConversionRun); });
        EXPECT_NE(message.find(action), std::string::npos) << action << " gave: " << message;
    }
    Bitmap b = Gradient(20, 10);
    ApplyAction("resize;50;50;percents;percents;both", b, ActionPurpose::ConversionRun);
    EXPECT_EQ(b.width(), 10);
    EXPECT_EQ(b.height(), 5);
    ApplyAction("crop;edge;1;1;2;2;100;100", b, ActionPurpose::Preview);
    EXPECT_EQ(b.width(), 6);
    EXPECT_EQ(b.height(), 3);
}

TEST(ApplyAction, FailuresOfTheOperationNameTheAction) {
    // A canvas size that leaves no pixels is refused; the message says
    // which action.
    Bitmap b = Gradient(6, 5);
    const std::string message = ErrorOf([&] { ApplyAction("canvassize;0;5", b, ActionPurpose::ConversionRun); });
    EXPECT_NE(message.find("\"canvassize;0;5\""), std::string::npos) << message;
}

TEST(ApplyAction, MirrorFlags) {
    const Bitmap original = Gradient(5, 4);
    auto apply = [&](const char* action) {
        Bitmap b = original;
        ApplyAction(action, b, ActionPurpose::ConversionRun);
        return b;
    };
    auto check = [&](const char* action, bool leftRight, bool topBottom) {
        Bitmap b = apply(action);
        ASSERT_EQ(b.width(), 5);
        ASSERT_EQ(b.height(), 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x)
                ASSERT_EQ(b.pixel(x, y), original.pixel(leftRight ? 4 - x : x, topBottom ? 3 - y : y))
                    << action << " at " << x << "," << y;
    };
    check("mirror;0;0", false, false);
    check("mirror;-1;0", true, false);
    check("mirror;0;-1", false, true);
    check("mirror;-1;-1", true, true);
    check("mirror;True;false", true, false);
    check("mirror;FALSE;TRUE", false, true);
    check("mirror;1;7;extra;fields", true, true);
}

TEST(ApplyAction, RotateCanvasSizeContrastBrightness) {
    Bitmap b = Gradient(3, 2);
    const Bitmap source = b;
    ApplyAction("rotate;90;0", b, ActionPurpose::ConversionRun);
    ASSERT_EQ(b.width(), 2);
    ASSERT_EQ(b.height(), 3);
    EXPECT_EQ(b.pixel(0, 0), source.pixel(0, 1));

    // The rotate default string (with its empty field 3) and the form without it.
    for (const char* action : {"rotate;0;16777215;", "rotate;0;16777215", "rotate;360;255"}) {
        Bitmap c = source;
        ApplyAction(action, c, ActionPurpose::ConversionRun);
        EXPECT_TRUE(SamePixels(c, source)) << action;
    }

    // A general rotation gives the bitmap its background colour as fill colour.
    Bitmap r(100, 100, 24);
    r.fill(RGB(0, 128, 0));
    ApplyAction("rotate;45;255", r, ActionPurpose::ConversionRun);
    EXPECT_EQ(r.width(), 142);
    EXPECT_EQ(r.height(), 141);
    EXPECT_EQ(r.pixel(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(r.fillColor(), RGB(255, 0, 0));
    ApplyAction("canvassize;150;150", r, ActionPurpose::ConversionRun);
    EXPECT_EQ(r.width(), 150);
    EXPECT_EQ(r.height(), 150);
    EXPECT_EQ(r.pixel(149, 149), RGB(255, 0, 0));

    // The window-text system colour is black.
    Bitmap w(10, 10, 24);
    w.fill(kWhite);
    ApplyAction("rotate;45;-16777208", w, ActionPurpose::ConversionRun);
    EXPECT_EQ(w.pixel(0, 0), kBlack);

    Bitmap g(2, 2, 24);
    g.setPixel(0, 0, RGB(50, 50, 50));
    g.setPixel(1, 0, RGB(50, 50, 50));
    g.setPixel(0, 1, RGB(150, 150, 150));
    g.setPixel(1, 1, RGB(150, 150, 150));
    Bitmap c = g;
    ApplyAction("contrast;10", c, ActionPurpose::Preview);
    EXPECT_EQ(c.pixel(0, 0), RGB(0, 0, 0));
    EXPECT_EQ(c.pixel(1, 1), RGB(200, 200, 200));
    c = g;
    ApplyAction("brightness;-10", c, ActionPurpose::ConversionRun);
    EXPECT_EQ(c.pixel(0, 0), RGB(40, 40, 40));
    EXPECT_EQ(c.pixel(1, 1), RGB(140, 140, 140));
}

TEST(ApplyAction, BlurOfTheRunIsGaussian) {
    Bitmap b(7, 7, 24);
    b.fill(kBlack);
    b.setPixel(3, 3, kWhite);
    Bitmap expected = b;
    GaussianBlur(expected, 0.5);
    ApplyAction("blur;5", b, ActionPurpose::ConversionRun);
    EXPECT_TRUE(SamePixels(b, expected));
    EXPECT_EQ(GetR(b.pixel(3, 3)), 157u);
}

TEST(ApplyAction, BlurOfThePreviewIsQuickBlurFieldPlusOneTimes) {
    const Bitmap original = Gradient(12, 10);
    for (int field : {-3, -1, 0, 1, 2, 5}) {
        Bitmap b = original;
        ApplyAction("blur;" + std::to_string(field), b, ActionPurpose::Preview);
        Bitmap expected = original;
        for (int i = 0; i < field + 1; ++i) QuickBlur(expected);
        EXPECT_TRUE(SamePixels(b, expected)) << "blur;" << field;
        if (field < 0) {
            EXPECT_TRUE(SamePixels(b, original)) << "blur;" << field;
        }
    }
}

TEST(ApplyAction, AListAppliesInOrder) {
    // Halve, then cut 10 pixels from each edge of the halved picture.
    Bitmap b = Gradient(200, 100);
    for (const char* action : {"resize;50;50;percents;percents;both", "crop;edge;10;10;10;10;100;100"})
        ApplyAction(action, b, ActionPurpose::ConversionRun);
    EXPECT_EQ(b.width(), 80);
    EXPECT_EQ(b.height(), 30);
}

// ---------------------------------------------------------------- ActionList

TEST(ActionList, EveryChangeRaisesOneNotification) {
    ActionList list;
    int count = 0;
    list.addListener([&] { ++count; });
    auto expectOne = [&](const char* what, auto change) {
        const int before = count;
        change();
        EXPECT_EQ(count, before + 1) << what;
    };
    expectOne("add", [&] { list.add("rotate;0;16777215;"); });
    expectOne("add", [&] { list.add("blur;5"); });
    expectOne("add a duplicate", [&] { list.add("blur;5"); });
    EXPECT_EQ(list.items(), (Fields{"rotate;0;16777215;", "blur;5", "blur;5"}));
    expectOne("replace", [&] { list.replace(1, "blur;7"); });
    expectOne("replace with the same", [&] { list.replace(1, "blur;7"); });
    expectOne("exchange", [&] { list.exchange(0, 2); });
    EXPECT_EQ(list.items(), (Fields{"blur;5", "blur;7", "rotate;0;16777215;"}));
    expectOne("remove", [&] { list.remove(1); });
    EXPECT_EQ(list.items(), (Fields{"blur;5", "rotate;0;16777215;"}));
    expectOne("load", [&] { list.load({"a", "b", "c", "d"}); });
    expectOne("load text", [&] { list.loadText("x\r\ny\nz\r"); });
    EXPECT_EQ(list.items(), (Fields{"x", "y", "z"}));
    expectOne("load empty", [&] { list.load({}); });
    list.add("mirror;0;0");
    expectOne("clear", [&] { list.clear(); });
    EXPECT_TRUE(list.empty());

    // Clearing an empty list is no change.
    int before = count;
    list.clear();
    EXPECT_EQ(count, before);

    // Failed operations change nothing and raise nothing.
    list.add("contrast;0");
    before = count;
    EXPECT_THROW(list.remove(1), Error);
    EXPECT_THROW(list.replace(5, "x"), Error);
    EXPECT_THROW(list.exchange(0, 1), Error);
    EXPECT_THROW(list.at(1), Error);
    EXPECT_THROW(list.loadFile("/nonexistent/folder/list.acf"), Error);
    EXPECT_EQ(count, before);
    EXPECT_EQ(list.items(), (Fields{"contrast;0"}));
}

TEST(ActionList, ListenersCanBeRemoved) {
    ActionList list;
    int a = 0, b = 0;
    auto idA = list.addListener([&] { ++a; });
    list.addListener([&] { ++b; });
    list.add("x");
    list.removeListener(idA);
    list.add("y");
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 2);

    // A copy holds the strings, not the listeners.
    ActionList copy = list;
    copy.add("z");
    EXPECT_EQ(b, 2);
    EXPECT_EQ(copy.size(), 3u);
    // Assigning into a list is a load of it: one notification.
    list = copy;
    EXPECT_EQ(b, 3);
    EXPECT_EQ(list.items(), (Fields{"x", "y", "z"}));
}

TEST(ActionList, FileRoundTrip) {
    TempDir dir;
    ActionList list;
    for (const ActionKindInfo& info : ActionKinds()) list.add(info.defaultString);
    list.add("");  // an empty line in the middle is kept
    list.add("Rotate;90;0");
    list.add("textwatermark;4;5;5;pixels;pixels;50;0;-1;16777215;-16777208;Arial;12;[fsBold,fsUnderline];Grüße;B");
    const std::string path = dir.file("list.acf");
    list.saveFile(path);

    std::string expected;
    for (const std::string& action : list) expected += action + "\r\n";
    EXPECT_EQ(ReadText(path), expected);

    ActionList back;
    int count = 0;
    back.addListener([&] { ++count; });
    back.loadFile(path);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(back.items(), list.items());

    // Saving again gives the same bytes; an existing file is replaced.
    back.saveFile(path);
    EXPECT_EQ(ReadText(path), expected);
    back.remove(0);
    back.saveFile(path);
    EXPECT_EQ(ReadText(path), expected.substr(expected.find("\r\n") + 2));
    EXPECT_EQ(dir.names(), (Fields{"list.acf"}));  // no temporary left behind
}

TEST(ActionList, TwoActionsAreTwoCrLfLines) {
    TempDir dir;
    ActionList list;
    list.add("crop;edge;10;10;10;10;100;100");
    list.add("blur;5");
    list.saveFile(dir.file("two.acf"));
    EXPECT_EQ(ReadText(dir.file("two.acf")), "crop;edge;10;10;10;10;100;100\r\nblur;5\r\n");
    ActionList empty;
    empty.saveFile(dir.file("empty.acf"));
    EXPECT_EQ(ReadText(dir.file("empty.acf")), "");
    ActionList back;
    back.add("something");
    back.loadFile(dir.file("empty.acf"));
    EXPECT_TRUE(back.empty());
}

TEST(ActionList, LineEndsOnReading) {
    const std::vector<std::pair<std::string, Fields>> cases = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\n", {"a"}},
        {"a\r", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb\n", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\r\nb", {"a", "b"}},
        {"a\nb", {"a", "b"}},
        {"a\rb", {"a", "b"}},
        {"a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\n\r\nb", {"a", "", "b"}},
        {"a\r\rb", {"a", "", "b"}},
        {"a\n\rb", {"a", "", "b"}},  // LF then CR: two line ends
        {"\r\n", {""}},
        {"\n\n", {"", ""}},
        {"  rotate;90;0  \r\n", {"  rotate;90;0  "}},  // nothing trimmed
    };
    TempDir dir;
    for (const auto& [text, expected] : cases) {
        WriteText(dir.file("x.acf"), text);
        ActionList list;
        list.loadFile(dir.file("x.acf"));
        EXPECT_EQ(list.items(), expected) << "text: " << ::testing::PrintToString(text);
    }
}

TEST(ActionList, LfOnlyFileLoadsLikeCrLf) {
    TempDir dir;
    WriteText(dir.file("crlf.acf"), "resize;50;50;percents;percents;both\r\nmirror;-1;0\r\nblur;5\r\n");
    WriteText(dir.file("lf.acf"), "resize;50;50;percents;percents;both\nmirror;-1;0\nblur;5");
    ActionList a, b;
    a.loadFile(dir.file("crlf.acf"));
    b.loadFile(dir.file("lf.acf"));
    EXPECT_EQ(a.items(), b.items());
    EXPECT_EQ(a.size(), 3u);
}

TEST(ActionList, FailedSaveWritesNothing) {
    TempDir dir;
    ActionList list;
    list.add("blur;5");
    EXPECT_THROW(list.saveFile(dir.file("missing/list.acf")), Error);
    EXPECT_TRUE(dir.names().empty());
}

TEST(ActionList, SaveNameUnderTheFirstFilter) {
    EXPECT_EQ(WithAcfExtension("list"), "list.acf");
    EXPECT_EQ(WithAcfExtension("list.acf"), "list.acf");
    EXPECT_EQ(WithAcfExtension("list.ACF"), "list.ACF.acf");
    EXPECT_EQ(WithAcfExtension("list.txt"), "list.txt.acf");
    EXPECT_EQ(WithAcfExtension("/home/me/my.dir/list"), "/home/me/my.dir/list.acf");
    EXPECT_EQ(WithAcfExtension("/home/me/my.acf/list"), "/home/me/my.acf/list.acf");
    EXPECT_EQ(WithAcfExtension("/home/me/.acf"), "/home/me/.acf");
}
