#include "PropertySheet.h"

#include "ResourceModule.h"

namespace talo {
namespace {

// The head of an extended dialog template, up to its styles.
struct DialogTemplateExHead {
    WORD version;
    WORD signature;  // 0xFFFF
    DWORD helpId;
    DWORD exStyle;
    DWORD style;
};

// Before the sheet's window is made from its template: a child that the dialog's keyboard
// navigation walks into, with no frame or caption of its own.
int CALLBACK SheetCallback(HWND, UINT message, LPARAM lParam) {
    if (message != PSCB_PRECREATE || lParam == 0) return 0;
    DWORD* style = nullptr;
    DWORD* exStyle = nullptr;
    if (reinterpret_cast<const WORD*>(lParam)[1] == 0xFFFF) {
        auto* head = reinterpret_cast<DialogTemplateExHead*>(lParam);
        style = &head->style;
        exStyle = &head->exStyle;
    } else {
        auto* head = reinterpret_cast<DLGTEMPLATE*>(lParam);
        style = &head->style;
        exStyle = &head->dwExtendedStyle;
    }
    *style &= ~static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_MODALFRAME | DS_CONTEXTHELP |
                                  WS_DISABLED);
    *style |= WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | DS_CONTROL;
    *exStyle &= ~static_cast<DWORD>(WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CONTEXTHELP);
    *exStyle |= WS_EX_CONTROLPARENT;
    return 0;
}

// The sheet's buttons that a sheet inside a dialog does not show.
constexpr int kSheetButtons[] = {IDOK, IDCANCEL, IDHELP, 0x3021 /* Apply */};

}  // namespace

PROPSHEETPAGEW CPropertyPageBase::Describe(UINT templateId, const wchar_t* caption, LPARAM initParam) {
    m_pageParam = initParam;
    m_caption = caption != nullptr ? caption : L"";
    PROPSHEETPAGEW page = {};
    page.dwSize = sizeof page;
    page.dwFlags = caption != nullptr ? PSP_USETITLE : PSP_DEFAULT;
    page.hInstance = ResourceModule();
    page.pszTemplate = MAKEINTRESOURCEW(templateId);
    page.pszTitle = caption != nullptr ? m_caption.c_str() : nullptr;
    page.pfnDlgProc = PageProc;
    page.lParam = reinterpret_cast<LPARAM>(this);
    return page;
}

void CPropertyPageBase::FitToSheet() const { CChildPropertySheet::FitPage(GetParent(), m_hWnd); }

INT_PTR CALLBACK CPropertyPageBase::PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        // The sheet passes its record of the page; the page object is in the record, and
        // the dialog procedure hands the page's own parameter on.
        const auto* record = reinterpret_cast<const PROPSHEETPAGEW*>(lParam);
        auto* page = record != nullptr ? reinterpret_cast<CPropertyPageBase*>(record->lParam) : nullptr;
        if (page == nullptr) return FALSE;
        page->PrepareCreate(false, page->m_pageParam);
    } else if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == static_cast<UINT>(PSN_SETACTIVE)) {
        auto* page = reinterpret_cast<CPropertyPageBase*>(GetWindowLongPtrW(hwnd, DWLP_USER));
        if (page != nullptr) page->FitToSheet();
    }
    return DialogProc(hwnd, message, wParam, lParam);
}

void CChildPropertySheet::AddPage(const PROPSHEETPAGEW& page) { m_pages.push_back(page); }

bool CChildPropertySheet::Create(HWND parent, const RECT& rect, int id) {
    if (m_hWnd != nullptr || m_pages.empty()) return false;
    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_MODELESS | PSH_USECALLBACK | PSH_NOAPPLYNOW | PSH_NOCONTEXTHELP;
    header.hwndParent = parent;
    header.hInstance = ResourceModule();
    header.nPages = static_cast<UINT>(m_pages.size());
    header.ppsp = m_pages.data();
    header.pfnCallback = SheetCallback;
    const INT_PTR made = PropertySheetW(&header);
    if (made == 0 || made == -1) return false;
    m_hWnd = reinterpret_cast<HWND>(made);
    ::SetWindowLongPtrW(m_hWnd, GWLP_ID, id);
    for (int button : kSheetButtons) {
        HWND control = GetDlgItem(button);
        if (control != nullptr) ::ShowWindow(control, SW_HIDE);
    }
    MoveWindow(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    RECT client = {};
    GetClientRect(&client);
    ::MoveWindow(TabControl(), 0, 0, client.right, client.bottom, TRUE);
    // The first page was placed before the sheet had its size.
    FitPage(m_hWnd, reinterpret_cast<HWND>(SendMessage(PSM_GETCURRENTPAGEHWND)));
    return true;
}

bool CChildPropertySheet::SetTabIcons(const std::vector<HICON>& icons) {
    HWND tab = TabControl();
    if (tab == nullptr) return false;
    m_images.reset(ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, static_cast<int>(icons.size()), 4));
    if (!m_images) return false;
    TabCtrl_SetImageList(tab, m_images.get());
    for (size_t i = 0; i < icons.size(); ++i) {
        TCITEMW item = {};
        item.mask = TCIF_IMAGE;
        item.iImage = icons[i] != nullptr ? ImageList_AddIcon(m_images.get(), icons[i]) : -1;
        ::SendMessageW(tab, TCM_SETITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    return true;
}

int CChildPropertySheet::ActiveIndex() const {
    HWND tab = TabControl();
    return tab != nullptr ? TabCtrl_GetCurSel(tab) : -1;
}

bool CChildPropertySheet::SetActivePage(int index) const {
    if (m_hWnd == nullptr || index < 0 || index >= static_cast<int>(m_pages.size())) return false;
    return SendMessage(PSM_SETCURSEL, static_cast<WPARAM>(index), 0) != FALSE;
}

RECT CChildPropertySheet::PageArea(HWND sheet) {
    RECT area = {};
    HWND tab = ::GetDlgItem(sheet, kTabId);
    if (tab == nullptr) return area;
    ::GetWindowRect(tab, &area);
    ::MapWindowPoints(nullptr, sheet, reinterpret_cast<POINT*>(&area), 2);
    TabCtrl_AdjustRect(tab, FALSE, &area);
    return area;
}

void CChildPropertySheet::FitPage(HWND sheet, HWND page) {
    if (sheet == nullptr || page == nullptr) return;
    const RECT area = PageArea(sheet);
    ::SetWindowPos(page, nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace talo
