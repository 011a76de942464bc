#include "report/layout.h"

#include <cmath>

namespace atua::report {

namespace {
constexpr double kTenthsPerMm = 10.0;
double Mm(double tenths) { return tenths / kTenthsPerMm; }
}  // namespace

PageLayout LayOutPage(const SheetTemplate& sheet, double titleWidthMm) {
    const TQRPage& page = sheet.Report.Page;
    PageLayout p;
    p.PaperWidth = Mm(page.Width);
    p.PaperHeight = Mm(page.Length);
    p.Margins = {Mm(page.LeftMargin), Mm(page.TopMargin), Mm(page.Width - page.RightMargin),
                 Mm(page.Length - page.BottomMargin)};

    // The title band sits at the margins' corner; the detail band follows at the title band's
    // height taken to whole tenths of a millimetre, as the report engine advances.
    const double left = p.Margins.Left;
    const double top = p.Margins.Top;
    p.TitleBand = {left, top, left + Mm(sheet.Title.Width), top + Mm(sheet.Title.Height)};
    const double detailTop = top + Mm(std::round(sheet.Title.Height));
    p.DetailBand = {left, detailTop, left + Mm(sheet.Detail.Width), detailTop + Mm(sheet.Detail.Height)};

    const TQRLabel& label = sheet.TitleLabel;
    const double labelTop = p.TitleBand.Top + Mm(label.Size.Top);
    double labelLeft = p.TitleBand.Left + Mm(label.Size.Left);
    const double labelWidth = label.AutoSize ? titleWidthMm : Mm(label.Size.Width);
    if (label.AlignToBand) labelLeft = p.TitleBand.CentreX() - labelWidth / 2;
    p.TitleBox = {labelLeft, labelTop, labelLeft + labelWidth, labelTop + Mm(label.Size.Height)};

    const TQRSize& text = sheet.Text.Size;
    const double textLeft = p.DetailBand.Left + Mm(text.Left);
    const double textTop = p.DetailBand.Top + Mm(text.Top);
    p.TextBox = {textLeft, textTop, textLeft + Mm(text.Width), textTop + Mm(text.Height)};
    return p;
}

std::vector<std::string> WrapParagraph(std::string_view paragraph, double widthMm, const MeasureMm& measure) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    const std::size_t n = paragraph.size();
    if (n == 0) return {std::string()};
    while (pos < n) {
        // The longest run of whole words from pos that fits; the widths only grow with the run.
        std::size_t end = std::string_view::npos;
        for (std::size_t b = pos + 1; b <= n; ++b) {
            const bool wordEnd = b == n || (paragraph[b] == ' ' && paragraph[b - 1] != ' ');
            if (!wordEnd) continue;
            if (measure(paragraph.substr(pos, b - pos)) > widthMm) break;
            end = b;
        }
        if (end == std::string_view::npos) {
            // Not even the first word fits: as many of its characters as fit, at least one.
            end = pos + 1;
            while (end < n && paragraph[end] != ' ' && measure(paragraph.substr(pos, end + 1 - pos)) <= widthMm) ++end;
        }
        lines.emplace_back(paragraph.substr(pos, end - pos));
        pos = end;
        while (pos < n && paragraph[pos] == ' ') ++pos;
    }
    return lines;
}

std::vector<PrintedLine> LayOutText(const std::vector<std::string>& paragraphs, const RectMm& box,
                                    double lineHeightMm, const MeasureMm& measure) {
    std::vector<PrintedLine> out;
    double y = box.Top;
    for (std::size_t i = 0; i < paragraphs.size(); ++i) {
        for (std::string& line : WrapParagraph(paragraphs[i], box.Width(), measure)) {
            if (y >= box.Bottom) return out;
            out.push_back({i, std::move(line), y});
            y += lineHeightMm;
        }
    }
    return out;
}

}  // namespace atua::report
