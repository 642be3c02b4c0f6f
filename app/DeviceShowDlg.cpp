#include "DeviceShowDlg.h"

#include <commctrl.h>

#include "AppConfig.h"
#include "ResourceModule.h"

namespace talo {
namespace {

bool g_open = false;

}  // namespace

CDeviceShowDlg::CDeviceShowDlg() : m_logFont(MakeLogFont(L"Tahoma", 13, 5, FW_NORMAL)) {}

bool CDeviceShowDlg::IsOpen() { return g_open; }

INT_PTR CDeviceShowDlg::Show(int schemeIndex, int ac, HWND owner) {
    if (g_open) return kAlreadyOpen;
    m_schemeIndex = schemeIndex;
    m_ac = ac;
    m_schemeFile.clear();
    GetCfgString(CfgFileName(), L"ZORACfg", L"PowerScheme", m_schemeFile);
    // A record of an earlier choice never carries over: the section starts afresh, so the
    // states below are the scheme's own.
    DeleteProfileSection(m_schemeFile.c_str(), kSection);
    PutProfileInt(m_schemeFile.c_str(), kSection, L"SchemeID", schemeIndex);
    PutProfileInt(m_schemeFile.c_str(), kSection, L"bIfAC", ac);
    m_devices = DeviceItems();
    m_deviceCount = ComputeDeviceStates(m_devices, schemeIndex, ac);
    if (m_deviceCount == 0) return 0;
    g_open = true;
    const INT_PTR result = DoModal(owner);
    g_open = false;
    return result;
}

void CDeviceShowDlg::Place(int id, int x, int y, int width, int height) const {
    HWND control = GetDlgItem(id);
    if (control != nullptr) ::MoveWindow(control, x, y, width, height, TRUE);
}

bool CDeviceShowDlg::OnPostInit() {
    wchar_t text[512] = L"";
    LoadResString(IDS_DEVICE_TITLE, text, 512);
    SetWindowText(text);

    CenterInWorkArea(m_hWnd, kWidth, kHeight);
    RECT client = {};
    GetClientRect(&client);
    const int clientHeight = client.bottom - client.top;
    m_font = MakeFont(m_logFont);

    m_prompt.SubclassDlgItem(IDC_DEVICE_PROMPT, m_hWnd);
    m_prompt.SetLogFont(m_logFont);
    text[0] = L'\0';
    LoadResString(IDS_DEVICE_PROMPT, text, 512);
    m_prompt.SetText(text);
    // Below the frame's header (which carries the product's name), the prompt in as many
    // lines as its text takes in the prompt's font (two in English, three in German), then
    // the list, ending above the check box.
    const int promptTop = HeaderHeight() + kGap;
    int promptHeight = kPromptHeight;
    {
        HDC dc = GetDC(m_hWnd);
        CSelectObject selected(dc, m_font.get());
        RECT needed = {0, 0, kPromptWidth, 0};
        DrawTextW(dc, text, -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        if (needed.bottom > promptHeight) promptHeight = needed.bottom;
        ReleaseDC(m_hWnd, dc);
    }
    Place(IDC_DEVICE_PROMPT, 25, promptTop, kPromptWidth, promptHeight);

    m_list = GetDlgItem(IDC_DEVICE_LIST);
    const int listTop = promptTop + promptHeight + kGap;
    Place(IDC_DEVICE_LIST, 20, listTop, 300, clientHeight - 50 - kGap - listTop);
    if (m_list != nullptr) {
        ::SendMessageW(m_list, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);
        ListView_SetExtendedListViewStyle(m_list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
        LVCOLUMNW column = {};
        column.mask = LVCF_WIDTH;
        column.cx = kColumnWidth;
        ListView_InsertColumn(m_list, 0, &column);
        int row = 0;
        for (const DeviceDesp& device : m_devices) {
            if (device.state != 0) continue;
            LVITEMW item = {};
            item.mask = LVIF_TEXT;
            item.iItem = row;
            item.pszText = const_cast<wchar_t*>(device.name.c_str());
            const int inserted = ListView_InsertItem(m_list, &item);
            if (inserted >= 0) {
                ListView_SetCheckState(m_list, inserted, FALSE);
                ++row;
            }
        }
    }

    HWND dontAsk = GetDlgItem(IDC_DEVICE_DONT_ASK);
    text[0] = L'\0';
    LoadResString(IDS_DEVICE_DONT_ASK, text, 512);
    if (dontAsk != nullptr) {
        ::SetWindowTextW(dontAsk, text);
        ::SendMessageW(dontAsk, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);
        ::SendMessageW(dontAsk, BM_SETCHECK, BST_UNCHECKED, 0);
    }
    Place(IDC_DEVICE_DONT_ASK, 40, clientHeight - 50, 300, 20);
    Place(IDOK, 160, clientHeight - 30, 80, 25);
    Place(IDCANCEL, 250, clientHeight - 30, 80, 25);
    return true;
}

LRESULT CDeviceShowDlg::OnOk(WORD, WORD, HWND, BOOL&) {
    const bool dontAsk = ::SendMessageW(GetDlgItem(IDC_DEVICE_DONT_ASK), BM_GETCHECK, 0, 0) == BST_CHECKED;
    WriteDevShowFlag(dontAsk ? 0 : 1);
    // The rows are the items with state 0, in list order: a checked row keeps its device on.
    int row = 0;
    for (DeviceDesp& device : m_devices) {
        if (device.state == 0) {
            if (m_list != nullptr && ListView_GetCheckState(m_list, row)) device.state = 1;
            ++row;
        }
        PutProfileInt(m_schemeFile.c_str(), kSection, device.key.c_str(), device.state);
    }
    EndDialog(IDOK);
    return 0;
}

}  // namespace talo
