// Identifiers shared by the resource script and the code.
#pragma once

#define IDI_KESTRIN              2     // icon group
#define IDR_VERSION              1
#define IDR_MANIFEST             1

// MainDialog controls
#define IDC_START                1     // Start / Pause / Resume (IDOK)
#define IDC_EXIT                 2     // Exit (IDCANCEL)
#define IDC_ADD                  101   // "Add Files/Folders"
#define IDC_LIST                 102   // "List Files"
#define IDC_REMOVE               103   // "Remove Hashes"
#define IDC_REWRITE              104   // "Rewrite Hashes"
#define IDC_SHOW_ALTERED         105   // "Show Altered Files"
#define IDC_CREATE               106   // "Create Hashes"
#define IDC_ALTERED_LABEL        201   // "Altered Files:"
#define IDC_WITHHASH_LABEL       202   // "Files with Hash:"
#define IDC_WITHOUT_LABEL        203   // "Files without Hash:"
#define IDC_STATUS_LINE          204   // StatusLine
#define IDC_PATH                 301   // path field
#define IDC_ALTERED_LIST         401   // AlteredList
#define IDC_WITHHASH_LIST        402   // WithHashList
#define IDC_WITHOUT_LIST         403   // WithoutHashList
#define IDC_FRAME_OUTER          501
#define IDC_FRAME_UPPER          502
#define IDC_FRAME_LOWER          503
#define IDC_STATUS_BAR           601

#define IDT_PROGRESS             1     // the one-second progress timer
