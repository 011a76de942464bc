// Compiled with the execution character set Windows-1252, like the template itself.
// The sheet's template: report settings, bands, title and the 37 lines byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/quickrep.h"

namespace atua::report {
namespace {

TEST(SheetTemplate, ReportSettings) {
    const TQuickRep report;
    const TQRReportSettings& r = report.Settings;
    EXPECT_EQ(r.Name, "QuickRep1");
    const TQRPage& p = r.Page;
    const std::vector<double> values{p.BottomMargin, p.Length, p.TopMargin, p.Width,
                                     p.LeftMargin, p.RightMargin, p.ColumnSpace};
    EXPECT_EQ(values, (std::vector<double>{100, 2970, 100, 2100, 100, 100, 0}));
    EXPECT_EQ(p.PaperSize, TQRPaperSize::A4);
    EXPECT_EQ(p.Orientation, TPrinterOrientation::poPortrait);
    EXPECT_EQ(p.Columns, 1);
    EXPECT_EQ(r.PrinterSettings.Copies, 1);
    EXPECT_FALSE(r.PrinterSettings.Duplex);
    EXPECT_EQ(r.PrinterSettings.OutputBin, TQRBin::Auto);
    EXPECT_EQ(r.PrinterSettings.FirstPage, 0);
    EXPECT_EQ(r.PrinterSettings.LastPage, 0);
    EXPECT_TRUE(r.ReportTitle.empty());
    EXPECT_TRUE(r.ShowProgress);
    EXPECT_TRUE(r.PrintIfEmpty);
}

TEST(SheetTemplate, BandsAndTitle) {
    const TQuickRep report;
    EXPECT_EQ(report.QRBand1.Name, "QRBand1");
    EXPECT_EQ(report.QRBand1.BandType, TQRBandType::rbTitle);
    EXPECT_EQ(report.QRBand2.Name, "QRBand2");
    EXPECT_EQ(report.QRBand2.BandType, TQRBandType::rbDetail);
    for (const TQRBand* band : {&report.QRBand1, &report.QRBand2}) {
        EXPECT_EQ(band->Color, TColor::clWhite);
        EXPECT_DOUBLE_EQ(band->Width, 1899.70833);
    }
    EXPECT_DOUBLE_EQ(report.QRBand1.Height, 134.9375);
    EXPECT_DOUBLE_EQ(report.QRBand2.Height, 1756.83333);

    const TQRLabel& asd = report.asd;
    EXPECT_EQ(asd.Caption, "Atualiza\xE7\xE3o N.\xBA 01 - TARVO");  // masculine ordinal, not the degree sign
    EXPECT_EQ(asd.Font.Name, "Arial Black");
    EXPECT_EQ(asd.Font.Size, 18);
    EXPECT_FALSE(asd.Font.Bold);
    EXPECT_EQ(asd.Alignment, TAlignment::taCenter);
    EXPECT_TRUE(asd.AlignToBand);
    EXPECT_TRUE(asd.AutoSize);
    EXPECT_FALSE(asd.Transparent);
    EXPECT_EQ(asd.Color, TColor::clWhite);

    const TQRRichText& text = report.QRRichText1;
    EXPECT_EQ(text.Font.Name, "Arial");
    EXPECT_EQ(text.Font.Size, 10);
    EXPECT_FALSE(text.AutoStretch);
    EXPECT_EQ(text.Alignment, TAlignment::taLeftJustify);
}

TEST(SheetTemplate, TheThirtySevenLines) {
    const std::vector<std::string> expected{
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
    const std::vector<std::string>& lines = TQuickRep().QRRichText1.Lines;
    ASSERT_EQ(lines.size(), 37u);
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << "line " << i + 1;

    // Windows-1252 bytes, not UTF-8.
    EXPECT_EQ(lines[0], "Atualiza\xE7\xE3o TARVO (1.0 - 1.01)");
    EXPECT_EQ(lines[2], "LEIA COM ATEN\xC7\xC3O!");
    EXPECT_EQ(lines[31].substr(0, 26), "EM CASO DE D\xDAVIDAS LIGUE: ");
    EXPECT_FALSE(std::string_view(kSupportTelephone).empty());
}

TEST(SheetTemplate, HoldsNoneOfTheWindowOnlyLines) {
    for (const std::string& line : TQuickRep().QRRichText1.Lines) {
        EXPECT_EQ(line.find("VELMORA"), std::string::npos) << line;
        EXPECT_EQ(line.find("DASTRIN"), std::string::npos) << line;
        EXPECT_EQ(line.find("É recomendado imprimir este documento."), std::string::npos) << line;
    }
}

}  // namespace
}  // namespace atua::report
