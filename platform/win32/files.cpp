// The Windows directory, file deletion, the folder test and the OEM text
// conversion of the legacy import.
#include "platform/win32/windows_api.h"

namespace kvi::platform {

uint32_t GetWindowsDirectory(char* buffer, uint32_t size) { return ::GetWindowsDirectoryA(buffer, size); }

// OpenFile with OF_DELETE, as the library has always deleted its files
// (paths up to 127 characters, which every path under the Windows directory
// that the library builds is).
int DeleteFile(const char* path) {
    if (!path || !*path) return 0;
    OFSTRUCT info;
    return ::OpenFile(path, &info, OF_DELETE) != HFILE_ERROR ? 1 : 0;
}

FolderState QueryFolder(const char* path) {
    if (!path || !*path) return FolderState::kNoFolder;
    const DWORD attributes = ::GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FolderState::kFolder : FolderState::kNoFolder;
    const DWORD error = ::GetLastError();
    // A name longer than the system allows cannot name anything either.
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_FILENAME_EXCED_RANGE
               ? FolderState::kNoFolder
               : FolderState::kUnknown;
}

// OemToCharA converts in place when both pointers are the same.
void OemToAnsi(const char* src, char* dst) {
    if (!src || !dst) return;
    ::OemToCharA(src, dst);
}

}  // namespace kvi::platform
