// The sheet's page computed from its template, against the page as it must come out of the printer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/layout.h"
#include "report/quickrep.h"

namespace atua::report {
namespace {

constexpr double kTolerance = 0.01;  // mm
// The caption's width in Arial Black 18 pt, as the designer measured it (865.1875 tenths of a mm).
constexpr double kArialBlackTitleWidth = 86.51875;

void ExpectRect(const RectMm& got, double left, double top, double right, double bottom) {
    EXPECT_NEAR(got.Left, left, kTolerance);
    EXPECT_NEAR(got.Top, top, kTolerance);
    EXPECT_NEAR(got.Right, right, kTolerance);
    EXPECT_NEAR(got.Bottom, bottom, kTolerance);
}

TEST(SheetPage, RectanglesFromThePapersCorner) {
    const PageLayout page = LayOutPage(TQuickRep().Template(), kArialBlackTitleWidth);
    const double w = kArialBlackTitleWidth;
    EXPECT_DOUBLE_EQ(page.PaperWidth, 210.0);
    EXPECT_DOUBLE_EQ(page.PaperHeight, 297.0);
    struct Row {
        const char* element;
        RectMm got;
        double left, top, right, bottom;
    } rows[] = {
        {"margins", page.Margins, 10.00, 10.00, 200.00, 287.00},
        {"QRBand1", page.TitleBand, 10.00, 10.00, 199.97, 23.49},
        {"asd", page.TitleBox, 104.99 - w / 2, 14.23, 104.99 + w / 2, 23.23},
        {"QRBand2", page.DetailBand, 10.00, 23.50, 199.97, 199.18},
        {"QRRichText1", page.TextBox, 12.12, 25.62, 196.53, 186.75},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.element);
        ExpectRect(r.got, r.left, r.top, r.right, r.bottom);
    }
}

TEST(SheetPage, TitleBoxIsTheCaptionsWidthCentredOnTheBand) {
    const SheetTemplate sheet = TQuickRep().Template();
    for (double w : {12.5, kArialBlackTitleWidth, 101.3, 185.0}) {
        SCOPED_TRACE(w);
        const PageLayout page = LayOutPage(sheet, w);
        EXPECT_NEAR(page.TitleBox.Width(), w, 1e-9);
        EXPECT_NEAR(page.TitleBox.CentreX(), 104.99, kTolerance);
        EXPECT_NEAR(page.TitleBox.CentreX(), page.TitleBand.CentreX(), 1e-9);
        EXPECT_NEAR(page.TitleBox.Top, 14.23, kTolerance);
        EXPECT_NEAR(page.TitleBox.Height(), 9.00, kTolerance);
    }
}

TEST(SheetPage, EverythingEndsAboveTheBottomMargin) {
    const PageLayout page = LayOutPage(TQuickRep().Template(), kArialBlackTitleWidth);
    EXPECT_LT(page.DetailBand.Bottom, page.Margins.Bottom);
    EXPECT_LE(page.TextBox.Bottom, page.DetailBand.Bottom);
    EXPECT_GE(page.TextBox.Top, page.DetailBand.Top);
    EXPECT_GE(page.DetailBand.Top, page.TitleBand.Bottom);
}

// One millimetre per character: break positions become plain arithmetic.
double OneMmPerChar(std::string_view run) { return static_cast<double>(run.size()); }

TEST(WrapParagraph, BreaksBetweenWords) {
    struct Case {
        const char* paragraph;
        double width;
        std::vector<std::string> lines;
    } cases[] = {
        {"", 10, {""}},
        {"short", 10, {"short"}},
        {"aaa bbb ccc", 7, {"aaa bbb", "ccc"}},
        {"aaa bbb ccc", 11, {"aaa bbb ccc"}},
        {"aaa bbb ccc", 10.9, {"aaa bbb", "ccc"}},
        {"aaa   bbb", 5, {"aaa", "bbb"}},
        {"  - indented words here", 12, {"  - indented", "words here"}},
        {"abcdefghij xy", 4, {"abcd", "efgh", "ij", "xy"}},
        {"trailing   ", 8, {"trailing"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.paragraph);
        EXPECT_EQ(WrapParagraph(c.paragraph, c.width, OneMmPerChar), c.lines);
    }
}

TEST(LayOutText, LinesStackFromTheBoxTopAndStopAtItsBottom) {
    const RectMm box{0, 20, 10, 32};  // 12 mm high
    const std::vector<std::string> paragraphs{"one two three", "", "four", "five six", "seven"};
    const std::vector<PrintedLine> lines = LayOutText(paragraphs, box, 5, OneMmPerChar);
    // Tops 20, 25, 30 lie inside; the line at 30 crosses the bottom and stays for the printer to
    // clip; the next one would start at 35, below the box, and is left out.
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].Text, "one two");
    EXPECT_EQ(lines[1].Text, "three");
    EXPECT_EQ(lines[2].Text, "");
    EXPECT_EQ(lines[0].Paragraph, 0u);
    EXPECT_EQ(lines[1].Paragraph, 0u);
    EXPECT_EQ(lines[2].Paragraph, 1u);
    EXPECT_DOUBLE_EQ(lines[0].Top, 20);
    EXPECT_DOUBLE_EQ(lines[1].Top, 25);
    EXPECT_DOUBLE_EQ(lines[2].Top, 30);
}

TEST(LayOutText, SheetTextWrapsWithoutLosingWords) {
    const SheetTemplate sheet = TQuickRep().Template();
    const PageLayout page = LayOutPage(sheet, kArialBlackTitleWidth);
    // About the advance of Arial 10 pt: the longest paragraphs need two lines.
    const auto measure = [](std::string_view run) { return run.size() * 1.75; };
    const std::vector<PrintedLine> lines = LayOutText(sheet.Text.Lines, page.TextBox, 4.0, measure);
    ASSERT_FALSE(lines.empty());
    std::vector<std::string> rejoined(sheet.Text.Lines.size());
    std::vector<bool> seen(sheet.Text.Lines.size(), false);
    for (const PrintedLine& line : lines) {
        EXPECT_LE(measure(line.Text), page.TextBox.Width());
        EXPECT_LT(line.Top, page.TextBox.Bottom);
        std::string& text = rejoined[line.Paragraph];
        if (seen[line.Paragraph]) text += ' ';
        seen[line.Paragraph] = true;
        text += line.Text;
    }
    EXPECT_GT(lines.size(), sheet.Text.Lines.size());  // some paragraph was wrapped
    for (std::size_t i = 0; i < rejoined.size(); ++i) {
        if (!seen[i]) continue;  // cut off at the box's bottom
        EXPECT_EQ(rejoined[i], sheet.Text.Lines[i]) << "paragraph " << i + 1;
    }
}

}  // namespace
}  // namespace atua::report
