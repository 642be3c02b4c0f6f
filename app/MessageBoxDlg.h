// What the scheme dialogs' warning and confirmation boxes share: a caption and a message
// set before the modal run, the message in a skinned label, the box centred in the work
// area, and the buttons ending the box with their own identifiers.
#pragma once

#include <windows.h>

#include <string>

#include "Dialog.h"
#include "TALOStatic.h"
#include "TaloResIds.h"

namespace talo {

template <class T>
class CMessageBoxDlg : public CDialogImpl<T> {
public:
    // Before DoModal: the title and the message.
    void SetTexts(const wchar_t* caption, const wchar_t* message) {
        m_caption = caption != nullptr ? caption : L"";
        m_text = message != nullptr ? message : L"";
    }
    const CTALOStatic& Message() const { return m_message; }

protected:
    // From the box's WM_INITDIALOG: T's size, centred; the caption; the message in Tahoma
    // 13 x 5 at its place.
    void InitBox(const RECT& message) {
        HWND box = this->m_hWnd;
        CenterInWorkArea(box, T::kWidth, T::kHeight);
        ::SetWindowTextW(box, m_caption.c_str());
        m_message.SubclassDlgItem(IDC_MESSAGE_TEXT, box);
        m_message.SetLogFont(MakeLogFont(L"Tahoma", 13, 5, FW_NORMAL));
        m_message.SetText(m_text.c_str());
        m_message.MoveWindow(message.left, message.top, message.right - message.left, message.bottom - message.top);
    }
private:
    std::wstring m_caption;
    std::wstring m_text;
    CTALOStatic m_message;
};

}  // namespace talo
