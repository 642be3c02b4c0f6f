// Property pages, and a property sheet that lives inside a dialog.
//
// A page derives from CPropertyPageImpl<itself> and names its template with
// enum { IDD = ... }; it is a framework dialog (message map, trampoline, cleared before
// destroy) whose window the sheet makes when its tab is first shown. Its WM_INITDIALOG
// receives the page's own creation parameter (the one given to Describe), not the sheet's
// PROPSHEETPAGE record. Whenever it becomes the active page it fills the sheet's page area.
//
// CChildPropertySheet holds the pages in a sheet that is a child window of a dialog (child
// and visible, control-parent), without the sheet's own OK, Cancel and Apply buttons: the
// dialog's buttons decide what happens to the pages' contents.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "Dialog.h"
#include "WinHandles.h"

namespace talo {

using UniqueImageList = UniqueAny<ResourcePolicy<HIMAGELIST, ImageList_Destroy>>;

class CPropertyPageBase : public CDialogBase {
public:
    // The page's record for the sheet: its template of the resource module, its tab caption
    // (null: the template's caption) and the parameter its WM_INITDIALOG receives. The page
    // object must outlive the sheet's use of the record.
    PROPSHEETPAGEW Describe(UINT templateId, const wchar_t* caption, LPARAM initParam);
    // Places the page on the sheet's page area (the tab control's display area).
    void FitToSheet() const;

    static INT_PTR CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

private:
    LPARAM m_pageParam = 0;
    std::wstring m_caption;
};

template <class T>
class CPropertyPageImpl : public CPropertyPageBase {
public:
    // The template T::IDD.
    PROPSHEETPAGEW Describe(const wchar_t* caption = nullptr, LPARAM initParam = 0) {
        return CPropertyPageBase::Describe(T::IDD, caption, initParam);
    }
};

class CChildPropertySheet : public CWindow {
public:
    // The identifier of the sheet's tab control.
    static constexpr int kTabId = 0x3020;

    CChildPropertySheet() = default;
    CChildPropertySheet(const CChildPropertySheet&) = delete;
    CChildPropertySheet& operator=(const CChildPropertySheet&) = delete;
    // Adds a page (before Create), in tab order.
    void AddPage(const PROPSHEETPAGEW& page);
    // Makes the sheet a child of parent with identifier id, filling rect (parent's client
    // coordinates), the first page shown; false when the system could not make it.
    bool Create(HWND parent, const RECT& rect, int id);
    // One icon per tab, in tab order (16 x 16, kept by the sheet's own image list).
    bool SetTabIcons(const std::vector<HICON>& icons);

    HWND TabControl() const { return GetDlgItem(kTabId); }
    // The active page's place in tab order; -1 without a sheet.
    int ActiveIndex() const;
    // Shows page index as a click on its tab does; false when there is none.
    bool SetActivePage(int index) const;
    // The area a page fills, in the sheet's client coordinates.
    RECT PageArea() const { return PageArea(m_hWnd); }
    static RECT PageArea(HWND sheet);
    // Places page on the page area of sheet.
    static void FitPage(HWND sheet, HWND page);

private:
    std::vector<PROPSHEETPAGEW> m_pages;
    UniqueImageList m_images;
};

}  // namespace talo
