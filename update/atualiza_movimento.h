// The confirmed index update of the product's movement table.
#pragma once

#include <string>
#include <string_view>

#include "engine/table.h"

namespace atua::update {

// The fixed path of the product's movement table.
inline constexpr std::string_view kMovimentoPath = "c:\\VisualTarvo\\based\\movimento.db";

// Dialog result codes of the shell's dialogs.
inline constexpr int mrOk = 1;
inline constexpr int mrClosed = 2;
inline constexpr int mrYes = 6;
inline constexpr int mrNo = 7;

// What the update needs of the user interface.
class UpdateDialogs {
public:
    virtual ~UpdateDialogs() = default;
    // The confirmation dialog with Yes and No; returns mrYes, mrNo or mrClosed.
    virtual int Confirm(std::string_view question) = 0;
    // The information box; returns once dismissed.
    virtual void ShowMessage(std::string_view text) = 0;
    // Asks the application to end once the current handler has returned.
    virtual void Terminate() = 0;
};

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

// "Atualizar o Sistema": asks, and runs the update only on Yes.
void BitBtn1Click(UpdateDialogs& dialogs, MovementTable& movimento);

// The update itself. Exceptions it does not catch pass out to the caller (the error report).
void AtualizaMovimento(UpdateDialogs& dialogs, MovementTable& movimento);

}  // namespace atua::update
