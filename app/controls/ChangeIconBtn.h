// The scheme page's icon button: the scheme's icon over the chooser's cell, with its
// caption below, on the page's background. Clicking it (press and release on it) sends command 8000 to the parent,
// which opens the icon chooser.
#pragma once

#include <windows.h>

#include "IconButton.h"
#include "TaloResIds.h"

namespace talo {

class CChangeIconBtn : public CIconButton {
public:
    static constexpr int kId = IDC_CHANGE_ICON_BUTTON;
    static constexpr UINT kFirstImage = IDB_SCHEME_ICON_BASE;
    static constexpr UINT kCell = IDB_ICON_CELL;
    static constexpr UINT kCaption = IDS_CHANGE_ICON_BUTTON;

    // A child button with identifier 8000, whose click is the command 8000, and the
    // caption of the resource module.
    bool Create(HWND parent, const RECT& rect);

    // The face's image: a bitmap of the resource module (kFirstImage + icon number).
    void SetImage(UINT image);
    UINT Image() const { return m_image; }

    BEGIN_MSG_MAP(CChangeIconBtn)
        MSG_OCM_DRAWITEM(OnDrawFace)
        CHAIN_MSG_MAP(CIconButton)
    END_MSG_MAP()

private:
    void OnDrawFace(const DRAWITEMSTRUCT* item);

    UINT m_image = kFirstImage;
};

}  // namespace talo
