// shell --install / --uninstall: Explorer's context menu entries on files
// and folders, for the current user only (the Classes key under
// HKEY_CURRENT_USER\Software, which needs no administrator): "Check with Kestrin", "Update
// digests with Kestrin" (each in a console window that stays open with the
// summary until a key is pressed: --pause) and "Open in Kestrin" (the
// window program beside kestrin-cli, with the item as its argument).
//
// Uninstall deletes exactly the verb keys install writes, then any of their
// parent keys that are left empty (install may have made them: an empty
// key tells Explorer nothing).
#include "cli/cli_state.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/console_out.h"
#include "jobs/long_path.h"
#include <windows.h>
#include <wchar.h>

static bool g_install;

// The two kinds of item, and the verbs on each.
static const wchar_t* const kKinds[] = {L"Software\\Classes\\*", L"Software\\Classes\\Directory"};
struct Verb {
    const wchar_t* key;
    const wchar_t* label;
    const wchar_t* command;   // kestrin-cli's command, or null: the window program
};
static const Verb kVerbs[] = {
    {L"Kestrin.Check", L"Check with Kestrin", L"check"},
    {L"Kestrin.Update", L"Update digests with Kestrin", L"update"},
    {L"Kestrin.Open", L"Open in Kestrin", nullptr},
};

bool prepare_shell()
{
    if (g_cli.operand_count != 1 ||
        (wcscmp(g_cli.operands[0], L"--install") != 0 && wcscmp(g_cli.operands[0], L"--uninstall") != 0)) {
        err_text(L"kestrin-cli: shell takes --install or --uninstall" CLI_EOL L"Try 'kestrin-cli --help'." CLI_EOL);
        return false;
    }
    g_install = wcscmp(g_cli.operands[0], L"--install") == 0;
    return true;
}

static bool set_string(HKEY key, const wchar_t* name, const wchar_t* value)
{
    return RegSetValueExW(key, name, 0, REG_SZ, (const BYTE*)value, (DWORD)((wcslen(value) + 1) * sizeof(wchar_t))) ==
           ERROR_SUCCESS;
}

// KIND\shell\VERB with its label and icon, and VERB\command.
static bool write_verb(const wchar_t* kind, const Verb* verb, const wchar_t* icon, const wchar_t* command)
{
    wchar_t path[512];
    _snwprintf(path, 511, L"%ls\\shell\\%ls", kind, verb->key);
    path[511] = L'\0';
    HKEY key = nullptr, sub = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = set_string(key, nullptr, verb->label) && set_string(key, L"Icon", icon) &&
              RegCreateKeyExW(key, L"command", 0, nullptr, 0, KEY_WRITE, nullptr, &sub, nullptr) == ERROR_SUCCESS &&
              set_string(sub, nullptr, command);
    if (sub)
        RegCloseKey(sub);
    RegCloseKey(key);
    return ok;
}

static bool install()
{
    static wchar_t cli[kLongPathChars], window[kLongPathChars];
    DWORD got = GetModuleFileNameW(nullptr, cli, kLongPathChars);
    if (got == 0 || got >= kLongPathChars) {
        err_message(L"cannot find kestrin-cli's own path");
        return false;
    }
    wcscpy(window, cli);
    wchar_t* slash = wcsrchr(window, L'\\');
    if (slash)
        wcscpy(slash + 1, L"Kestrin.exe");
    bool have_window = slash && GetFileAttributesW(window) != INVALID_FILE_ATTRIBUTES;

    static wchar_t icon_text[kLongPathChars + 8], command_text[kLongPathChars * 2];
    bool ok = true;
    for (const wchar_t* kind : kKinds) {
        for (const Verb& verb : kVerbs) {
            if (!verb.command && !have_window)
                continue;
            const wchar_t* program = verb.command ? cli : window;
            WideText icon, command;
            text_begin(&icon, icon_text, kLongPathChars + 8);
            text_add(&icon, program);
            text_add(&icon, L",0");
            text_begin(&command, command_text, kLongPathChars * 2);
            // The program always in quotes, as Explorer's own commands are.
            text_add(&command, L"\"");
            text_add(&command, program);
            text_add(&command, L"\"");
            if (verb.command) {
                text_add(&command, L" ");
                text_add(&command, verb.command);
                text_add(&command, L" --pause --");
            }
            // Explorer puts the item's full path for %1; the quotes keep
            // blanks in it.
            text_add(&command, L" \"%1\"");
            if (icon.overflow || command.overflow || !write_verb(kind, &verb, icon.text, command.text))
                ok = false;
        }
    }
    if (!ok) {
        err_message(L"cannot write the menu entries under HKEY_CURRENT_USER\\Software\\Classes");
        return false;
    }
    out_text(L"Explorer's menu on files and folders now has \"Check with Kestrin\" and \"Update digests with "
             L"Kestrin\"" CLI_EOL);
    out_text(have_window ? L"and \"Open in Kestrin\"." CLI_EOL
                         : L"(not \"Open in Kestrin\": Kestrin.exe is not beside kestrin-cli.exe)." CLI_EOL);
    return true;
}

// Deletes HKCU\path when it has neither values nor subkeys.
static void delete_if_empty(const wchar_t* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    DWORD subkeys = 1, values = 1;
    LONG r = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                              nullptr, nullptr);
    RegCloseKey(key);
    if (r == ERROR_SUCCESS && subkeys == 0 && values == 0)
        RegDeleteKeyW(HKEY_CURRENT_USER, path);
}

static bool uninstall()
{
    bool ok = true;
    wchar_t path[512];
    for (const wchar_t* kind : kKinds) {
        for (const Verb& verb : kVerbs) {
            _snwprintf(path, 511, L"%ls\\shell\\%ls\\command", kind, verb.key);
            path[511] = L'\0';
            LONG r = RegDeleteKeyW(HKEY_CURRENT_USER, path);
            if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND)
                ok = false;
            *wcsrchr(path, L'\\') = L'\0';
            r = RegDeleteKeyW(HKEY_CURRENT_USER, path);
            if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND)
                ok = false;
        }
        _snwprintf(path, 511, L"%ls\\shell", kind);
        path[511] = L'\0';
        delete_if_empty(path);
        delete_if_empty(kind);
    }
    // Always there on Windows; in a fresh profile (a new Wine prefix) it
    // may be install's own.
    delete_if_empty(L"Software\\Classes");
    if (!ok) {
        err_message(L"cannot remove every menu entry under HKEY_CURRENT_USER\\Software\\Classes");
        return false;
    }
    out_text(L"Kestrin's entries are gone from Explorer's menu." CLI_EOL);
    return true;
}

void run_shell()
{
    if (!(g_install ? install() : uninstall()))
        g_cli.failed = true;
    out_flush();
}

void pause_for_key()
{
    if (!g_cli.in_console || !g_cli.err_console)
        return;
    err_text(CLI_EOL L"Press any key to close this window." CLI_EOL);
    FlushConsoleInputBuffer(g_cli.in);
    INPUT_RECORD record;
    DWORD read = 0;
    while (ReadConsoleInputW(g_cli.in, &record, 1, &read) && read == 1)
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown)
            return;
}
