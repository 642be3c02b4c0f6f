// The display options: which schemes the quick switch offers (the profile file's
// [Scheme<i>] IfShow, one check box per scheme) and whether the device dialog asks before a
// scheme switches devices off (DevShowFlag). Nothing is written before OK.
#pragma once

#include <windows.h>

#include <vector>

#include "FrameDlg.h"
#include "PwrDesp.h"
#include "TaloResIds.h"
#include "WinHandles.h"

namespace talo {

class CSchemeOptionDlg : public CFrameDlgImpl<CSchemeOptionDlg> {
public:
    enum { IDD = IDD_SCHEME_OPTIONS };
    static constexpr int kWidth = 400;
    static constexpr int kHeight = 390;
    static constexpr int kCheckColumnWidth = 25;
    static constexpr int kNameColumnWidth = 250;

    CSchemeOptionDlg() = default;

    bool OnPostInit() override;

    BEGIN_MSG_MAP(CSchemeOptionDlg)
        COMMAND_ID_HANDLER(IDOK, OnOk)
        COMMAND_ID_HANDLER(IDCANCEL, OnCloseCmd)
        CHAIN_MSG_MAP(CFrameDlg)
    END_MSG_MAP()

private:
    LRESULT OnOk(WORD, WORD, HWND, BOOL&);
    void Place(HWND control, int x, int y, int width, int height) const;

    std::vector<PWRDESP> m_schemes;
    HWND m_list = nullptr;
};

}  // namespace talo
