// Compiled with the execution character set Windows-1252: the literals below are the sheet's byte
// strings.
#include "report/template.h"

namespace atua::report {

const char kSupportTelephone[] = "(61) 3255-0101";

namespace {

std::vector<std::string> SheetLines() {
    return {
        "Atualização TARVO (1.0 - 1.01)",
        "",
        "LEIA COM ATENÇÃO!",
        "",
        "Informações sobre a atualização:",
        "  - O TARVO NÃO pode estar sendo executado no momento da atualização;",
        "  - Esta atualização só deve ser usada por Unidades Gestora com grande movimentação por mês (+1000 notas/mês);",
        "  - Unidades com movimentação inferior a 300 notas/mês NÃO deve utilizar esta atualização;",
        "",
        "Informações adicionais:",
        "    A atualização irá aumentar o desempenho em Unidade Gestora com um número de notas ficais",
        "digitadas muito grande. Unidades que não desejarem utilizar esta atualização podem",
        "reinstalar o TARVO, o que vai melhorar circunstancialmente o desempenho do sistema, pois todas as",
        "notas do sistema serão apagadas.",
        "",
        "Após a atualização o sistema:",
        "  - Nunca desligue o computador enquanto o TARVO estiver sendo executado;",
        "  - É altamente recomendado a utilização de NO-BREAKS;",
        "  - Não deixe o TARVO executando enquanto ele nao estiver sendo utilizado;",
        "  - Evite deixar o sistema quando estiver digitando ou alterando algum dado.",
        "",
        "Em caso de problemas:",
        "  - Atenção: todos os dados digitados terão que ser apagados (se houver dados);",
        "  - Vá ao \"Painel de Controle\";",
        "  - Clique em \"Adicionar ou Remover Programas\";",
        "  - Remova, caso exista, a instalaçao entitulada:",
        "    \"Marquelo\";",
        "  - Instale o TARVO novamente.",
        "  - Execute a Atualização.",
        "",
        "",
        std::string("EM CASO DE DÚVIDAS LIGUE: ") + kSupportTelephone,
        "",
        "Velmora - Dastrin",
        "Programador Responsável: Olvaster",
        "",
        "",
    };
}

}  // namespace

SheetTemplate SheetDescription() {
    SheetTemplate t;

    TQRReportSettings& r = t.Report;
    r.Name = "QuickRep1";
    r.Page.BottomMargin = 100;
    r.Page.Length = 2970;
    r.Page.TopMargin = 100;
    r.Page.Width = 2100;
    r.Page.LeftMargin = 100;
    r.Page.RightMargin = 100;
    r.Page.ColumnSpace = 0;
    r.Page.PaperSize = TQRPaperSize::A4;
    r.Page.Orientation = TPrinterOrientation::poPortrait;
    r.Page.Columns = 1;
    r.PrinterSettings.Copies = 1;
    r.PrinterSettings.Duplex = false;
    r.PrinterSettings.FirstPage = 0;
    r.PrinterSettings.LastPage = 0;
    r.PrinterSettings.OutputBin = TQRBin::Auto;
    r.ReportTitle = "";
    r.ShowProgress = true;
    r.PrintIfEmpty = true;
    r.Font = {"Arial", 10, false, TColor::clWindowText};

    t.Title.Name = "QRBand1";
    t.Title.BandType = TQRBandType::rbTitle;
    t.Title.Height = 134.9375;
    t.Title.Width = 1899.70833;
    t.Title.Color = TColor::clWhite;

    TQRLabel& l = t.TitleLabel;
    l.Name = "asd";
    l.Caption = "Atualização N.º 01 - TARVO";
    l.Font = {"Arial Black", 18, false, TColor::clWindowText};
    l.Alignment = TAlignment::taCenter;
    l.AlignToBand = true;
    l.AutoSize = true;
    l.WordWrap = true;
    l.AutoStretch = false;
    l.Transparent = false;
    l.Color = TColor::clWhite;
    l.Size = {89.95833, 515.9375, 42.33333, 865.1875};

    t.Detail.Name = "QRBand2";
    t.Detail.BandType = TQRBandType::rbDetail;
    t.Detail.Height = 1756.83333;
    t.Detail.Width = 1899.70833;
    t.Detail.Color = TColor::clWhite;

    TQRRichText& x = t.Text;
    x.Name = "QRRichText1";
    x.Lines = SheetLines();
    x.Font = {"Arial", 10, false, TColor::clWindowText};
    x.Alignment = TAlignment::taLeftJustify;
    x.AutoStretch = false;
    x.Color = TColor::clWindow;
    x.Size = {1611.3125, 21.16667, 21.16667, 1844.14583};
    return t;
}

}  // namespace atua::report
