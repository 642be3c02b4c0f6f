// The device dialog: before a scheme that switches devices off becomes active, it lists
// those devices and lets the user keep some of them running. What the user chose is the
// enforce record, [EnforceSetting] of the per-user scheme file: the scheme, the power
// source and one plain value per device item, which the service prefers to the scheme's
// own values when it applies that scheme on that source.
#pragma once

#include <windows.h>

#include <list>
#include <string>

#include "DeviceItems.h"
#include "FrameDlg.h"
#include "TALOStatic.h"
#include "TaloResIds.h"
#include "WinHandles.h"

namespace talo {

class CDeviceShowDlg : public CFrameDlgImpl<CDeviceShowDlg> {
public:
    enum { IDD = IDD_DEVICE_SHOW };
    // The frame's header takes 50 pixels of a dialog this wide: 290 high leaves the prompt
    // its two lines and the list its 100 pixels above the check box.
    static constexpr int kWidth = 350;
    static constexpr int kHeight = 290;
    static constexpr int kGap = 6;
    static constexpr int kPromptWidth = 300;
    static constexpr int kPromptHeight = 32;  // at least: two lines
    static constexpr int kColumnWidth = 236;
    static constexpr wchar_t kSection[] = L"EnforceSetting";
    // What Show returns when a device dialog of this process is asking already.
    static constexpr INT_PTR kAlreadyOpen = -2;

    CDeviceShowDlg();

    // Starts a new enforce record for the scheme and source (SchemeID, bIfAC) and, when the
    // scheme switches any device off, runs the dialog modally over owner. Returns IDOK or
    // IDCANCEL as the dialog ended, 0 when there was nothing to show; kAlreadyOpen, with
    // the record untouched, while another device dialog is open (its choice would be lost,
    // and its record rewritten under it).
    // The scheme, the source, the file and the devices are the dialog's own from here on:
    // nothing the hub does while it is open (the poll, the balloon) changes what OK writes.
    INT_PTR Show(int schemeIndex, int ac, HWND owner);
    // Whether a device dialog of this process is open.
    static bool IsOpen();

    int SchemeIndex() const { return m_schemeIndex; }
    int AcFlag() const { return m_ac; }
    int DeviceCount() const { return m_deviceCount; }
    const std::list<DeviceDesp>& Devices() const { return m_devices; }

    bool OnPostInit() override;

    BEGIN_MSG_MAP(CDeviceShowDlg)
        COMMAND_ID_HANDLER(IDOK, OnOk)
        COMMAND_ID_HANDLER(IDCANCEL, OnCloseCmd)
        CHAIN_MSG_MAP(CFrameDlg)
    END_MSG_MAP()

private:
    LRESULT OnOk(WORD, WORD, HWND, BOOL&);
    void Place(int id, int x, int y, int width, int height) const;

    int m_schemeIndex = -1;
    int m_ac = 0;
    int m_deviceCount = 0;
    std::wstring m_schemeFile;
    std::list<DeviceDesp> m_devices;
    HWND m_list = nullptr;
    CTALOStatic m_prompt;
    LOGFONTW m_logFont;
    UniqueFont m_font;
};

}  // namespace talo
