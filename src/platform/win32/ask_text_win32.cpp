// The text prompt: a modal dialog of the standard dialog class with a
// prompt, an edit field, and OK and Cancel.
#include <vector>

#include "platform/win32/forms_win32.h"

namespace platform::win32 {

namespace {
constexpr WORD kPromptId = 100;
constexpr WORD kEditId = 101;

// Builds an in-memory dialog template, one word at a time.
class DialogTemplate {
public:
    void Header(DWORD style, WORD itemCount, short cx, short cy, const wchar_t* font, WORD points) {
        Dword(style);
        Dword(0);
        Word(itemCount);
        Word(0), Word(0), Word(static_cast<WORD>(cx)), Word(static_cast<WORD>(cy));
        Word(0), Word(0), Word(0);  // no menu, standard class, empty title
        Word(points);
        Text(font);
    }
    void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD classAtom, const wchar_t* text) {
        while (words_.size() % 2) words_.push_back(0);  // items are DWORD aligned
        Dword(style);
        Dword(0);
        Word(static_cast<WORD>(x)), Word(static_cast<WORD>(y)), Word(static_cast<WORD>(cx)),
            Word(static_cast<WORD>(cy));
        Word(id);
        Word(0xFFFF), Word(classAtom);
        Text(text);
        Word(0);  // no creation data
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void Word(WORD w) { words_.push_back(w); }
    void Dword(DWORD d) { Word(LOWORD(d)), Word(HIWORD(d)); }
    void Text(const wchar_t* text) {
        do Word(static_cast<WORD>(*text));
        while (*text++);
    }
    std::vector<WORD> words_;
};

struct Prompt {
    const std::string* prompt;
    const std::string* title;
    std::string answer;
};

INT_PTR CALLBACK PromptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* prompt = reinterpret_cast<Prompt*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        prompt = reinterpret_cast<Prompt*>(lParam);
        SetWindowTextA(dialog, prompt->title->c_str());
        SetDlgItemTextA(dialog, kPromptId, prompt->prompt->c_str());
        return TRUE;  // focus goes to the edit field, the first tab stop
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            HWND edit = GetDlgItem(dialog, kEditId);
            std::vector<char> text(static_cast<size_t>(GetWindowTextLengthA(edit)) + 1, '\0');
            GetWindowTextA(edit, text.data(), static_cast<int>(text.size()));
            prompt->answer = text.data();
            EndDialog(dialog, IDOK);
        } else if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
        }
        return TRUE;
    }
    return FALSE;
}
}  // namespace

std::string Win32Forms::AskText(const std::string& prompt, const std::string& title) {
    constexpr WORD kButton = 0x0080, kEdit = 0x0081, kStatic = 0x0082;
    DialogTemplate dialog;
    dialog.Header(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER, 4, 250, 84,
                  L"MS Sans Serif", 8);
    dialog.Item(WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, 7, 62, 236, 13, kEditId, kEdit, L"");
    dialog.Item(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 193, 7, 50, 14, IDOK, kButton, L"OK");
    dialog.Item(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 193, 25, 50, 14, IDCANCEL, kButton, L"Cancel");
    dialog.Item(WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 7, 7, 178, 50, kPromptId, kStatic, L"");
    Prompt state{&prompt, &title, std::string()};
    HWND owner = formHwnd_ && IsWindowVisible(formHwnd_) ? formHwnd_ : nullptr;
    const INT_PTR result =
        DialogBoxIndirectParamA(instance_, dialog.Get(), owner, PromptProc, reinterpret_cast<LPARAM>(&state));
    return result == IDOK ? state.answer : std::string();
}

}  // namespace platform::win32
