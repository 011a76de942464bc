// The confirmed index update of the product's movement table.
#pragma once

#include <string>
#include <string_view>

#include "app/dialog_results.h"
#include "engine/table.h"

namespace atua::app {
class TComponent;
}

namespace atua::update {

// The fixed path of the product's movement table.
inline constexpr std::string_view kMovimentoPath = "c:\\VisualTarvo\\based\\movimento.db";

// The five table operations the update uses.
class MovementTable {
public:
    virtual ~MovementTable() = default;
    virtual void Open() = 0;
    virtual void Close() = 0;
    virtual void ClearIndexDefs() = 0;
    virtual void AddIndex(std::string_view name, std::string_view fields, TIndexOptions options,
                          std::string_view descFields) = 0;
    virtual void Refresh() = 0;
};

// The movement table on the real table component.
class TableComponent final : public MovementTable {
public:
    explicit TableComponent(TTable& table) : table_(table) {}
    void Open() override { table_.Open(); }
    void Close() override { table_.Close(); }
    void ClearIndexDefs() override { table_.IndexDefs.Clear(); }
    void AddIndex(std::string_view name, std::string_view fields, TIndexOptions options,
                  std::string_view descFields) override {
        table_.AddIndex(name, fields, options, descFields);
    }
    void Refresh() override { table_.Refresh(); }

private:
    TTable& table_;
};

// The program's own texts (Windows-1252).
struct UpdateTexts {
    static const std::string& Question();          // asked before anything is done
    static const std::string& NotInstalled();      // the first open failed
    static const std::string& ProductRunning();    // the final check failed
    static const std::string& Success();
};

// The update's share of the main form: the click handler of "Atualizar o Sistema" and the
// update procedure. The form derives from it, so both are the form's own methods and the handler
// reaches AtualizaMovimento through the form; the form supplies the shell's dialogs, the
// termination request and its table component. Tests derive from it with recording ones.
class MovementUpdate {
public:
    // Asks, and runs AtualizaMovimento only on Yes.
    void BitBtn1Click(app::TComponent* Sender);
    // The update itself. Exceptions it does not catch pass out to the caller (the error report).
    void AtualizaMovimento();

protected:
    MovementUpdate() = default;
    ~MovementUpdate() = default;
    MovementUpdate(const MovementUpdate&) = delete;
    MovementUpdate& operator=(const MovementUpdate&) = delete;

    // The confirmation dialog with Yes and No; returns app::mrYes, app::mrNo or app::mrClosed.
    virtual int Confirm(std::string_view question) = 0;
    // The information box; returns once dismissed.
    virtual void ShowMessage(std::string_view text) = 0;
    // Asks the application to end once the current handler has returned.
    virtual void Terminate() = 0;
    // The form's table component `movimento`.
    virtual MovementTable& Table() = 0;
};

}  // namespace atua::update
