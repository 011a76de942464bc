// The main window's description: its settings and components, the information text and the
// pictures' resource names. Compiled with the execution character set Windows-1252.
#include "forms/un_frm_principal.h"

namespace atua::forms {

namespace {

using app::ComponentDesc;
using app::TAlign;
using app::TScrollStyle;

constexpr std::string_view kLines[] = {
    "VELMORA",
    "DASTRIN",
    "",
    "Atualização TARVO (1.0 - 1.01)",
    "",
    "LEIA COM ATENÇÃO!",
    "É recomendado imprimir este documento.",
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
};

constexpr app::FormDesc kForm{
    .ClassName = "Tfrm_principal",
    .Name = "frm_principal",
    .Caption = "Atualização do Visual TARVO. ID - 1.01.220202",
    .ClientWidth = 619,
    .ClientHeight = 388,
    .Position = app::TPosition::poScreenCenter,
    .BorderStyle = app::TBorderStyle::bsSingle,
    .FontName = L"MS Sans Serif",
    .FontHeight = -11,
};

// In creation order; each later control lies above the earlier ones.
constexpr ComponentDesc kComponents[] = {
    {.ClassName = "TQuickRep", .Name = "QuickRep1", .Parent = "frm_principal",
     .Left = 72, .Top = 32, .Width = 794, .Height = 1123, .TabOrder = 1, .TabStop = false},
    {.ClassName = "TPanel", .Name = "Panel1", .Parent = "frm_principal",
     .Left = 0, .Top = 0, .Width = 625, .Height = 529, .Caption = "Panel1", .TabOrder = 3, .TabStop = false},
    {.ClassName = "TBitBtn", .Name = "BitBtn2", .Parent = "Panel1",
     .Left = 224, .Top = 355, .Width = 241, .Height = 25, .Caption = "Imprimir Informações (recomendado)",
     .TabOrder = 0, .Default = true, .Glyph = L"BITBTN2_GLYPH", .NumGlyphs = 2, .OnClick = "BitBtn2Click"},
    {.ClassName = "TRichEdit", .Name = "RichEdit1", .Parent = "frm_principal",
     .Left = 0, .Top = 0, .Width = 619, .Height = 345, .TabOrder = 0, .Align = TAlign::alTop,
     .ScrollBars = TScrollStyle::ssVertical, .HideScrollBars = false, .Lines = kLines},
    {.ClassName = "TBitBtn", .Name = "BitBtn1", .Parent = "frm_principal",
     .Left = 472, .Top = 355, .Width = 137, .Height = 25, .Caption = "Atualizar o Sistema",
     .TabOrder = 2, .Glyph = L"BITBTN1_GLYPH", .NumGlyphs = 2, .OnClick = "BitBtn1Click"},
    {.ClassName = "TTable", .Name = "movimento", .Parent = "", .TableName = "c:\\VisualTarvo\\based\\movimento.db"},
};

}  // namespace

const app::FormDesc& FormDescription() { return kForm; }
std::span<const app::ComponentDesc> ComponentDescriptions() { return kComponents; }
std::span<const std::string_view> InformationLines() { return kLines; }

}  // namespace atua::forms
