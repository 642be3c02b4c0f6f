// The device dialog: before a scheme that switches devices off becomes active, it lists
// those devices and lets the user keep some of them running. What the user chose is the
// enforce record, [EnforceSetting] of the per-user scheme file: the scheme, the power
// source and one plain value per device item, which the service prefers to the scheme's
// own values when it applies that scheme on that source.
#pragma once

#include <windows.h>

#include <string>

#include "FrameDlg.h"
#include "TALOStatic.h"
#include "TaloResIds.h"
#include "WinHandles.h"

namespace talo {

class CDummyDlg;

class CDeviceShowDlg : public CFrameDlg {
public:
    enum { IDD = IDD_DEVICE_SHOW };
    // The frame's header takes 50 pixels of a dialog this wide: 290 high leaves the prompt
    // its two lines and the list its 100 pixels above the check box.
    static constexpr int kWidth = 350;
    static constexpr int kHeight = 290;
    static constexpr int kGap = 6;
    static constexpr int kPromptHeight = 32;
    static constexpr int kColumnWidth = 236;
    static constexpr wchar_t kSection[] = L"EnforceSetting";

    // hub computes the device items' states for the dialog.
    explicit CDeviceShowDlg(CDummyDlg& hub);

    // Starts a new enforce record for the scheme and source (SchemeID, bIfAC) and, when the
    // scheme switches any device off, runs the dialog modally over owner. Returns IDOK or
    // IDCANCEL as the dialog ended, 0 when there was nothing to show.
    INT_PTR Show(int schemeIndex, int ac, HWND owner);

    int SchemeIndex() const { return m_schemeIndex; }
    int AcFlag() const { return m_ac; }
    int DeviceCount() const { return m_deviceCount; }

    bool OnPostInit() override;

    BEGIN_MSG_MAP(CDeviceShowDlg)
        COMMAND_ID_HANDLER(IDOK, OnOk)
        COMMAND_ID_HANDLER(IDCANCEL, OnCancel)
        CHAIN_MSG_MAP(CFrameDlg)
    END_MSG_MAP()

private:
    LRESULT OnOk(WORD, WORD, HWND, BOOL&);
    LRESULT OnCancel(WORD, WORD, HWND, BOOL&);
    void Place(int id, int x, int y, int width, int height) const;

    CDummyDlg& m_hub;
    int m_schemeIndex = -1;
    int m_ac = 0;
    int m_deviceCount = 0;
    std::wstring m_schemeFile;
    HWND m_list = nullptr;
    CTALOStatic m_prompt;
    LOGFONTW m_logFont;
    UniqueFont m_font;
};

}  // namespace talo
