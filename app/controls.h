// Forms and the controls they are built from, over plain Win32 windows. A form is created from
// a description (its settings and a table of components); the code holds only its handlers.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace atua::app {

class TApplication;
class TForm;

enum class TAlign { alNone, alTop };
enum class TScrollStyle { ssNone, ssVertical };
enum class TPosition { poDesigned, poScreenCenter };
enum class TBorderStyle { bsSingle, bsSizeable };

// One component of a form description. Positions are pixels relative to the parent's client
// area; Parent names the form or a container, or is empty for a non-visual component.
struct ComponentDesc {
    std::string_view ClassName;
    std::string_view Name;
    std::string_view Parent;
    int Left = 0, Top = 0, Width = 0, Height = 0;
    std::string_view Caption = {};
    int TabOrder = -1;
    bool TabStop = true;
    bool Default = false;
    TAlign Align = TAlign::alNone;
    TScrollStyle ScrollBars = TScrollStyle::ssNone;
    bool HideScrollBars = true;
    std::span<const std::string_view> Lines = {};  // rich edit: one paragraph each
    const wchar_t* Glyph = nullptr;                // bitmap resource of a picture button
    int NumGlyphs = 1;
    std::string_view OnClick = {};                 // name of the form's handler
    std::string_view TableName = {};               // table component
};

struct FormDesc {
    std::string_view ClassName;  // also the window class
    std::string_view Name;
    std::string_view Caption;
    int ClientWidth = 0, ClientHeight = 0;
    TPosition Position = TPosition::poDesigned;
    TBorderStyle BorderStyle = TBorderStyle::bsSizeable;
    std::wstring_view FontName;
    int FontHeight = 0;  // pixels, negative: character height; never rescaled
};

class TComponent {
public:
    explicit TComponent(std::string_view name) : name_(name) {}
    virtual ~TComponent() = default;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;
    const std::string& Name() const { return name_; }

private:
    std::string name_;
};

using TObject = TComponent;
using TNotifyEvent = std::function<void(TObject* sender)>;

// A non-visual component that holds an object of another layer (a table, a report).
template <class T>
class TComponentOf final : public TComponent {
public:
    explicit TComponentOf(std::string_view name) : TComponent(name) {}
    T Value;
};

class TWinControl;

// A control with a window of its own.
class TControl : public TComponent {
public:
    TControl(TForm& form, TWinControl* parent, const ComponentDesc& desc);
    ~TControl() override;
    HWND Handle() const { return handle_; }
    TWinControl* Parent() const { return parent_; }
    TForm& Form() const { return form_; }
    int TabOrder() const { return tabOrder_; }
    bool TabStop() const { return tabStop_; }
    TAlign Align() const { return align_; }
    void SetFocus();
    bool Focused() const;

    // Notifications the parent passes on (WM_COMMAND, WM_DRAWITEM).
    virtual void Command(WORD) {}
    virtual void DrawItem(const DRAWITEMSTRUCT&) {}

    static TControl* FromHandle(HWND hwnd);

protected:
    void Attach(HWND handle);

private:
    TForm& form_;
    TWinControl* parent_;
    int tabOrder_;
    bool tabStop_;
    TAlign align_;
    HWND handle_ = nullptr;
};

// A control that holds other controls.
class TWinControl : public TControl {
public:
    using TControl::TControl;
    const std::vector<TControl*>& Controls() const { return controls_; }
    void Insert(TControl& child) { controls_.push_back(&child); }
    // The tab stops inside, in tab order (containers open into their own list).
    void TabStops(std::vector<TControl*>& out) const;
    // Passes WM_COMMAND and WM_DRAWITEM from child controls on; true when handled.
    static bool Reflect(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

private:
    std::vector<TControl*> controls_;
};

class TPanel final : public TWinControl {
public:
    TPanel(TForm& form, TWinControl* parent, const ComponentDesc& desc);
    const std::string& Caption() const { return caption_; }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
    void Paint();
    std::string caption_;
};

class TRichEdit final : public TControl {
public:
    TRichEdit(TForm& form, TWinControl* parent, const ComponentDesc& desc);
    ~TRichEdit() override;
    // The lines as the control holds them (paragraphs, each ended by a line break).
    std::string Text() const;

private:
    HMODULE library_ = nullptr;
};

class TBitBtn final : public TControl {
public:
    TBitBtn(TForm& form, TWinControl* parent, const ComponentDesc& desc);
    ~TBitBtn() override;
    bool Default() const { return default_; }
    const std::string& Caption() const { return caption_; }
    void SetOnClick(TNotifyEvent handler) { onClick_ = std::move(handler); }
    void Click();
    void Command(WORD code) override;
    void DrawItem(const DRAWITEMSTRUCT& item) override;

    static constexpr int kSpacing = 4;  // between picture and caption

private:
    std::string caption_;
    bool default_;
    HBITMAP glyph_ = nullptr;
    int numGlyphs_;
    TNotifyEvent onClick_;
};

// A top-level window built from its description.
class TForm : public TWinControl {
public:
    // Builds the components that are no controls of this layer (tables, reports).
    using Factory = std::function<std::unique_ptr<TComponent>(const ComponentDesc&)>;
    // The form's published handlers, by name.
    using MethodLookup = std::function<TNotifyEvent(std::string_view name)>;

    TForm(TApplication& application, const FormDesc& desc, std::span<const ComponentDesc> components,
          const Factory& nonVisual, const MethodLookup& methods);
    ~TForm() override;

    TApplication& Application() const { return application_; }
    HFONT Font() const { return font_; }
    const std::string& Caption() const { return caption_; }

    // The component of that name and class; throws when the description has none.
    template <class T>
    T& Find(std::string_view name) const {
        for (auto& c : components_)
            if (c->Name() == name)
                if (auto* t = dynamic_cast<T*>(c.get())) return *t;
        MissingComponent(name);
    }

    // Shows the window (centred once, when first shown, if its position says so).
    void Show(int showCmd);
    void Close();

    // Tab, Enter and Escape, looked at before the focused control sees them; true when used.
    bool DialogKey(const MSG& msg);
    // The button drawn with the default-button outline: the focused button, else the Default one.
    const TBitBtn* ActiveButton() const;
    // Called after every message: redraws the buttons when the focus moved between controls.
    void FocusMoved();

    static TForm* FromHandle(HWND hwnd);

private:
    [[noreturn]] static void MissingComponent(std::string_view name);
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
    LRESULT Message(UINT msg, WPARAM wParam, LPARAM lParam);
    void Realign();
    void SelectNext(bool forward);

    TApplication& application_;
    std::string caption_;
    TPosition position_;
    bool shown_ = false;
    HFONT font_ = nullptr;
    HWND window_ = nullptr;
    TControl* activeControl_ = nullptr;
    std::vector<std::unique_ptr<TComponent>> components_;
};

}  // namespace atua::app
