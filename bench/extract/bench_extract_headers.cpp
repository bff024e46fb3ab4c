// bench_extract_headers.exe LIBRARY_FOLDER [SIZE_MIB]
// Recognises a sparse file of zeros (1 GiB unless told) with the archiver libraries found
// in LIBRARY_FOLDER, then makes the LZ signature test, and prints the bytes this process
// read on the way (GetProcessIoCounters) and the time taken.
#include <windows.h>
#include <winioctl.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>

#include "extract/extraction.h"
#include "extract/recognition.h"
#include "win32/extract/archiver_binding.h"
#include "win32/extract/extract_files.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fwprintf(stderr, L"usage: bench_extract_headers LIBRARY_FOLDER [SIZE_MIB]\n");
        return 2;
    }
    SetDllDirectoryW(argv[1]);
    const long long mib = argc > 2 ? std::wcstoll(argv[2], nullptr, 10) : 1024;

    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + L"dexalo-bench-large.bin";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD ignored = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER size;
    size.QuadPart = mib << 20;
    SetFilePointerEx(file, size, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);

    dexalo::win32::ArchiverBinding libraries;
    dexalo::win32::Win32ExtractFiles files;
    int present = 0;
    for (int i = 0; i < dexalo::kLibraryCount; ++i)
        if (libraries.GetVersion(static_cast<dexalo::Library>(i))) ++present;

    IO_COUNTERS before{}, after{};
    GetProcessIoCounters(GetCurrentProcess(), &before);
    const auto start = std::chrono::steady_clock::now();
    const dexalo::Recognition found = dexalo::Recognise(libraries, path);
    const std::string head = files.ReadHead(path, dexalo::kLzSignatureLength);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    GetProcessIoCounters(GetCurrentProcess(), &after);
    DeleteFileW(path.c_str());

    std::wprintf(L"file %lld MiB, libraries present %d, type %d (10 = LZ), LZ signature %ls\n", mib, present,
                 static_cast<int>(found.type), head == std::string(dexalo::kLzSignature) ? L"yes" : L"no");
    std::wprintf(L"read %llu bytes in %llu read calls, %.3f ms\n",
                 static_cast<unsigned long long>(after.ReadTransferCount - before.ReadTransferCount),
                 static_cast<unsigned long long>(after.ReadOperationCount - before.ReadOperationCount),
                 std::chrono::duration<double, std::milli>(elapsed).count());
    return 0;
}
