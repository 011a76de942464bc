#include "report/quickrep.h"

namespace atua::report {

TQuickRep::TQuickRep() {
    SheetTemplate t = SheetDescription();
    Settings = std::move(t.Report);
    QRBand1 = std::move(t.Title);
    asd = std::move(t.TitleLabel);
    QRBand2 = std::move(t.Detail);
    QRRichText1 = std::move(t.Text);
}

SheetTemplate TQuickRep::Template() const {
    return SheetTemplate{Settings, QRBand1, asd, QRBand2, QRRichText1};
}

}  // namespace atua::report
