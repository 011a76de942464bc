// The sheet's page as plain data: every rectangle in millimetres from the paper's top-left corner,
// computed from the template's numbers, and the rich text broken into printed lines.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "report/template.h"

namespace atua::report {

struct RectMm {
    double Left = 0, Top = 0, Right = 0, Bottom = 0;
    double Width() const { return Right - Left; }
    double Height() const { return Bottom - Top; }
    double CentreX() const { return (Left + Right) / 2; }
};

struct PageLayout {
    double PaperWidth = 0, PaperHeight = 0;  // the template's paper
    RectMm Margins;     // the area inside the margins
    RectMm TitleBand;   // QRBand1
    RectMm TitleBox;    // asd
    RectMm DetailBand;  // QRBand2
    RectMm TextBox;     // QRRichText1
};

// The page for a title caption that measures titleWidthMm in the label's font: the label is
// auto-sized to that width and centred on its band.
PageLayout LayOutPage(const SheetTemplate& sheet, double titleWidthMm);

// Width in millimetres of a Windows-1252 run set in the text's font.
using MeasureMm = std::function<double(std::string_view)>;

// One paragraph broken between words into lines no wider than widthMm; a word wider than the
// whole width is broken between characters. The spaces at a break are dropped, leading spaces
// of the paragraph kept. An empty paragraph is one empty line.
std::vector<std::string> WrapParagraph(std::string_view paragraph, double widthMm, const MeasureMm& measure);

struct PrintedLine {
    std::size_t Paragraph = 0;  // index into the rich text's lines
    std::string Text;
    double Top = 0;             // mm from the paper's top
};

// The rich text's lines, wrapped to the box's width and set one below the other from its top,
// lineHeightMm apart. A line whose top lies at or below the box's bottom is left out; a line
// that only crosses the bottom stays, for the printer to clip at the box.
std::vector<PrintedLine> LayOutText(const std::vector<std::string>& paragraphs, const RectMm& box,
                                    double lineHeightMm, const MeasureMm& measure);

}  // namespace atua::report
