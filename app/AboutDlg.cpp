#include "AboutDlg.h"

namespace talo {

bool CAboutDlg::OnPostInit() {
    const int ids[] = {IDC_ABOUT_PRODUCT, IDC_ABOUT_VERSION, IDC_ABOUT_COPYRIGHT, IDC_ABOUT_DESCRIPTION};
    for (int i = 0; i < 4; ++i) {
        m_labels[i].SubclassDlgItem(ids[i], m_hWnd);
        m_labels[i].SetLogFont(BodyFont());
    }
    // The product's name in the title's weight.
    LOGFONTW bold = BodyFont();
    bold.lfWeight = FW_BOLD;
    m_labels[0].SetLogFont(bold);
    return true;
}

}  // namespace talo
