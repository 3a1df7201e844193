// A stand-in install program for the tests. It is started without a command line, so it
// records each start in "starts.txt" beside itself and then runs until the test sets the
// named event (or a minute passes).
#include "base/Win.h"

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring log(path, length);
    log = log.substr(0, log.find_last_of(L'\\') + 1) + L"starts.txt";
    HANDLE file = ::CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ::WriteFile(file, "start\n", 6, &written, nullptr);
    ::CloseHandle(file);

    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, L"GlimmerlyTestSleeperRelease");
    ::WaitForSingleObject(release, 60000);
    ::CloseHandle(release);
    return 0;
}
