#include "update/small_file.h"

#include "framework/gbk_text.h"
#include "framework/scoped_handle.h"

bool ReadSmallFile(const std::string& path, size_t limit, std::string* bytes, DWORD* error) {
    DWORD ignored = 0;
    DWORD& failure = error != nullptr ? *error : ignored;
    failure = ERROR_SUCCESS;
    ScopedKernelHandle file(::CreateFileW(GbkToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        failure = ::GetLastError();
        return false;
    }
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.Get(), &size)) {
        failure = ::GetLastError();
        return false;
    }
    if (static_cast<unsigned long long>(size.QuadPart) > limit) {
        failure = ERROR_FILE_TOO_LARGE;
        return false;
    }
    bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
    if (bytes->empty()) return true;
    DWORD read = 0;
    if (!::ReadFile(file.Get(), &(*bytes)[0], static_cast<DWORD>(bytes->size()), &read, nullptr)) {
        failure = ::GetLastError();
        return false;
    }
    if (read != bytes->size()) {
        failure = ERROR_READ_FAULT;
        return false;
    }
    return true;
}
