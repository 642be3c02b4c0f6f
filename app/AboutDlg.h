// The about box: the skinned frame around the resource module's texts of the product,
// its version, the copyright and a line on what the product does.
#pragma once

#include "FrameDlg.h"
#include "TALOStatic.h"
#include "TaloResIds.h"

namespace talo {

class CAboutDlg : public CFrameDlgImpl<CAboutDlg> {
public:
    enum { IDD = IDD_ABOUT };

    // The four labels take over the template's statics and draw its texts.
    bool OnPostInit() override;

    const CTALOStatic& Label(int index) const { return m_labels[index]; }

    BEGIN_MSG_MAP(CAboutDlg)
        COMMAND_ID_HANDLER(IDOK, OnCloseCmd)
        COMMAND_ID_HANDLER(IDCANCEL, OnCloseCmd)
        CHAIN_MSG_MAP(CFrameDlg)
    END_MSG_MAP()

private:
    CTALOStatic m_labels[4];
};

}  // namespace talo
