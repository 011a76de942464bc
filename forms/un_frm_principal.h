// The main window: the information text, the two picture buttons, and the two components that
// are no part of the visible window (the information sheet's report and the movement table).
#pragma once

#include <span>
#include <string_view>

#include "app/controls.h"
#include "engine/table.h"
#include "report/quickrep.h"
#include "update/atualiza_movimento.h"

namespace atua::forms {

using app::TBitBtn;
using app::TObject;
using app::TPanel;
using app::TRichEdit;
using report::TQuickRep;

class Tfrm_principal final : public app::TForm, public update::MovementUpdate {
public:
    explicit Tfrm_principal(app::TApplication& application);

    // The components, in the order of the window's description.
    TRichEdit& RichEdit1;
    TQuickRep& QuickRep1;
    decltype(TQuickRep::QRBand1)& QRBand1;
    decltype(TQuickRep::asd)& asd;
    decltype(TQuickRep::QRBand2)& QRBand2;
    decltype(TQuickRep::QRRichText1)& QRRichText1;
    TBitBtn& BitBtn1;
    TPanel& Panel1;
    TBitBtn& BitBtn2;
    TTable& movimento;

    // "Atualizar o Sistema": asks, then runs AtualizaMovimento on Yes.
    using update::MovementUpdate::BitBtn1Click;
    // "Imprimir Informações (recomendado)": prints the information sheet.
    void BitBtn2Click(TObject* Sender);
    // The index update of `movimento`.
    using update::MovementUpdate::AtualizaMovimento;

private:
    int Confirm(std::string_view question) override;
    void ShowMessage(std::string_view text) override;
    void Terminate() override;
    update::MovementTable& Table() override { return movimentoTable_; }

    // `movimento` as the update works it.
    update::TableComponent movimentoTable_{movimento};
};

// The one main window, set by the application's CreateForm.
extern Tfrm_principal* frm_principal;

// The window's description (its texts are Windows-1252).
const app::FormDesc& FormDescription();
std::span<const app::ComponentDesc> ComponentDescriptions();
// The information text, one entry per line.
std::span<const std::string_view> InformationLines();

}  // namespace atua::forms
