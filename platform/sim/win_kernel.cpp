// Global and local memory and file handles over the C library and POSIX
// descriptors.
#include "win32/win_kernel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>

#include "comm_objects.h"
#include "call_hook.h"
#include "kernel_faults.h"
#include "sim.h"
#include "win32/win_user.h"

namespace {

struct KernelState {
    std::recursive_mutex lock;
    std::set<void*> global;
    std::set<void*> local;
    // The control's blocks from the standard heap, kept as ~address so
    // that LeakSanitizer still sees a block the control lost as leaked.
    std::set<uintptr_t> heap;
    std::map<void*, SIZE_T> sizes;  // requested size of each block
    std::map<uintptr_t, int> files;  // handle value -> descriptor
    uintptr_t nextFile = 0x4000;
    std::map<std::string, int> faults;
    std::map<std::string, int> skips;  // calls that still pass before the faults
};

KernelState& KernelObjects() {
    static KernelState* s = [] {
        auto* st = new KernelState();
        sim::AddResetHook([st] {
            std::lock_guard<std::recursive_mutex> g(st->lock);
            st->faults.clear();
            st->skips.clear();
        });
        return st;
    }();
    return *s;
}

bool Fault(const char* fn) {
    sim::NoteCall(fn);
    auto& k = KernelObjects();
    std::lock_guard<std::recursive_mutex> g(k.lock);
    auto it = k.faults.find(fn);
    if (it == k.faults.end() || it->second == 0) return false;
    auto skip = k.skips.find(fn);
    if (skip != k.skips.end() && skip->second > 0) {
        --skip->second;
        return false;
    }
    if (it->second > 0) --it->second;
    return true;
}

void* Allocate(std::set<void*>& blocks, UINT flags, SIZE_T size) {
    void* p = (flags & GMEM_ZEROINIT) ? calloc(1, size ? size : 1) : malloc(size ? size : 1);
    if (!p) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    blocks.insert(p);
    KernelObjects().sizes[p] = size;
    return p;
}

void* Release(std::set<void*>& blocks, void* mem) {
    if (!mem) return nullptr;
    auto it = blocks.find(mem);
    if (it == blocks.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return mem;
    }
    blocks.erase(it);
    KernelObjects().sizes.erase(mem);
    free(mem);
    return nullptr;
}

DWORD ErrnoToWin(int e) {
    switch (e) {
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS: return ERROR_ACCESS_DENIED;
        case ENOSPC:
        case EDQUOT: return ERROR_DISK_FULL;
        default: return ERROR_INVALID_PARAMETER;
    }
}

int Descriptor(HANDLE h) {
    auto& k = KernelObjects();
    auto it = k.files.find(reinterpret_cast<uintptr_t>(h));
    return it == k.files.end() ? -1 : it->second;
}

// The descriptor behind a file handle for a read or write, or -1 with the
// error set (an injected fault, or a handle that is no open file).
int DescriptorFor(const char* function, HANDLE file) {
    if (Fault(function)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    int fd;
    {
        std::lock_guard<std::recursive_mutex> g(KernelObjects().lock);
        fd = Descriptor(file);
    }
    if (fd < 0) SetLastError(ERROR_INVALID_HANDLE);
    return fd;
}

}  // namespace

namespace sim {
std::string NativePath(const char* name) {
    std::string path = name ? name : "";
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

void FailKernel(const std::string& function, int count, int after) {
    std::lock_guard<std::recursive_mutex> g(KernelObjects().lock);
    KernelObjects().faults[function] = count;
    KernelObjects().skips[function] = after;
}
int LiveGlobalBlocks() { return static_cast<int>(KernelObjects().global.size()); }
int LiveLocalBlocks() { return static_cast<int>(KernelObjects().local.size()); }
int OpenFileHandles() { return static_cast<int>(KernelObjects().files.size()); }
int LiveHeapBlocks() {
    std::lock_guard<std::recursive_mutex> g(KernelObjects().lock);
    return static_cast<int>(KernelObjects().heap.size());
}
}  // namespace sim

extern "C" {

// Memory handles are the blocks' addresses; GMEM_MOVEABLE blocks never move.
HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T size) {
    std::lock_guard<std::recursive_mutex> g(KernelObjects().lock);
    if (Fault("GlobalAlloc")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return Allocate(KernelObjects().global, flags, size);
}

LPVOID WINAPI GlobalLock(HGLOBAL mem) {
    std::lock_guard<std::recursive_mutex> g(KernelObjects().lock);
    if (Fault("GlobalLock")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!mem || !KernelObjects().global.count(mem)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return mem;
}

BOOL WINAPI GlobalUnlock(HGLOBAL mem) {
    std::lock_guard<std::recursive_mutex> g(KernelObjects().lock);
    if (!mem || !KernelObjects().global.count(mem)) SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;  // not locked any more (or never was)
}

HGLOBAL WINAPI GlobalFree(HGLOBAL mem) {
    std::lock_guard<std::recursive_mutex> g(KernelObjects().lock);
    return Release(KernelObjects().global, mem);
}

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T size) {
    std::lock_guard<std::recursive_mutex> g(KernelObjects().lock);
    if (Fault("LocalAlloc")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return Allocate(KernelObjects().local, flags, size);
}

HLOCAL WINAPI LocalFree(HLOCAL mem) {
    std::lock_guard<std::recursive_mutex> g(KernelObjects().lock);
    return Release(KernelObjects().local, mem);
}

SIZE_T WINAPI LocalSize(HLOCAL mem) {
    std::lock_guard<std::recursive_mutex> g(KernelObjects().lock);
    if (Fault("LocalSize")) return 0;
    if (!mem || !KernelObjects().local.count(mem)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return KernelObjects().sizes[mem];
}

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD,
                          HANDLE) {
    std::lock_guard<std::recursive_mutex> g(KernelObjects().lock);
    if (Fault("CreateFileA")) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    int flags = O_CLOEXEC | O_NOCTTY;
    bool read = access & GENERIC_READ, write = access & GENERIC_WRITE;
    flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    switch (disposition) {
        case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
        case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
        case OPEN_EXISTING: break;
        case OPEN_ALWAYS: flags |= O_CREAT; break;
        case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
        default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    int fd = open(sim::NativePath(name).c_str(), flags, 0666);
    if (fd < 0) {
        SetLastError(ErrnoToWin(errno));
        return INVALID_HANDLE_VALUE;
    }
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        // A folder is not a file to open.
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    uintptr_t h = KernelObjects().nextFile;
    KernelObjects().nextFile += 4;
    KernelObjects().files[h] = fd;
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<HANDLE>(h);
}

// Overlapped requests complete at once; the OVERLAPPED record reports it.
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
    if (simcomm::Owns(file)) return simcomm::Write(file, buffer, count, written, overlapped);
    if (written) *written = 0;
    int fd = DescriptorFor("WriteFile", file);
    if (fd < 0) return FALSE;
    const char* p = static_cast<const char*>(buffer);
    DWORD done = 0;
    while (done < count) {
        ssize_t n = write(fd, p + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            SetLastError(ErrnoToWin(errno));
            if (written) *written = done;
            return FALSE;
        }
        done += static_cast<DWORD>(n);
    }
    if (written) *written = done;
    if (overlapped) {
        overlapped->Internal = 0;
        overlapped->InternalHigh = done;
    }
    return TRUE;
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped) {
    if (read) *read = 0;
    int fd = DescriptorFor("ReadFile", file);
    if (fd < 0) return FALSE;
    ssize_t n;
    do {
        n = ::read(fd, buffer, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        SetLastError(ErrnoToWin(errno));
        return FALSE;
    }
    if (read) *read = static_cast<DWORD>(n);
    if (overlapped) {
        overlapped->Internal = 0;
        overlapped->InternalHigh = static_cast<ULONG_PTR>(n);
    }
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    if (simcomm::Close(handle)) return TRUE;
    std::lock_guard<std::recursive_mutex> g(KernelObjects().lock);
    auto it = KernelObjects().files.find(reinterpret_cast<uintptr_t>(handle));
    if (it == KernelObjects().files.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    close(it->second);
    KernelObjects().files.erase(it);
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR name) {
    if (!name || unlink(sim::NativePath(name).c_str()) != 0) {
        SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
    int fd = DescriptorFor("SetFilePointer", file);
    if (fd < 0) return INVALID_SET_FILE_POINTER;
    int64_t offset = distanceHigh ? (static_cast<int64_t>(*distanceHigh) << 32) | static_cast<uint32_t>(distance)
                                  : static_cast<int64_t>(distance);
    const int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_END ? SEEK_END : SEEK_CUR;
    const off_t at = lseek(fd, static_cast<off_t>(offset), whence);
    if (at < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<int64_t>(at) >> 32);
    return static_cast<DWORD>(at);
}

BOOL WINAPI MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    if (Fault("MoveFileExA")) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!from || !to) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string source = sim::NativePath(from), target = sim::NativePath(to);
    struct stat st {};
    if (!(flags & MOVEFILE_REPLACE_EXISTING) && stat(target.c_str(), &st) == 0) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    if (rename(source.c_str(), target.c_str()) != 0) {
        SetLastError(ErrnoToWin(errno));
        return FALSE;
    }
    return TRUE;
}

namespace {
FILETIME FromTimespec(const struct timespec& t) {
    // 100 ns intervals since 1601.
    const unsigned long long v =
        (static_cast<unsigned long long>(t.tv_sec) + 11644473600ULL) * 10000000ULL + t.tv_nsec / 100;
    return FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
}
}  // namespace

BOOL WINAPI GetFileAttributesExA(LPCSTR name, GET_FILEEX_INFO_LEVELS level, LPVOID info) {
    struct stat st {};
    if (!name || !info || level != GetFileExInfoStandard) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (stat(sim::NativePath(name).c_str(), &st) != 0) {
        SetLastError(ErrnoToWin(errno));
        return FALSE;
    }
    auto* d = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(info);
    d->dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    d->ftCreationTime = FromTimespec(st.st_ctim);
    d->ftLastAccessTime = FromTimespec(st.st_atim);
    d->ftLastWriteTime = FromTimespec(st.st_mtim);
    d->nFileSizeHigh = static_cast<DWORD>(static_cast<unsigned long long>(st.st_size) >> 32);
    d->nFileSizeLow = static_cast<DWORD>(st.st_size);
    return TRUE;
}

BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info) {
    std::lock_guard<std::recursive_mutex> g(KernelObjects().lock);
    auto it = KernelObjects().files.find(reinterpret_cast<uintptr_t>(file));
    struct stat st {};
    if (it == KernelObjects().files.end() || !info) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (fstat(it->second, &st) != 0) {
        SetLastError(ErrnoToWin(errno));
        return FALSE;
    }
    info->dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    info->ftCreationTime = FromTimespec(st.st_ctim);
    info->ftLastAccessTime = FromTimespec(st.st_atim);
    info->ftLastWriteTime = FromTimespec(st.st_mtim);
    info->dwVolumeSerialNumber = static_cast<DWORD>(st.st_dev);
    info->nFileSizeHigh = static_cast<DWORD>(static_cast<unsigned long long>(st.st_size) >> 32);
    info->nFileSizeLow = static_cast<DWORD>(st.st_size);
    info->nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
    info->nFileIndexHigh = static_cast<DWORD>(static_cast<unsigned long long>(st.st_ino) >> 32);
    info->nFileIndexLow = static_cast<DWORD>(st.st_ino);
    return TRUE;
}

DWORD WINAPI GetFileType(HANDLE file) {
    if (simcomm::Owns(file)) return simcomm::IsPort(file) ? FILE_TYPE_CHAR : FILE_TYPE_UNKNOWN;
    std::lock_guard<std::recursive_mutex> g(KernelObjects().lock);
    int fd = Descriptor(file);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FILE_TYPE_UNKNOWN;
    }
    if (S_ISREG(st.st_mode)) return FILE_TYPE_DISK;
    if (S_ISCHR(st.st_mode)) return FILE_TYPE_CHAR;
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return FILE_TYPE_PIPE;
    return FILE_TYPE_UNKNOWN;
}

// The standard heap as the control sees it: the control library is linked
// with its calloc and free bound here (--wrap), so that a test can fail an
// allocation ("calloc") and count the blocks the control holds.
void* __wrap_calloc(size_t count, size_t size) {
    std::lock_guard<std::recursive_mutex> g(KernelObjects().lock);
    if (Fault("calloc")) {
        errno = ENOMEM;
        return nullptr;
    }
    void* p = calloc(count, size);
    if (p) KernelObjects().heap.insert(~reinterpret_cast<uintptr_t>(p));
    return p;
}

void __wrap_free(void* p) {
    if (!p) return;
    {
        std::lock_guard<std::recursive_mutex> g(KernelObjects().lock);
        KernelObjects().heap.erase(~reinterpret_cast<uintptr_t>(p));
    }
    free(p);
}

}  // extern "C"
