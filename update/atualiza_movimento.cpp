#include "update/atualiza_movimento.h"

namespace atua::update {

void MovementUpdate::BitBtn1Click(app::TComponent*) {
    if (Confirm(UpdateTexts::Question()) == app::mrYes) AtualizaMovimento();
}

void MovementUpdate::AtualizaMovimento() {
    MovementTable& movimento = Table();

    // 1. Is the table there at all? Whatever the reason, the user is told to install the product.
    try {
        movimento.Open();
    } catch (...) {
        ShowMessage(UpdateTexts::NotInstalled());
        return;
    }

    // 2. The indexes are added to the closed table; a failure here goes to the error report.
    movimento.Close();

    // 3. The cached index definitions are stale after the additions; a failure to clear them
    //    changes nothing on disk.
    try {
        movimento.ClearIndexDefs();
    } catch (...) {
    }

    // 4 and 5. The engine's own message reaches the error report when it refuses an addition.
    movimento.AddIndex("", "mov_cd_controle", {TIndexOption::ixPrimary, TIndexOption::ixUnique}, "");
    movimento.AddIndex("CNPJ_IDX", "cad_cd_cnpj", {TIndexOption::ixCaseInsensitive}, "");

    // 6. The table must open again with its new indexes.
    try {
        movimento.Open();
        movimento.Refresh();
        movimento.Close();
    } catch (...) {
        ShowMessage(UpdateTexts::ProductRunning());
        return;
    }

    // 7.
    ShowMessage(UpdateTexts::Success());
    Terminate();
}

}  // namespace atua::update
