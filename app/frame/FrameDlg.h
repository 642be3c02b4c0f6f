// The skinned frame of TALO's dialogs: a bitmap header with the logo, the product's title
// in white with its registered mark, Verdana and Tahoma fonts, help by F1; and the scheme
// model the scheme dialogs show: the items of [SchemeItemList] this Windows offers, their
// availability on mains and battery, the effects of the effect file and the weight each
// effect gives each item.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "Dialog.h"
#include "SchemeEx.h"
#include "TALOStatic.h"
#include "WinHandles.h"

namespace talo {

class CFrameDlg : public CDialogBase {
public:
    // Identifier of the title and of the mark label the frame creates.
    static constexpr int kTitleId = 2012;
    // The mark label's text in the resource module.
    static constexpr UINT kMarkString = 114;
    static constexpr UINT kHeader = 2054;
    static constexpr UINT kLogoWide = 2055;
    static constexpr UINT kLogoMedium = 2056;
    static constexpr UINT kLogoSmall = 2057;
    static constexpr COLORREF kTitleColor = RGB(0xFF, 0xFF, 0xFF);
    // The scheme dialogs' table headings: Verdana bold in this blue.
    static constexpr COLORREF kHeadingColor = RGB(32, 86, 175);
    // The effect whose mains bar gives way to string 130: its name in the installed effect file.
    static constexpr wchar_t kBatteryLifeEffect[] = L"Battery Life";
    // Sent by the hub to the window with the scheme dialogs' title when it is asked to open
    // one while it is open: the dialog centres itself and comes forward.
    static constexpr UINT kBringForward = WM_USER + 102;

    // One item of the model: a power variable of the power-setting file.
    struct Item {
        int listIndex = -1;     // i of [SchemeItemList] Item<i>
        std::wstring variable;  // the power variable
        std::wstring name;      // its display name ([variable] Name)
        int acAvailable = -1;   // -1: unreadable
        int dcAvailable = -1;
    };
    struct Effect {
        std::wstring name;
        std::wstring description;
    };
    // One option of an item: the value stored and the text a user reads.
    struct Option {
        int value;
        std::wstring text;
    };

    explicit CFrameDlg(UINT templateId);
    ~CFrameDlg() override;

    // The template given to the constructor, from the resource module.
    INT_PTR DoModal(HWND parent = ::GetActiveWindow(), LPARAM initParam = 0);
    HWND Create(HWND parent, LPARAM initParam = 0);
    UINT TemplateId() const { return m_templateId; }

    // ---- the scheme model ----
    virtual int LoadModel();
    virtual int LoadItems();
    virtual int LoadAvailability();
    virtual int LoadEffects();
    virtual bool CreateTitle();
    virtual bool CreateSubtitle();
    virtual int LoadWeights();
    // The options of every model item ([variable] ValueOption<d>, DescOption<d> in option
    // order, the texts in the resource module's language); not part of LoadModel, as only
    // the scheme dialogs show them.
    virtual int LoadOptions();
    // The range of an effect's bar for mains (ac 1) or battery: first and second start at 0;
    // an effect out of range leaves both untouched.
    virtual void GetEffectRange(int ac, int effect, int* first, int* second);
    virtual int GetIconCount();
    virtual int GetSchemeIconNum(int scheme);
    virtual int GetSchemeIfDefault(int scheme);
    // Whether model item i is a device ([SchemeItemList] IfDevice<i> of its list entry).
    virtual bool IsItemDevice(int item);
    virtual int CountItems();
    // c x ceil(a / b), for sizing grids; 0 when b is 0.
    virtual int CeilMultiple(int a, int b, int c);
    virtual void UpdateHeaderText();
    // Header height, the mark's place and (unless chosen) the logo from the dialog's width.
    virtual void OnLayout(int width);
    virtual void OnDiagnostic() {}
    virtual void DrawFrame(HDC dc, int width);
    virtual void DrawMark(HDC dc, int penWidth);
    // Bitmap id of the resource module at (x, y): transparent copies its own size with the
    // colour 0xFF00FF left out; otherwise stretched to width at its own height. 0 when the
    // bitmap cannot be loaded.
    virtual int DrawBitmap(HDC dc, UINT id, bool transparent, int x, int y, int sourceX, int sourceY, int width);
    virtual bool OnPostInit() { return true; }

    int ItemCount() const { return static_cast<int>(m_items.size()); }
    const Item* GetItem(int item) const;
    int EffectCount() const { return static_cast<int>(m_effects.size()); }
    const Effect* GetEffect(int effect) const;
    // 0 outside the model.
    int Weight(int effect, int item) const;
    // Whether effect is the battery life (by its installed name, whatever language it is
    // shown in): on mains it has no bar.
    bool IsBatteryLife(int effect) const;
    // The options LoadOptions read for item; none outside the model.
    const std::vector<Option>& Options(int item) const;
    // The option that shows value v of item: the one with that value; for the processor
    // limits, whose stored value may lie between options, the nearest. -1 for none.
    int ShownOption(int item, int value) const;
    CSchemeEx* Scheme() const { return m_scheme.get(); }

    // ---- the frame ----
    // Takes over parent's static id as a table heading showing string text.
    static void MakeHeading(CTALOStatic& label, HWND parent, int id, UINT text);
    // The scheme dialogs' window title, the one the hub looks for: [TALOCfg] Name, in its
    // long form (with the registered mark) when it is the short product name.
    static std::wstring WindowTitle();
    int HeaderHeight() const { return m_headerHeight; }
    // The header's height for a client width: 60 above 420, 50 above 200, 30 below. The
    // header bitmap is drawn to it, and no control of a skinned dialog lies above it.
    static int HeaderHeightFor(int width);
    const RECT& MarkRect() const { return m_markRect; }
    int MarkFontHeight() const { return m_markFontHeight; }
    // The box the mark's circle is drawn in: from (left - 3, top), the mark's height across.
    RECT MarkCircle() const;
    void SetFrameBitmaps(UINT header, UINT logo);
    UINT HeaderBitmap() const { return m_headerBitmap; }
    UINT LogoBitmap() const { return m_logoBitmap; }
    CTALOStatic& TitleLabel() { return m_title; }
    CTALOStatic& MarkLabel() { return m_mark; }
    const LOGFONTW& TitleFont() const { return m_titleFont; }
    const LOGFONTW& BodyFont() const { return m_bodyFont; }
    // The folder of TALO's executable (with its backslash) and the help file's name: the
    // resource module's (its language's file), else [TALOCfg] HelpFileName. Empty when the
    // executable's path has no folder.
    static std::wstring HelpPath();
    // Opens the help file with HTML Help, owned by the desktop, at its default page or at
    // topic (a page of the file, "battery.htm"); false when it cannot.
    static bool ShowHelp(const wchar_t* topic = nullptr);
    // The page F1 opens in this dialog; null: the help's default page.
    virtual const wchar_t* HelpTopic() const { return nullptr; }

    BEGIN_MSG_MAP(CFrameDlg)
        MSG_WM_INITDIALOG(OnInitDialog)
        MSG_WM_PAINT(OnPaint)
        MESSAGE_HANDLER(WM_SIZE, OnSize)
        MSG_WM_HELP(OnHelp)
        MESSAGE_HANDLER(kBringForward, OnBringForward)
        REFLECT_NOTIFICATIONS()
    END_MSG_MAP()

protected:
    // The frame's part of a dialog's initialisation: layout, fonts, title and mark labels.
    void InitFrame();
    // The title text: [TALOCfg] Name, the short product name given room for its mark.
    static std::wstring TitleText();

    int m_headerHeight = 70;
    LOGFONTW m_titleFont;
    LOGFONTW m_bodyFont;
    UniqueFont m_titleFontHandle;
    UniqueFont m_bodyFontHandle;
    UINT m_headerBitmap = kHeader;
    UINT m_logoBitmap = kLogoWide;
    // Set once a derived dialog chose its bitmaps; until then the logo follows the header.
    bool m_bitmapsChosen = false;
    CTALOStatic m_title;
    CTALOStatic m_mark;
    RECT m_markRect = {137, 15, 152, 28};
    int m_markFontHeight = 12;
    int m_markPenWidth = 1;

    std::unique_ptr<CSchemeEx> m_scheme;
    std::vector<Item> m_items;
    std::vector<Effect> m_effects;
    std::vector<std::vector<int>> m_weights;  // [effect][item]
    std::vector<std::vector<Option>> m_options;  // [item]

private:
    BOOL OnInitDialog(HWND focus, LPARAM initParam);
    void OnPaint(HDC dc);
    void OnHelp(LPHELPINFO) { ShowHelp(HelpTopic()); }
    LRESULT OnBringForward(UINT, WPARAM, LPARAM, BOOL&);
    // A dialog that sizes itself keeps a header of its new width.
    LRESULT OnSize(UINT, WPARAM, LPARAM, BOOL& handled);
    int ClientWidth() const;

    UINT m_templateId;
};

// The recipe for a skinned dialog: a class names its template and derives from this base,
//     class CMyDlg : public CFrameDlgImpl<CMyDlg> { public: enum { IDD = IDD_MY }; ... };
// lists its handlers in its own map ending in CHAIN_MSG_MAP(CFrameDlg), does its part of
// the initialisation in OnPostInit, and closes through OnCloseCmd where a button only closes.
template <class T>
class CFrameDlgImpl : public CFrameDlg {
public:
    CFrameDlgImpl() : CFrameDlg(T::IDD) {}
};

}  // namespace talo
