// The exports as other programs see them: the calling convention that the
// installer and rundll32 use, and the build record's bytes.
#include <doctest.h>

#include <cstring>
#include <string>

#include "harness.h"

// Calls `entry` with `count` 32-bit arguments pushed as a __stdcall caller
// pushes them, and says how many bytes the callee left on the stack (a
// __cdecl callee leaves its arguments there; the installer's and rundll32's
// own wrappers would hide that until the stack ran out).
extern "C" UINT CallCheckingStack(FARPROC entry, const DWORD_PTR* args, int count, int* leftBytes);

namespace {
const char* const kHandlers[] = {"OnBegin",          "OnFirstBefore",  "OnFirstAfter",   "OnMainPrologue",
                                 "OnMaintBefore",    "OnMaintAfter",   "OnRemovePrologue", "OnRemoveBefore",
                                 "OnRemoveAfter",    "OnExecuteStub",  "OnInstallFinish"};
}  // namespace

#if defined(__i386__)
asm(R"(
    .text
    .globl _CallCheckingStack
_CallCheckingStack:
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    movl %esp, %esi
    movl 12(%ebp), %edx
    movl 16(%ebp), %ecx
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%edx,%ecx,4)
    jmp 1b
2:  call *8(%ebp)
    movl %esi, %ecx
    subl %esp, %ecx
    movl 20(%ebp), %edx
    movl %ecx, (%edx)
    movl %esi, %esp
    popl %esi
    popl %ebp
    ret
)");
#else
// One calling convention on x64: the caller owns the stack.
extern "C" UINT CallCheckingStack(FARPROC entry, const DWORD_PTR* args, int count, int* leftBytes) {
    *leftBytes = 0;
    if (count == 1) return reinterpret_cast<UINT(WINAPI*)(MSIHANDLE)>(reinterpret_cast<void*>(entry))(
                        static_cast<MSIHANDLE>(args[0]));
    reinterpret_cast<void(CALLBACK*)(HWND, HINSTANCE, LPSTR, int)>(reinterpret_cast<void*>(entry))(
        reinterpret_cast<HWND>(args[0]), reinterpret_cast<HINSTANCE>(args[1]), reinterpret_cast<LPSTR>(args[2]),
        static_cast<int>(args[3]));
    return 0;
}
#endif

TEST_CASE("every export returns with the stack as its caller left it") {
    for (const char* name : kHandlers) {
        CAPTURE(name);
        TestPackage pkg;  // an empty package: each handler stops early, as it must
        TamberDll dll;
        FARPROC entry = dll.Find(name);
        REQUIRE(bool(entry));
        DWORD_PTR args[] = {pkg.Session()};
        int left = -1;
        CallCheckingStack(entry, args, 1, &left);
        CHECK(left == 0);
    }
    // rundll32's entry: (HWND, HINSTANCE, LPSTR, int), with no client installed.
    TamberDll dll;
    FARPROC entry = dll.Find("SetServicesStartTypeAuto2");
    REQUIRE(bool(entry));
    char commandLine[] = "";
    DWORD_PTR args[] = {0, 0, reinterpret_cast<DWORD_PTR>(commandLine), SW_SHOWDEFAULT};
    int left = -1;
    CallCheckingStack(entry, args, 4, &left);
    CHECK(left == 0);
}

// Other programs read the record by its offsets, whatever their own width.
TEST_CASE("the build record reads the same from either build") {
    TamberDll dll;
    auto* record = reinterpret_cast<const unsigned char*>(dll.Find("__tamber_version_info"));
    REQUIRE(record != nullptr);
    DWORD size = 0;
    WORD numbers[4] = {};
    std::memcpy(&size, record, sizeof size);
    std::memcpy(numbers, record + 4, sizeof numbers);
    auto text = [&](size_t offset, size_t room) {
        const char* at = reinterpret_cast<const char*>(record + offset);
        return std::string(at, strnlen(at, room));
    };
    CHECK(size == 100);
    CHECK(text(12, 16) == TAMBER_EXPECTED_VERSION);
    CHECK(std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." + std::to_string(numbers[2]) ==
          TAMBER_EXPECTED_VERSION);
    CHECK(numbers[3] == 0);
    std::string built = text(28, 24);  // "Mmm dd yyyy hh:mm:ss"
    CHECK(built.size() == 20);
    CHECK(built.substr(14, 1) + built.substr(17, 1) == "::");
    CHECK(text(52, 48) == TAMBER_EXPECTED_REVISION);
}
