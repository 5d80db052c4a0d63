// The drive's seek-penalty answer, and the default number of workers.
#include "cli/default_jobs.h"
#include "jobs/long_path.h"
#include <windows.h>
#include <winioctl.h>
#include <wchar.h>

constexpr DWORD kVolumeChars = 1024;

SeekAnswer drive_seek_answer(const wchar_t* path)
{
    static wchar_t call[kLongPathChars];
    wchar_t volume[kVolumeChars];
    wchar_t device[kVolumeChars];
    if (!make_call_path(path, L"", call) || !GetVolumePathNameW(call, volume, kVolumeChars))
        return SeekUnknown;
    volume[kVolumeChars - 1] = L'\0';
    if (GetDriveTypeW(volume) == DRIVE_REMOTE)
        return SeekPenalty;
    // The volume's device: "\\?\Volume{...}" without its closing separator,
    // or "\\.\D:" for a drive letter when the volume has no such name.
    if (GetVolumeNameForVolumeMountPointW(volume, device, kVolumeChars)) {
        device[kVolumeChars - 1] = L'\0';
        size_t len = wcslen(device);
        if (len > 0 && device[len - 1] == L'\\')
            device[len - 1] = L'\0';
    } else if (volume[0] != L'\0' && volume[1] == L':') {
        wcscpy(device, L"\\\\.\\X:");
        device[4] = volume[0];
    } else {
        return SeekUnknown;
    }
    // No access is needed for a property query, so no rights either.
    HANDLE drive = CreateFileW(device, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (drive == INVALID_HANDLE_VALUE)
        return SeekUnknown;
    STORAGE_PROPERTY_QUERY query = {};
    query.PropertyId = StorageDeviceSeekPenaltyProperty;
    query.QueryType = PropertyStandardQuery;
    DEVICE_SEEK_PENALTY_DESCRIPTOR answer = {};
    DWORD got = 0;
    BOOL asked = DeviceIoControl(drive, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &answer, sizeof answer,
                                 &got, nullptr);
    CloseHandle(drive);
    if (!asked || got < sizeof answer)
        return SeekUnknown;
    return answer.IncursSeekPenalty ? SeekPenalty : NoSeekPenalty;
}

int default_jobs(const SeekAnswer* answers, int count, int processors, int limit)
{
    if (count <= 0 || processors <= 1)
        return 1;
    for (int i = 0; i < count; ++i)
        if (answers[i] != NoSeekPenalty)
            return 1;
    return processors < limit ? processors : limit;
}
