// Dialog templates built in memory, so that TALO's dialogs and controls are tested on
// real windows without a resource module: a caption and size, then one item per control.
#pragma once

#include <windows.h>

#include <vector>

namespace test {

class MemoryTemplate {
public:
    // Predefined control classes, by the atom a template names them with.
    static constexpr WORD kButton = 0x0080;
    static constexpr WORD kStatic = 0x0082;

    // Size in dialog units.
    MemoryTemplate(const wchar_t* caption, short cx, short cy,
                   DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME) {
        DLGTEMPLATE header = {};
        header.style = style;
        header.cx = cx;
        header.cy = cy;
        Append(&header, sizeof header);
        Word(0);  // no menu
        Word(0);  // the dialog class
        Text(caption);
    }
    MemoryTemplate& Item(DWORD style, WORD id, WORD atom, const wchar_t* text, short x, short y, short cx = 60,
                         short cy = 14) {
        if (m_words.size() % 2 != 0) Word(0);  // items start on a DWORD
        DLGITEMTEMPLATE item = {};
        item.style = style;
        item.x = x;
        item.y = y;
        item.cx = cx;
        item.cy = cy;
        item.id = id;
        Append(&item, sizeof item);
        Word(0xFFFF);
        Word(atom);
        Text(text);
        Word(0);  // no creation data
        ++reinterpret_cast<DLGTEMPLATE*>(m_words.data())->cdit;
        return *this;
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(m_words.data()); }

private:
    void Append(const void* data, size_t bytes) {
        const auto* words = static_cast<const WORD*>(data);
        m_words.insert(m_words.end(), words, words + bytes / sizeof(WORD));
    }
    void Word(WORD value) { m_words.push_back(value); }
    void Text(const wchar_t* text) {
        do Word(static_cast<WORD>(*text)); while (*text++ != L'\0');
    }

    std::vector<WORD> m_words;
};

}  // namespace test
