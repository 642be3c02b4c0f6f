#include "SchemeOptionDlg.h"

#include <commctrl.h>

#include <new>
#include <string>

#include "AppConfig.h"
#include "ResourceModule.h"

namespace talo {

void CSchemeOptionDlg::Place(HWND control, int x, int y, int width, int height) const {
    if (control != nullptr) ::MoveWindow(control, x, y, width, height, TRUE);
}

bool CSchemeOptionDlg::OnPostInit() {
    SetWindowText(ResString(IDS_OPTIONS_TITLE).c_str());
    CenterInWorkArea(m_hWnd, kWidth, kHeight);
    RECT client = {};
    GetClientRect(&client);
    const int width = client.right - 36;
    const HFONT font = m_bodyFontHandle.get();
    int top = HeaderHeight() + 10;

    HWND hotKey = GetDlgItem(IDC_OPTIONS_HOTKEY_LABEL);
    const std::wstring hotKeyText = ResString(IDS_OPTIONS_HOTKEY_PREFIX) +
                                    CfgString(CfgFileName(), L"TALOCfg", L"HotKeyDescription") + L").";
    ::SetWindowTextW(hotKey, hotKeyText.c_str());
    Place(hotKey, 18, top, width, 32);
    top += 36;

    // The heading of the list: the template's only static without an identifier of its own.
    for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (::GetDlgCtrlID(child) == 0xFFFF) Place(child, 18, top, width, 16);
    }
    top += 18;

    const int listHeight = client.bottom - top - 100;
    m_list = ::CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT,
                               18, top, width, listHeight, m_hWnd,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_OPTIONS_SCHEME_LIST)),
                               ::GetModuleHandleW(nullptr), nullptr);
    top += listHeight + 10;
    if (m_list != nullptr) {
        ::SendMessageW(m_list, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        ListView_SetExtendedListViewStyle(m_list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
        LVCOLUMNW column = {};
        column.mask = LVCF_WIDTH;
        column.cx = kCheckColumnWidth;
        ListView_InsertColumn(m_list, 0, &column);
        std::wstring title = ResString(IDS_OPTIONS_SCHEME_COLUMN);
        column.mask = LVCF_WIDTH | LVCF_TEXT;
        column.cx = kNameColumnWidth;
        column.pszText = title.data();
        ListView_InsertColumn(m_list, 1, &column);

        m_scheme.reset(new (std::nothrow) CSchemeEx());
        m_schemes.clear();
        if (m_scheme) {
            m_scheme->Initialize();
            EnumSchemes(*m_scheme, m_schemes);
        }
        const std::wstring profile = ProfileFile();
        int row = 0;
        for (PWRDESP& entry : m_schemes) {
            LVITEMW item = {};
            item.mask = LVIF_TEXT;
            item.iItem = row;
            item.pszText = const_cast<wchar_t*>(L"");
            const int inserted = ListView_InsertItem(m_list, &item);
            if (inserted < 0) continue;
            ListView_SetItemText(m_list, inserted, 1, entry.name.data());
            const int shown =
                GetCfgInt(1, profile.c_str(), Numbered(L"Scheme", entry.index).c_str(), L"IfShow", 0);
            ListView_SetCheckState(m_list, inserted, shown == 1);
            ++row;
        }
    }

    HWND deviceLabel = GetDlgItem(IDC_OPTIONS_DEVICE_LABEL);
    ::SetWindowTextW(deviceLabel, ResString(IDS_OPTIONS_DEVICE_LABEL).c_str());
    Place(deviceLabel, 18, top, width, 16);
    top += 20;
    HWND ask = GetDlgItem(IDC_OPTIONS_DEVICE_ASK);
    ::SetWindowTextW(ask, ResString(IDS_OPTIONS_DEVICE_ASK).c_str());
    ::SendMessageW(ask, BM_SETCHECK, ReadDevShowFlag() == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
    Place(ask, 18, top, width, 18);
    for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT))
        if (child != m_list) ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    Place(GetDlgItem(IDOK), client.right - 190, client.bottom - 36, 80, 25);
    Place(GetDlgItem(IDCANCEL), client.right - 100, client.bottom - 36, 80, 25);
    return true;
}

LRESULT CSchemeOptionDlg::OnOk(WORD, WORD, HWND, BOOL&) {
    const bool ask = ::SendMessageW(GetDlgItem(IDC_OPTIONS_DEVICE_ASK), BM_GETCHECK, 0, 0) == BST_CHECKED;
    WriteDevShowFlag(ask ? 1 : 0);
    const std::wstring profile = ProfileFile();
    const int rows = m_list != nullptr ? ListView_GetItemCount(m_list) : 0;
    for (int row = 0; row < rows; ++row) {
        wchar_t name[MAX_PATH] = L"";
        ListView_GetItemText(m_list, row, 1, name, MAX_PATH);
        const int shown = ListView_GetCheckState(m_list, row) ? 1 : 0;
        for (const PWRDESP& entry : m_schemes) {
            if (entry.name != name) continue;
            PutProfileInt(profile.c_str(), Numbered(L"Scheme", entry.index).c_str(), L"IfShow", shown);
            break;
        }
    }
    EndDialog(IDOK);
    return 0;
}

}  // namespace talo
