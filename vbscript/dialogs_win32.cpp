// MsgBox and InputBox as Windows dialogs: MessageBoxW, and a small modal dialog built in memory
// for InputBox. Both are owned by the calling thread's active window (the caller's form), so they
// stay in front of it and keep it disabled while they are open. Where no window can be shown (a
// window station without a visible desktop, a session without a display) they answer as a user
// pressing Enter would: OK, or the default text.
#include "interp.h"

#include <windows.h>

#include <string>
#include <vector>

namespace kestrun::vbscript {

namespace {

// MsgBox's option bits that MessageBoxW takes as they are: buttons, icon, default button,
// modality, help button, foreground, topmost, right alignment, right-to-left reading.
constexpr UINT kMessageBoxBits = 0x7 | 0x70 | 0x300 | 0x3000 | MB_HELP | MB_SETFOREGROUND |
                                 MB_TOPMOST | MB_RIGHT | MB_RTLREADING;

bool WindowsCanBeShown() {
    HWINSTA station = GetProcessWindowStation();
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    if (station && GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed) &&
        (flags.dwFlags & WSF_VISIBLE) == 0)
        return false;
    return true;
}

const wchar_t *Wide(const std::u16string &s) {
    return reinterpret_cast<const wchar_t *>(s.c_str());
}

// ---- the InputBox dialog, laid out in dialog units

constexpr WORD kEditId = 100;
constexpr WORD kButtonClass = 0x0080, kEditClass = 0x0081, kStaticClass = 0x0082;

// A dialog template in memory (DLGTEMPLATE followed by its DLGITEMTEMPLATEs).
class DialogTemplate {
public:
    DialogTemplate(DWORD style, short cx, short cy, const std::u16string &title, WORD items) {
        PutDword(style);
        PutDword(0); // extended style
        words_.push_back(items);
        PutShort(0);
        PutShort(0);
        PutShort(cx);
        PutShort(cy);
        words_.push_back(0); // no menu
        words_.push_back(0); // the standard dialog class
        PutText(title);
        words_.push_back(9); // font size in points (DS_SETFONT)
        PutText(u"MS Shell Dlg");
    }

    void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD windowClass,
              const std::u16string &text) {
        if (words_.size() % 2) // each item starts on a DWORD boundary
            words_.push_back(0);
        PutDword(style | WS_CHILD | WS_VISIBLE);
        PutDword(0);
        PutShort(x);
        PutShort(y);
        PutShort(cx);
        PutShort(cy);
        words_.push_back(id);
        words_.push_back(0xFFFF);
        words_.push_back(windowClass);
        PutText(text);
        words_.push_back(0); // no creation data
    }

    const DLGTEMPLATE *get() const { return reinterpret_cast<const DLGTEMPLATE *>(words_.data()); }

private:
    void PutDword(DWORD v) {
        words_.push_back(LOWORD(v));
        words_.push_back(HIWORD(v));
    }
    void PutShort(short v) { words_.push_back(static_cast<WORD>(v)); }
    void PutText(const std::u16string &s) {
        for (char16_t c : s)
            words_.push_back(static_cast<WORD>(c == 0 ? u' ' : c));
        words_.push_back(0);
    }

    std::vector<WORD> words_;
};

struct InputState {
    std::u16string text;
};

INT_PTR CALLBACK InputBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        HWND edit = GetDlgItem(dialog, kEditId);
        SendMessageW(edit, EM_SETSEL, 0, -1);
        SetFocus(edit);
        return FALSE; // the focus was set here
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: {
            auto *state = reinterpret_cast<InputState *>(GetWindowLongPtrW(dialog, DWLP_USER));
            HWND edit = GetDlgItem(dialog, kEditId);
            const int length = GetWindowTextLengthW(edit);
            std::u16string text(static_cast<size_t>(length > 0 ? length : 0) + 1, u'\0');
            const int got = GetWindowTextW(edit, reinterpret_cast<wchar_t *>(text.data()),
                                           static_cast<int>(text.size()));
            text.resize(static_cast<size_t>(got > 0 ? got : 0));
            if (state)
                state->text = std::move(text);
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            break;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

// Button captions in the user's interface language.
bool ChineseInterface() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE;
}

class WindowsDialogs : public DialogHost {
public:
    int messageBox(const std::u16string &prompt, int buttons,
                   const std::u16string &title) override {
        if (!WindowsCanBeShown())
            return defaultMessageBoxAnswer(buttons);
        const int answer = MessageBoxW(GetActiveWindow(), Wide(prompt), Wide(title),
                                       static_cast<UINT>(buttons) & kMessageBoxBits);
        // 0: the box could not be created (no display, out of resources).
        if (answer < IDOK || answer > IDNO)
            return defaultMessageBoxAnswer(buttons);
        return answer;
    }

    bool inputBox(const std::u16string &prompt, const std::u16string &title,
                  std::u16string &text) override {
        if (!WindowsCanBeShown())
            return true;
        const bool chinese = ChineseInterface();
        DialogTemplate layout(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION |
                                  WS_SYSMENU,
                              250, 96, title, 4);
        layout.Item(SS_LEFT | SS_NOPREFIX, 7, 7, 180, 64, 0xFFFF, kStaticClass, prompt);
        layout.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 193, 7, 50, 14, IDOK, kButtonClass,
                    chinese ? u"\u786E\u5B9A" : u"OK");
        layout.Item(BS_PUSHBUTTON | WS_TABSTOP, 193, 25, 50, 14, IDCANCEL, kButtonClass,
                    chinese ? u"\u53D6\u6D88" : u"Cancel");
        layout.Item(ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 76, 236, 13, kEditId,
                    kEditClass, text);
        InputState state;
        const INT_PTR rc =
            DialogBoxIndirectParamW(GetModuleHandleW(nullptr), layout.get(), GetActiveWindow(),
                                    InputBoxProc, reinterpret_cast<LPARAM>(&state));
        if (rc == IDCANCEL)
            return false;
        if (rc == IDOK)
            text = std::move(state.text);
        return true; // shown and confirmed, or not shown at all: the default text stays
    }
};

} // namespace

std::unique_ptr<DialogHost> makeDesktopDialogs() {
    return std::make_unique<WindowsDialogs>();
}

} // namespace kestrun::vbscript
