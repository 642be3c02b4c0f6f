#include "FrameDlg.h"

#include <cstdlib>
#include <cwchar>
#include <new>

#include "AppConfig.h"
#include "CatalogueTexts.h"
#include "ResourceModule.h"
#include "SchemeSeeding.h"
#include "TaloResIds.h"
#include "ZoraSystemApi.h"

namespace talo {
namespace {

// Effects and options beyond these are taken for a damaged file.
constexpr int kMaxEffects = 256;
constexpr int kMaxOptions = 1024;

int CfgInt(const std::wstring& file, const std::wstring& section, const std::wstring& key) {
    if (file.empty()) return -1;
    return GetCfgInt(0, file.c_str(), section.c_str(), key.c_str(), 0);
}

// The [SchemeItemList] entries this Windows offers, in list order: (i of Item<i>, variable).
std::vector<std::pair<int, std::wstring>> ListedItems() {
    std::vector<std::pair<int, std::wstring>> items;
    const std::wstring cfg = CfgFileName();
    const int count = CfgInt(cfg, L"SchemeItemList", L"ItemNum");
    for (int i = 0; i < count && i < kMaxOptions; ++i) {
        std::wstring variable = CfgString(cfg, L"SchemeItemList", Numbered(L"Item", i));
        if (variable.empty() || !IsItemOsSupported(variable.c_str())) continue;
        items.emplace_back(i, std::move(variable));
    }
    return items;
}

// The one HTML Help engine of the process, loaded on first use and kept.
using HtmlHelpProc = HWND(WINAPI*)(HWND, const wchar_t*, UINT, DWORD_PTR);
HtmlHelpProc HtmlHelpEntry() {
    static HtmlHelpProc entry = [] {
        HMODULE module = LoadLibraryW(L"hhctrl.ocx");
        return module != nullptr
                   ? reinterpret_cast<HtmlHelpProc>(reinterpret_cast<void*>(GetProcAddress(module, "HtmlHelpW")))
                   : nullptr;
    }();
    return entry;
}
constexpr UINT kHelpDisplayTopic = 0;  // HH_DISPLAY_TOPIC

// The option buffer the library fills: 255 characters and the terminator.
constexpr int kOptionChars = 255;

// Among options, the one whose value is nearest to value, whatever their order (the
// installed processor limits run from 100 down); at a tie the one listed first. -1 without
// options.
int NearestOption(const std::vector<CFrameDlg::Option>& options, int value) {
    int nearest = -1;
    for (size_t j = 0; j < options.size(); ++j) {
        if (nearest < 0 ||
            std::abs(value - options[j].value) < std::abs(value - options[static_cast<size_t>(nearest)].value))
            nearest = static_cast<int>(j);
    }
    return nearest;
}

}  // namespace

CFrameDlg::CFrameDlg(UINT templateId)
    : m_titleFont(MakeLogFont(L"Verdana", 15, 6, FW_SEMIBOLD)),
      m_bodyFont(MakeLogFont(L"Tahoma", 13, 5, FW_NORMAL)),
      m_templateId(templateId) {}

CFrameDlg::~CFrameDlg() = default;

INT_PTR CFrameDlg::DoModal(HWND parent, LPARAM initParam) {
    return DoModalTemplate(MAKEINTRESOURCEW(m_templateId), parent, initParam);
}

HWND CFrameDlg::Create(HWND parent, LPARAM initParam) {
    return CreateTemplate(MAKEINTRESOURCEW(m_templateId), parent, initParam);
}

// ---- the scheme model ----

int CFrameDlg::LoadModel() {
    m_scheme.reset(new (std::nothrow) CSchemeEx());
    if (!m_scheme) return 0;
    m_scheme->Initialize();
    if (StartFlag() == 0) {
        talo::PrepareSchemeFiles(*m_scheme);
        SetStartFlag();
    }
    LoadItems();
    LoadAvailability();
    LoadEffects();
    LoadWeights();
    return 1;
}

int CFrameDlg::LoadItems() {
    m_items.clear();
    const std::wstring settings = PowerSettingFile();
    for (auto& [listIndex, variable] : ListedItems()) {
        Item item;
        item.listIndex = listIndex;
        item.name = CatalogueString(CatalogueText::kVariableName, variable.c_str(), 0,
                                    CfgString(settings, variable, L"Name"));
        item.variable = std::move(variable);
        m_items.push_back(std::move(item));
    }
    return ItemCount();
}

int CFrameDlg::LoadAvailability() {
    const std::wstring settings = PowerSettingFile();
    const bool hibernation = ZoraSys()->IsPwrHibernateAllowed() != FALSE;
    for (Item& item : m_items) {
        item.dcAvailable = item.acAvailable = CfgInt(settings, item.variable, L"SupportStatus");
        // The panel's power saving works on battery only.
        if (lstrcmpiW(item.variable.c_str(), L"VXPS") == 0) item.acAvailable = 0;
        // Hibernation the system does not allow has no value on either source.
        if (!hibernation && item.variable == L"HibernateTimeOut") item.acAvailable = item.dcAvailable = -1;
    }
    return 1;
}

int CFrameDlg::LoadOptions() {
    m_options.assign(m_items.size(), {});
    if (!m_scheme) return 0;
    for (size_t i = 0; i < m_items.size(); ++i) {
        const wchar_t* variable = m_items[i].variable.c_str();
        const int count = m_scheme->GetPwrVariableOptCount(variable);
        for (int o = 0; o < count && o < kMaxOptions; ++o) {
            wchar_t text[kOptionChars + 1] = L"";
            m_scheme->GetPwrVariableOptDesc(variable, o, text, kOptionChars + 1);
            m_options[i].push_back(Option{m_scheme->GetPwrVariableOptValue(variable, o), OptionString(variable, o, text)});
        }
    }
    return 1;
}

int CFrameDlg::LoadEffects() {
    m_effects.clear();
    const std::wstring file = EffectFile();
    const int count = CfgInt(file, L"NormalSettings", L"Number");
    for (int e = 0; e < count && e < kMaxEffects; ++e) {
        const std::wstring section = Numbered(L"Effect", e);
        m_effects.push_back(
            Effect{CatalogueString(CatalogueText::kEffectName, nullptr, e, CfgString(file, section, L"Name")),
                   CatalogueString(CatalogueText::kEffectDescription, nullptr, e,
                                   CfgString(file, section, L"Description"))});
    }
    return EffectCount();
}

int CFrameDlg::LoadWeights() {
    m_weights.assign(m_effects.size(), std::vector<int>(m_items.size(), 0));
    const std::wstring file = EffectFile();
    for (size_t e = 0; e < m_effects.size(); ++e) {
        const std::wstring section = Numbered(L"Effect", static_cast<int>(e));
        const int options = CfgInt(file, section, L"Number");
        for (int d = 0; d < options && d < kMaxOptions; ++d) {
            const std::wstring variable = CfgString(file, section, Numbered(L"OptionDesc", d));
            for (size_t i = 0; i < m_items.size(); ++i) {
                if (m_items[i].variable != variable) continue;
                m_weights[e][i] = CfgInt(file, section, Numbered(L"OptionVal", d));
                break;
            }
        }
    }
    return 1;
}

void CFrameDlg::GetEffectRange(int ac, int effect, int* first, int* second) {
    if (effect < 0 || effect >= EffectCount() || first == nullptr || second == nullptr) return;
    *first = 0;
    *second = 0;
    CSchemeEx catalogue;
    CSchemeEx& scheme = m_scheme ? *m_scheme : catalogue;
    for (int i = 0; i < ItemCount(); ++i) {
        const int weight = Weight(effect, i);
        const int available = ac == 1 ? m_items[i].acAvailable : m_items[i].dcAvailable;
        if (weight == 0 || available <= 0) continue;
        const int options = scheme.GetPwrVariableOptCount(m_items[i].variable.c_str());
        if (weight > 0) {
            *first += options * weight;
        } else {
            *first += weight;
            *second += (options + 1) * weight;
        }
    }
}

int CFrameDlg::GetIconCount() { return CfgInt(CfgFileName(), L"TALOCfg", L"IconNumber"); }

int CFrameDlg::GetSchemeIconNum(int scheme) {
    const std::wstring profile = ProfileFile();
    return GetCfgInt(1, profile.c_str(), Numbered(L"Scheme", scheme).c_str(), L"IconNum", 0);
}

int CFrameDlg::GetSchemeIfDefault(int scheme) {
    const std::wstring profile = ProfileFile();
    return GetCfgInt(1, profile.c_str(), Numbered(L"Scheme", scheme).c_str(), L"IfDefault", 0);
}

bool CFrameDlg::IsItemDevice(int item) {
    const Item* entry = GetItem(item);
    if (entry == nullptr) return false;
    return CfgInt(CfgFileName(), L"SchemeItemList", Numbered(L"IfDevice", entry->listIndex)) == 1;
}

int CFrameDlg::CountItems() { return static_cast<int>(ListedItems().size()); }

int CFrameDlg::CeilMultiple(int a, int b, int c) {
    if (b == 0) return 0;
    int quotient = a / b;
    if (a % b != 0 && (a < 0) == (b < 0)) ++quotient;
    return c * quotient;
}

const CFrameDlg::Item* CFrameDlg::GetItem(int item) const {
    return item >= 0 && item < ItemCount() ? &m_items[static_cast<size_t>(item)] : nullptr;
}

const CFrameDlg::Effect* CFrameDlg::GetEffect(int effect) const {
    return effect >= 0 && effect < EffectCount() ? &m_effects[static_cast<size_t>(effect)] : nullptr;
}

int CFrameDlg::Weight(int effect, int item) const {
    if (effect < 0 || static_cast<size_t>(effect) >= m_weights.size()) return 0;
    const auto& row = m_weights[static_cast<size_t>(effect)];
    return item >= 0 && static_cast<size_t>(item) < row.size() ? row[static_cast<size_t>(item)] : 0;
}

bool CFrameDlg::IsBatteryLife(int effect) const {
    return effect >= 0 && effect < EffectCount() &&
           CfgString(EffectFile(), Numbered(L"Effect", effect), L"Name") == kBatteryLifeEffect;
}

const std::vector<CFrameDlg::Option>& CFrameDlg::Options(int item) const {
    static const std::vector<Option> kNone;
    return item >= 0 && static_cast<size_t>(item) < m_options.size() ? m_options[static_cast<size_t>(item)] : kNone;
}

int CFrameDlg::ShownOption(int item, int value) const {
    const Item* entry = GetItem(item);
    if (entry == nullptr) return -1;
    const std::vector<Option>& options = Options(item);
    if (entry->variable == L"CpuSpeedMax" || entry->variable == L"CpuSpeedMin") return NearestOption(options, value);
    for (size_t o = 0; o < options.size(); ++o)
        if (options[o].value == value) return static_cast<int>(o);
    return -1;
}

// ---- the frame ----

void CFrameDlg::MakeHeading(CTALOStatic& label, HWND parent, int id, UINT text) {
    label.SubclassDlgItem(id, parent);
    label.SetLogFont(MakeLogFont(L"Verdana", 13, 0, FW_BOLD));
    label.SetTextColor(kHeadingColor);
    label.SetText(ResString(text).c_str());
}

std::wstring CFrameDlg::WindowTitle() {
    std::wstring title = CfgString(CfgFileName(), L"TALOCfg", L"Name");
    return title == kProductShortName ? kProductLongName : title;
}

void CFrameDlg::OnLayout(int width) {
    struct Band {
        int minWidth;  // the band starts above this width
        int markFont;
        RECT mark;
        UINT logo;
    };
    static constexpr Band kBands[] = {
        {420, 12, {137, 15, 152, 28}, kLogoWide},
        {200, 11, {125, 14, 140, 25}, kLogoMedium},
        {INT_MIN, 9, {80, 14, 95, 23}, kLogoSmall},
    };
    for (const Band& band : kBands) {
        if (width <= band.minWidth) continue;
        m_headerHeight = HeaderHeightFor(width);
        m_markFontHeight = band.markFont;
        m_markRect = band.mark;
        if (!m_bitmapsChosen) m_logoBitmap = band.logo;
        return;
    }
}

int CFrameDlg::HeaderHeightFor(int width) { return width > 420 ? 60 : width > 200 ? 50 : 30; }

LRESULT CFrameDlg::OnSize(UINT, WPARAM, LPARAM lParam, BOOL& handled) {
    handled = FALSE;
    const int height = HeaderHeightFor(LOWORD(lParam));
    if (height != m_headerHeight && m_title.m_hWnd != nullptr) {
        m_headerHeight = height;
        Invalidate();
    }
    return 0;
}

LRESULT CFrameDlg::OnBringForward(UINT, WPARAM, LPARAM, BOOL&) {
    RECT window = {};
    ::GetWindowRect(m_hWnd, &window);
    CenterInWorkArea(m_hWnd, window.right - window.left, window.bottom - window.top);
    SetForegroundWindow(m_hWnd);
    return 0;
}

RECT CFrameDlg::MarkCircle() const {
    const int diameter = m_markRect.bottom - m_markRect.top;
    return RECT{m_markRect.left - 3, m_markRect.top, m_markRect.left - 3 + diameter, m_markRect.top + diameter};
}

void CFrameDlg::SetFrameBitmaps(UINT header, UINT logo) {
    m_headerBitmap = header;
    m_logoBitmap = logo;
    m_bitmapsChosen = true;
    if (m_hWnd != nullptr) Invalidate();
}

std::wstring CFrameDlg::TitleText() {
    std::wstring name = CfgString(CfgFileName(), L"TALOCfg", L"Name");
    if (name == kProductShortName) name = kProductMarkRoomName;
    return name;
}

bool CFrameDlg::CreateTitle() {
    const int width = ClientWidth();
    // Right of the logo, with a little air.
    int left = 14 + 6;
    UniqueBitmap logo(LoadResBitmap(m_logoBitmap));
    BITMAP info = {};
    if (logo && GetObjectW(logo.get(), sizeof info, &info) != 0) left += info.bmWidth;
    const RECT rect = {left, 12, width > left + 10 ? width - 10 : left + 10, 12 + 20};
    if (m_title.m_hWnd == nullptr && !m_title.Create(m_hWnd, rect, kTitleId, L"", SS_LEFT | SS_NOPREFIX)) return false;
    m_title.SetLogFont(m_titleFont);
    m_title.SetTextColor(kTitleColor);
    std::wstring title = TitleText();
    m_title.SetText(title.c_str());
    // The mark goes into the room the name leaves for it, however long the name is drawn.
    if (title == kProductMarkRoomName) {
        HDC dc = GetDC(m_hWnd);
        SIZE extent = {};
        {
            UniqueFont font = MakeFont(m_titleFont);
            CSelectObject selected(dc, font.get());
            GetTextExtentPoint32W(dc, kProductShortName, lstrlenW(kProductShortName), &extent);
        }
        ReleaseDC(m_hWnd, dc);
        const int shift = rect.left + extent.cx + 4 - m_markRect.left;
        if (shift > 0) OffsetRect(&m_markRect, shift, 0);
    }
    return true;
}

bool CFrameDlg::CreateSubtitle() {
    wchar_t text[64];
    LoadResString(kMarkString, text, 64);
    if (m_mark.m_hWnd == nullptr && !m_mark.Create(m_hWnd, m_markRect, kTitleId, L"", SS_LEFT | SS_NOPREFIX)) {
        return false;
    }
    m_mark.MoveWindow(m_markRect.left, m_markRect.top, m_markRect.right - m_markRect.left,
                      m_markRect.bottom - m_markRect.top);
    LOGFONTW font = m_titleFont;
    font.lfHeight = m_markFontHeight;
    font.lfWidth = 0;
    m_mark.SetLogFont(font);
    m_mark.SetTextColor(kTitleColor);
    m_mark.SetText(text);
    return true;
}

void CFrameDlg::UpdateHeaderText() {
    if (m_title.m_hWnd != nullptr) m_title.SetText(TitleText().c_str());
}

void CFrameDlg::InitFrame() {
    OnLayout(ClientWidth());
    m_titleFontHandle = MakeFont(m_titleFont);
    m_bodyFontHandle = MakeFont(m_bodyFont);
    CreateTitle();
    CreateSubtitle();
    OnDiagnostic();
}

BOOL CFrameDlg::OnInitDialog(HWND, LPARAM) {
    InitFrame();
    OnPostInit();
    return TRUE;
}

int CFrameDlg::ClientWidth() const {
    RECT client = {};
    if (m_hWnd != nullptr) ::GetClientRect(m_hWnd, &client);
    return client.right - client.left;
}

void CFrameDlg::OnPaint(HDC) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    if (dc == nullptr) return;
    DrawFrame(dc, ClientWidth());
    EndPaint(m_hWnd, &paint);
}

void CFrameDlg::DrawFrame(HDC dc, int width) {
    // The header bitmap fills the header the width gives, no more: drawn at its own height
    // (60) it covered the top rows of a dialog whose header is 50 or 30 pixels high.
    if (m_headerBitmap != 0) {
        UniqueBitmap header(LoadResBitmap(m_headerBitmap));
        CopyBitmap(dc, header.get(), 0, 0, width, m_headerHeight, BlitMode::kCopy);
    }
    if (m_logoBitmap != 0) DrawBitmap(dc, m_logoBitmap, true, 14, m_logoBitmap == kLogoSmall ? 3 : 5, 0, 0, 0);
    DrawMark(dc, m_markPenWidth);
}

void CFrameDlg::DrawMark(HDC dc, int penWidth) {
    if (m_title.m_hWnd == nullptr || lstrcmpW(m_title.Text(), kProductMarkRoomName) != 0) return;
    UniquePen pen(CreatePen(PS_SOLID, penWidth, RGB(0xFF, 0xFF, 0xFF)));
    if (!pen) return;
    const RECT box = MarkCircle();
    const int centreX = (box.left + box.right) / 2;
    const int centreY = (box.top + box.bottom) / 2;
    CSelectObject selected(dc, pen.get());
    Arc(dc, box.left, box.top, box.right, box.bottom, centreX, centreY, centreX, centreY);
}

int CFrameDlg::DrawBitmap(HDC dc, UINT id, bool transparent, int x, int y, int sourceX, int sourceY, int width) {
    UniqueBitmap bitmap(LoadResBitmap(id));
    if (transparent) return CopyBitmap(dc, bitmap.get(), x, y, 0, 0, BlitMode::kKeyed, sourceX, sourceY) ? 1 : 0;
    return CopyBitmap(dc, bitmap.get(), x, y, width, 0, BlitMode::kCopy, sourceX, sourceY) ? 1 : 0;
}

std::wstring CFrameDlg::HelpPath() {
    wchar_t exe[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path(exe, length < MAX_PATH ? length : 0);
    const size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) return {};
    path.erase(slash + 1);
    // The resource module names the file of its own language, so that swapping the module
    // swaps the help as well; the configuration's name serves a module without one.
    wchar_t file[MAX_PATH] = {};
    if (LoadResString(IDS_HELP_FILE, file, MAX_PATH) > 0) return path + file;
    return path + CfgString(CfgFileName(), L"TALOCfg", L"HelpFileName");
}

bool CFrameDlg::ShowHelp(const wchar_t* topic) {
    std::wstring path = HelpPath();
    if (path.empty()) return false;
    if (topic != nullptr) path += std::wstring(L"::/") + topic;
    HtmlHelpProc htmlHelp = HtmlHelpEntry();
    if (htmlHelp == nullptr) return false;
    return htmlHelp(GetDesktopWindow(), path.c_str(), kHelpDisplayTopic, 0) != nullptr;
}

}  // namespace talo
