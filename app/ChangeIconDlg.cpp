#include "ChangeIconDlg.h"

#include <commctrl.h>

#include "ResourceModule.h"
#include "WinHandles.h"

namespace talo {

CChangeIconDlg::CChangeIconDlg(IIconOwnerPage& page) : m_page(page) {}

bool CChangeIconDlg::OnPostInit() {
    wchar_t text[512] = L"";
    LoadResString(IDS_CHANGE_ICON_TITLE, text, 512);
    SetWindowText(text);
    CenterInWorkArea(m_hWnd, kWidth, kHeight);

    m_prompt.SubclassDlgItem(IDC_CHANGE_ICON_PROMPT, m_hWnd);
    m_prompt.SetLogFont(BodyFont());
    text[0] = L'\0';
    LoadResString(IDS_CHANGE_ICON_PROMPT, text, 512);
    m_prompt.SetText(text);
    // Below the frame's header, which carries the product's name: the prompt, then the list
    // down to the buttons.
    const int promptTop = HeaderHeight() + kListRect.top - kPromptHeight - 2;
    if (m_prompt.m_hWnd != nullptr) m_prompt.MoveWindow(kListRect.left, promptTop, kListRect.right - kListRect.left, kPromptHeight);

    m_list = GetDlgItem(IDC_CHANGE_ICON_LIST);
    if (m_list != nullptr) {
        const int listTop = HeaderHeight() + kListRect.top;
        ::MoveWindow(m_list, kListRect.left, listTop, kListRect.right - kListRect.left, kListRect.bottom - listTop,
                     TRUE);
        const int count = m_page.IconCount();
        // The list view owns the image list and destroys it with itself.
        HIMAGELIST images = ImageList_Create(kImageSize, kImageSize, ILC_COLOR32 | ILC_MASK, count > 0 ? count : 1, 0);
        ListView_SetImageList(m_list, images, LVSIL_NORMAL);
        ListView_SetIconSpacing(m_list, kSpacing, kSpacing);
        for (int i = 0; i < count; ++i) {
            UniqueBitmap image(LoadResBitmap(CChangeIconBtn::kFirstImage + static_cast<UINT>(i)));
            const int index = image ? ImageList_AddMasked(images, image.get(), kTransparentKey) : -1;
            LVITEMW item = {};
            item.mask = LVIF_IMAGE | LVIF_PARAM | LVIF_TEXT;
            item.iItem = i;
            item.iImage = index;
            item.lParam = i;
            item.pszText = const_cast<wchar_t*>(L"");
            ListView_InsertItem(m_list, &item);
        }
    }
    ::MoveWindow(GetDlgItem(IDOK), 190, 265, 80, 25, TRUE);
    ::MoveWindow(GetDlgItem(IDCANCEL), 290, 265, 80, 25, TRUE);
    return true;
}

void CChangeIconDlg::Choose(int number) {
    m_page.SetChosenIcon(number);
    if (!m_page.IsEditable()) return;
    CChangeIconBtn* button = m_page.IconButton();
    if (button == nullptr) return;
    button->SetImage(CChangeIconBtn::kFirstImage + static_cast<UINT>(number));
    if (button->m_hWnd != nullptr) ::UpdateWindow(button->m_hWnd);
}

LRESULT CChangeIconDlg::OnListNotify(int, LPNMHDR header, BOOL& handled) {
    if (header->code != NM_CLICK) {
        handled = FALSE;
        return 0;
    }
    const int item = reinterpret_cast<const NMITEMACTIVATE*>(header)->iItem;
    if (item >= 0) Choose(item);
    return 0;
}

LRESULT CChangeIconDlg::OnOk(WORD, WORD, HWND, BOOL&) {
    const int selected = m_list != nullptr ? ListView_GetNextItem(m_list, -1, LVNI_SELECTED) : -1;
    if (selected >= 0) Choose(selected);
    EndDialog(IDOK);
    return 0;
}

}  // namespace talo
