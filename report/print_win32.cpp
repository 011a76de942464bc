// Printing the sheet on GDI: the default printer, the template's job settings, one page drawn
// at the template's positions measured from the paper's edge.
#include <windows.h>
#include <winspool.h>

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "report/layout.h"
#include "report/progress_win32.h"
#include "report/quickrep.h"
#include "engine/os/cp1252.h"

namespace atua::report {

namespace {

constexpr double kMmPerInch = 25.4;
constexpr int kPointsPerInch = 72;

struct DcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
using UniqueDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;

struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using UniqueFont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;
using UniqueBrush = std::unique_ptr<std::remove_pointer_t<HBRUSH>, GdiObjectDeleter>;

struct PrinterCloser {
    void operator()(HANDLE printer) const { ClosePrinter(printer); }
};
using UniquePrinter = std::unique_ptr<void, PrinterCloser>;

// Selects an object into a device context for the guard's lifetime.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {
        if (!previous_ || previous_ == HGDI_ERROR) throw EPrinter("The printer could not select a font.");
    }
    ~Selection() { SelectObject(dc_, previous_); }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// Resets the report's producing flag however the command ends.
class ProducingGuard {
public:
    explicit ProducingGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~ProducingGuard() { flag_ = false; }
    ProducingGuard(const ProducingGuard&) = delete;
    ProducingGuard& operator=(const ProducingGuard&) = delete;

private:
    bool& flag_;
};

// A started print job: aborted unless it was ended, so a failure leaves no half page queued.
class PrintJob {
public:
    PrintJob(HDC dc, const std::wstring& documentName, std::string printer) : dc_(dc), printer_(std::move(printer)) {
        DOCINFOW info{};
        info.cbSize = sizeof info;
        info.lpszDocName = documentName.c_str();
        if (StartDocW(dc_, &info) <= 0) throw EPrinter("The printer " + printer_ + " refused to start the print job.");
    }
    ~PrintJob() {
        if (!ended_) AbortDoc(dc_);
    }
    PrintJob(const PrintJob&) = delete;
    PrintJob& operator=(const PrintJob&) = delete;

    void Page(const SheetTemplate& sheet);

    void End() {
        if (EndDoc(dc_) <= 0) throw EPrinter("The printer " + printer_ + " did not accept the print job.");
        ended_ = true;
    }

private:
    HDC dc_;
    std::string printer_;
    bool ended_ = false;
};

bool AnyPrinterInstalled() {
    DWORD needed = 0, count = 0;
    const DWORD flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
    EnumPrintersW(flags, nullptr, 4, nullptr, 0, &needed, &count);
    if (needed == 0) return false;
    std::vector<BYTE> buffer(needed);
    if (!EnumPrintersW(flags, nullptr, 4, buffer.data(), needed, &needed, &count)) return false;
    return count > 0;
}

std::wstring DefaultPrinter() {
    DWORD size = 0;
    GetDefaultPrinterW(nullptr, &size);
    std::wstring name(size, L'\0');
    if (size == 0 || !GetDefaultPrinterW(name.data(), &size))
        throw EPrinter("There is no default printer currently selected");
    name.resize(size > 0 ? size - 1 : 0);
    return name;
}

std::string Quoted(const std::wstring& printer) { return "\"" + os::Narrow1252(printer) + "\""; }

// The printer's port, which the capability queries want.
std::wstring PortOf(HANDLE printer) {
    DWORD needed = 0;
    GetPrinterW(printer, 5, nullptr, 0, &needed);
    if (needed == 0) return {};
    std::vector<BYTE> buffer(needed);
    if (!GetPrinterW(printer, 5, buffer.data(), needed, &needed)) return {};
    const auto* info = reinterpret_cast<const PRINTER_INFO_5W*>(buffer.data());
    return info->pPortName ? info->pPortName : L"";
}

bool OffersA4(const std::wstring& printer, const std::wstring& port) {
    const wchar_t* portName = port.empty() ? nullptr : port.c_str();
    const DWORD count = DeviceCapabilitiesW(printer.c_str(), portName, DC_PAPERS, nullptr, nullptr);
    if (count == 0 || count == static_cast<DWORD>(-1)) return false;
    std::vector<WORD> papers(count);
    DeviceCapabilitiesW(printer.c_str(), portName, DC_PAPERS, reinterpret_cast<wchar_t*>(papers.data()), nullptr);
    for (WORD paper : papers)
        if (paper == DMPAPER_A4) return true;
    return false;
}

// The printer's own settings with the template's job settings merged in: A4 where offered
// (else the current paper), portrait, one copy, automatic paper source.
std::vector<BYTE> JobSettings(const std::wstring& printer, const TQRReportSettings& report) {
    HANDLE raw = nullptr;
    if (!OpenPrinterW(const_cast<wchar_t*>(printer.c_str()), &raw, nullptr))
        throw EPrinter("The printer " + Quoted(printer) + " could not be opened.");
    UniquePrinter handle(raw);
    auto* name = const_cast<wchar_t*>(printer.c_str());

    const LONG size = DocumentPropertiesW(nullptr, raw, name, nullptr, nullptr, 0);
    if (size <= 0) throw EPrinter("The settings of the printer " + Quoted(printer) + " could not be read.");
    std::vector<BYTE> buffer(static_cast<std::size_t>(size));
    auto* mode = reinterpret_cast<DEVMODEW*>(buffer.data());
    if (DocumentPropertiesW(nullptr, raw, name, mode, nullptr, DM_OUT_BUFFER) != IDOK)
        throw EPrinter("The settings of the printer " + Quoted(printer) + " could not be read.");

    if (report.Page.PaperSize == TQRPaperSize::A4 && OffersA4(printer, PortOf(raw))) {
        mode->dmFields = (mode->dmFields | DM_PAPERSIZE) & ~(DM_PAPERLENGTH | DM_PAPERWIDTH);
        mode->dmPaperSize = DMPAPER_A4;
    }
    mode->dmFields |= DM_ORIENTATION | DM_COPIES | DM_DEFAULTSOURCE | DM_DUPLEX;
    mode->dmOrientation = report.Page.Orientation == TPrinterOrientation::poPortrait ? DMORIENT_PORTRAIT
                                                                                     : DMORIENT_LANDSCAPE;
    mode->dmCopies = static_cast<short>(report.PrinterSettings.Copies);
    mode->dmDefaultSource = DMBIN_AUTO;
    mode->dmDuplex = report.PrinterSettings.Duplex ? DMDUP_VERTICAL : DMDUP_SIMPLEX;

    std::vector<BYTE> merged(buffer.size());
    if (DocumentPropertiesW(nullptr, raw, name, reinterpret_cast<DEVMODEW*>(merged.data()), mode,
                            DM_IN_BUFFER | DM_OUT_BUFFER) != IDOK)
        throw EPrinter("The printer " + Quoted(printer) + " did not accept the sheet's settings.");
    return merged;
}

// Lengths on the page: millimetres from the paper's edge to device units of the printable area.
class DeviceGeometry {
public:
    explicit DeviceGeometry(HDC dc)
        : dpiX_(GetDeviceCaps(dc, LOGPIXELSX)),
          dpiY_(GetDeviceCaps(dc, LOGPIXELSY)),
          offsetX_(GetDeviceCaps(dc, PHYSICALOFFSETX)),
          offsetY_(GetDeviceCaps(dc, PHYSICALOFFSETY)) {
        if (dpiX_ <= 0 || dpiY_ <= 0) throw EPrinter("The printer did not report its resolution.");
    }
    int X(double mm) const { return static_cast<int>(std::lround(mm * dpiX_ / kMmPerInch)) - offsetX_; }
    int Y(double mm) const { return static_cast<int>(std::lround(mm * dpiY_ / kMmPerInch)) - offsetY_; }
    RECT Rect(const RectMm& r) const { return RECT{X(r.Left), Y(r.Top), X(r.Right), Y(r.Bottom)}; }
    double WidthMm(int units) const { return units * kMmPerInch / dpiX_; }
    double HeightMm(int units) const { return units * kMmPerInch / dpiY_; }
    int dpiY() const { return dpiY_; }

private:
    int dpiX_, dpiY_, offsetX_, offsetY_;
};

struct FontChoice {
    std::wstring face;
    int weight;
};

int CALLBACK NoteFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool FaceInstalled(HDC dc, const wchar_t* face) {
    LOGFONTW query{};
    query.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(query.lfFaceName, face, LF_FACESIZE);
    bool found = false;
    EnumFontFamiliesExW(dc, &query, NoteFace, reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

// The template's face first, then stand-ins for where it is missing, closest first. Liberation
// Sans has Arial's metrics; Arial Black has no free twin, so a heavy bold sans of about its width
// takes its place.
std::vector<FontChoice> Candidates(const TQRFont& font) {
    const int weight = font.Bold ? FW_BOLD : FW_NORMAL;
    std::vector<FontChoice> choices{{os::Widen1252(font.Name), weight}};
    if (font.Name == "Arial") choices.push_back({L"Liberation Sans", weight});
    if (font.Name == "Arial Black") {
        choices.push_back({L"DejaVu Sans Condensed", FW_BOLD});
        choices.push_back({L"DejaVu Sans", FW_BOLD});
        choices.push_back({L"Liberation Sans", FW_BOLD});
    }
    return choices;
}

// The first installed candidate, or the template's face for the system's own font mapping.
UniqueFont CreateSheetFont(HDC dc, const TQRFont& font, int dpiY) {
    const std::vector<FontChoice> choices = Candidates(font);
    const FontChoice* chosen = &choices.front();
    for (const FontChoice& c : choices) {
        if (FaceInstalled(dc, c.face.c_str())) {
            chosen = &c;
            break;
        }
    }
    LOGFONTW lf{};
    lf.lfHeight = -MulDiv(font.Size, dpiY, kPointsPerInch);
    lf.lfWeight = chosen->weight;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfOutPrecision = OUT_TT_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(lf.lfFaceName, chosen->face.c_str(), LF_FACESIZE);
    HFONT created = CreateFontIndirectW(&lf);
    if (!created) throw EPrinter("The font " + font.Name + " could not be created for the printer.");
    return UniqueFont(created);
}

int TextWidth(HDC dc, std::string_view cp1252) {
    const std::wstring text = os::Widen1252(cp1252);
    SIZE size{};
    if (!text.empty() && !GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size))
        throw EPrinter("The printer could not measure the sheet's text.");
    return size.cx;
}

void Fill(HDC dc, const RECT& area, HBRUSH brush) {
    if (!FillRect(dc, &area, brush)) throw EPrinter("The printer could not fill a band of the sheet.");
}

void DrawLine(HDC dc, int x, int y, std::string_view cp1252, const RECT* clip) {
    const std::wstring text = os::Widen1252(cp1252);
    if (text.empty()) return;
    if (!ExtTextOutW(dc, x, y, clip ? ETO_CLIPPED : 0, clip, text.c_str(), static_cast<UINT>(text.size()), nullptr))
        throw EPrinter("The printer could not draw the sheet's text.");
}

// Draws the one page: both bands filled with their colour, the title, then the text.
void DrawSheet(HDC dc, const SheetTemplate& sheet) {
    const DeviceGeometry geometry(dc);
    UniqueFont titleFont = CreateSheetFont(dc, sheet.TitleLabel.Font, geometry.dpiY());
    UniqueFont textFont = CreateSheetFont(dc, sheet.Text.Font, geometry.dpiY());
    UniqueBrush white(CreateSolidBrush(RGB(255, 255, 255)));
    if (!white) throw EPrinter("The printer could not create a brush.");

    double titleWidth = 0;
    {
        Selection select(dc, titleFont.get());
        titleWidth = geometry.WidthMm(TextWidth(dc, sheet.TitleLabel.Caption));
    }
    const PageLayout page = LayOutPage(sheet, titleWidth);

    SetMapMode(dc, MM_TEXT);
    SetTextAlign(dc, TA_TOP | TA_LEFT | TA_NOUPDATECP);
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);

    Fill(dc, geometry.Rect(page.TitleBand), white.get());
    {
        Selection select(dc, titleFont.get());
        Fill(dc, geometry.Rect(page.TitleBox), white.get());
        DrawLine(dc, geometry.X(page.TitleBox.Left), geometry.Y(page.TitleBox.Top), sheet.TitleLabel.Caption,
                 nullptr);
    }

    Fill(dc, geometry.Rect(page.DetailBand), white.get());
    Selection select(dc, textFont.get());
    TEXTMETRICW metrics{};
    if (!GetTextMetricsW(dc, &metrics)) throw EPrinter("The printer could not measure the sheet's font.");
    const MeasureMm measure = [&](std::string_view run) { return geometry.WidthMm(TextWidth(dc, run)); };
    const std::vector<PrintedLine> lines =
        LayOutText(sheet.Text.Lines, page.TextBox, geometry.HeightMm(metrics.tmHeight), measure);
    const RECT clip = geometry.Rect(page.TextBox);
    for (const PrintedLine& line : lines)
        DrawLine(dc, geometry.X(page.TextBox.Left), geometry.Y(line.Top), line.Text, &clip);
}

void PrintJob::Page(const SheetTemplate& sheet) {
    if (StartPage(dc_) <= 0) throw EPrinter("The printer " + printer_ + " refused to start the page.");
    DrawSheet(dc_, sheet);
    if (EndPage(dc_) <= 0) throw EPrinter("The printer " + printer_ + " refused the page.");
}

}  // namespace

void TQuickRep::Print() {
    if (producing_) return;
    if (!AnyPrinterInstalled()) return;
    ProducingGuard producing(producing_);
    const std::wstring printer = DefaultPrinter();
    const SheetTemplate sheet = Template();

    std::optional<ProgressWindow> progress;
    if (Settings.ShowProgress) progress.emplace();
    const HWND progressWindow = progress ? progress->Handle() : nullptr;

    std::vector<BYTE> settings = JobSettings(printer, Settings);
    UniqueDc dc(CreateDCW(L"WINSPOOL", printer.c_str(), nullptr, reinterpret_cast<DEVMODEW*>(settings.data())));
    if (!dc) throw EPrinter("The printer " + Quoted(printer) + " could not be prepared for printing.");
    PumpPendingMessages(progressWindow);

    PrintJob job(dc.get(), os::Widen1252(Settings.ReportTitle), Quoted(printer));
    job.Page(sheet);
    PumpPendingMessages(progressWindow);
    job.End();
}

}  // namespace atua::report
