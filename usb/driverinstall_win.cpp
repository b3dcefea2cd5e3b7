// WinUSB driver installation through newdev.dll. Windows only; Linux builds the udev variant.
#include "driverinstall.h"

#include <iostream>
#include <string>
#include <windows.h>

namespace {

using DiInstallDriverWFn = BOOL(WINAPI *)(HWND, LPCWSTR, DWORD, PBOOL);

constexpr DWORD kErrorAccessDenied = 5;
constexpr DWORD kErrorNoMoreItems = 259;

// newdev.dll is loaded once before main and unloaded at exit. Nothing writes these after
// construction, so the worker threads read them without locking.
class NewDevLibrary
{
public:
    NewDevLibrary()
    {
        module_ = LoadLibraryW(L"newdev.dll");
        if (!module_) {
            std::cerr << "Can't load library newdev.dll\n" << std::flush;
            return;
        }
        install_ = reinterpret_cast<DiInstallDriverWFn>(
            reinterpret_cast<void *>(GetProcAddress(module_, "DiInstallDriverW")));
        if (!install_)
            std::cerr << "Can't resolve DiInstallDriverW()\n" << std::flush;
    }
    NewDevLibrary(const NewDevLibrary &) = delete;
    NewDevLibrary &operator=(const NewDevLibrary &) = delete;
    ~NewDevLibrary()
    {
        if (module_)
            FreeLibrary(module_);
    }

    HMODULE module() const { return module_; }
    DiInstallDriverWFn install() const { return install_; }

private:
    HMODULE module_ = nullptr;
    DiInstallDriverWFn install_ = nullptr;
};

const NewDevLibrary newDev;

std::wstring infPath()
{
    const DWORD length = GetCurrentDirectoryW(0, nullptr);
    std::wstring path(length, L'\0');
    const DWORD written = GetCurrentDirectoryW(length, path.data());
    path.resize(written);
    return path + L"\\driver\\lumexor_norby_series.inf";
}

std::string systemMessage(DWORD code)
{
    char *buffer = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
        | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS;
    FormatMessageA(flags, newDev.module(), code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    std::string text = buffer ? buffer : "";
    LocalFree(buffer);
    return text;
}

} // namespace

int install_winusb_driver()
{
    const std::wstring path = infPath();
    std::wclog << L"INF: " << path << std::endl;

    if (newDev.install() && newDev.install()(nullptr, path.c_str(), 0, nullptr))
        return 0;

    const DWORD code = GetLastError();
    const std::string text = systemMessage(code);
    if (code == kErrorNoMoreItems)
        return -1;
    std::cerr << "Can't install WinUSB Driver: " << static_cast<unsigned long>(code)
              << ", text: " << text << std::endl;
    return code == kErrorAccessDenied ? -2 : -1;
}

std::string usb_access_hint(int, int)
{
    return {};
}
