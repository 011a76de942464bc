#include "forms/un_frm_principal.h"

#include "app/application.h"
#include "app/dialogs.h"

namespace atua::forms {

Tfrm_principal* frm_principal = nullptr;

namespace {

// The components that are not controls: the report (not a window of its own: it is drawn only
// on paper) and the table.
std::unique_ptr<app::TComponent> MakeNonVisual(const app::ComponentDesc& desc) {
    if (desc.ClassName == "TQuickRep") return std::make_unique<app::TComponentOf<TQuickRep>>(desc.Name);
    if (desc.ClassName == "TTable") {
        auto table = std::make_unique<app::TComponentOf<TTable>>(desc.Name);
        table->Value.TableName = std::string(desc.TableName);
        return table;
    }
    return nullptr;
}

}  // namespace

Tfrm_principal::Tfrm_principal(app::TApplication& application)
    : TForm(application, FormDescription(), ComponentDescriptions(), MakeNonVisual,
            [this](std::string_view name) -> app::TNotifyEvent {
                // The published handlers.
                if (name == "BitBtn1Click") return [this](TObject* sender) { BitBtn1Click(sender); };
                if (name == "BitBtn2Click") return [this](TObject* sender) { BitBtn2Click(sender); };
                return {};
            }),
      RichEdit1(Find<TRichEdit>("RichEdit1")),
      QuickRep1(Find<app::TComponentOf<TQuickRep>>("QuickRep1").Value),
      QRBand1(QuickRep1.QRBand1),
      asd(QuickRep1.asd),
      QRBand2(QuickRep1.QRBand2),
      QRRichText1(QuickRep1.QRRichText1),
      BitBtn1(Find<TBitBtn>("BitBtn1")),
      Panel1(Find<TPanel>("Panel1")),
      BitBtn2(Find<TBitBtn>("BitBtn2")),
      movimento(Find<app::TComponentOf<TTable>>("movimento").Value) {}

void Tfrm_principal::BitBtn2Click(TObject*) { QuickRep1.Print(); }

int Tfrm_principal::Confirm(std::string_view question) { return app::MessageDlgConfirm(question); }

void Tfrm_principal::ShowMessage(std::string_view text) { app::ShowMessage(text); }

void Tfrm_principal::Terminate() { Application().Terminate(); }

}  // namespace atua::forms
