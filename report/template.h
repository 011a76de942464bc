// The information sheet's template: the report, its two bands, the title label and the rich text,
// as the report designer stores them. Lengths are tenths of a millimetre from the paper's top-left
// corner; a printable's left and top are relative to its band. Texts are Windows-1252.
#pragma once

#include <string>
#include <vector>

namespace atua::report {

enum class TQRPaperSize { A4 };
enum class TPrinterOrientation { poPortrait, poLandscape };
enum class TQRBin { Auto };
enum class TQRBandType { rbTitle, rbDetail };
enum class TAlignment { taLeftJustify, taCenter };
enum class TColor { clWhite, clWindow, clBlack, clWindowText };

struct TQRFont {
    std::string Name;
    int Size = 0;          // points
    bool Bold = false;
    TColor Color = TColor::clWindowText;
};

// No side drawn unless set.
struct TQRFrame {
    bool DrawTop = false, DrawBottom = false, DrawLeft = false, DrawRight = false;
    TColor Color = TColor::clBlack;
};

// Page.Values, in the order the designer stores them.
struct TQRPage {
    double BottomMargin = 0, Length = 0, TopMargin = 0, Width = 0, LeftMargin = 0, RightMargin = 0,
           ColumnSpace = 0;
    TQRPaperSize PaperSize = TQRPaperSize::A4;
    TPrinterOrientation Orientation = TPrinterOrientation::poPortrait;
    int Columns = 1;
};

struct TQRPrinterSettings {
    int Copies = 1;
    bool Duplex = false;
    int FirstPage = 0, LastPage = 0;  // 0, 0: every page
    TQRBin OutputBin = TQRBin::Auto;
};

// A printable's Size.Values: (height, left, top, width), left and top from its band's corner.
struct TQRSize {
    double Height = 0, Left = 0, Top = 0, Width = 0;
};

struct TQRLabel {
    std::string Name;
    std::string Caption;
    TQRFont Font;
    TAlignment Alignment = TAlignment::taLeftJustify;
    bool AlignToBand = false, AutoSize = false, WordWrap = false, AutoStretch = false;
    bool Transparent = false;
    TColor Color = TColor::clWhite;
    TQRSize Size;
    TQRFrame Frame;
};

struct TQRRichText {
    std::string Name;
    std::vector<std::string> Lines;  // one paragraph each
    TQRFont Font;
    TAlignment Alignment = TAlignment::taLeftJustify;
    bool AutoStretch = false;
    TColor Color = TColor::clWindow;  // screen only: nothing is painted behind the text on paper
    TQRSize Size;
    TQRFrame Frame;
};

// A band's Size.Values: (height, width).
struct TQRBand {
    std::string Name;
    TQRBandType BandType = TQRBandType::rbDetail;
    double Height = 0, Width = 0;
    TColor Color = TColor::clWhite;
    bool AlignToBottom = false, ForceNewColumn = false, ForceNewPage = false;
    TQRFrame Frame;
};

struct TQRReportSettings {
    std::string Name;
    TQRPage Page;
    TQRPrinterSettings PrinterSettings;
    std::string ReportTitle;  // the print job's document name
    bool ShowProgress = true;
    bool PrintIfEmpty = true;
    TQRFont Font;
    TQRFrame Frame;
};

// The whole template of the sheet, as one value.
struct SheetTemplate {
    TQRReportSettings Report;
    TQRBand Title;         // QRBand1
    TQRLabel TitleLabel;   // asd, on QRBand1
    TQRBand Detail;        // QRBand2
    TQRRichText Text;      // QRRichText1, on QRBand2
};

// The support line's telephone number, printed after "EM CASO DE DÚVIDAS LIGUE: ".
extern const char kSupportTelephone[];

// The sheet's description, built anew on every call.
SheetTemplate SheetDescription();

}  // namespace atua::report
