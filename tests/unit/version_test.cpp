// Reads the version resource and the manifest of the shipped UninstallPX.exe staged in the
// sandbox (the PE32 exe on either arm): the version through the version library, the manifest
// through the loader's own activation context, as the shell and the system see them.
#include <doctest.h>

#include "sandbox/common/Layout.h"

#include <windows.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<BYTE> VersionBlock() {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(SANDBOX_SHIPPED_UNINSTALLER, &ignored);
    std::vector<BYTE> block(size);
    if (size == 0 || !GetFileVersionInfoA(SANDBOX_SHIPPED_UNINSTALLER, 0, size, block.data()))
        block.clear();
    return block;
}

std::string VersionString(std::vector<BYTE>& block, const char* name) {
    std::string path = std::string("\\StringFileInfo\\080904E4\\") + name;
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length))
        return "<missing>";
    return std::string(value, length > 0 ? length - 1 : 0);
}

std::string ManifestText() {
    HMODULE module = LoadLibraryExA(SANDBOX_SHIPPED_UNINSTALLER, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr)
        return {};
    std::string text;
    if (HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24))) {
        const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
        text.assign(data, SizeofResource(module, found));
    }
    FreeLibrary(module);
    return text;
}

// The activation context the loader makes from the executable's manifest resource 1.
struct ManifestContext {
    HANDLE handle = INVALID_HANDLE_VALUE;
    ManifestContext() {
        ACTCTXA context = {};
        context.cbSize = sizeof context;
        context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
        context.lpSource = SANDBOX_SHIPPED_UNINSTALLER;
        context.lpResourceName = MAKEINTRESOURCEA(1);
        handle = CreateActCtxA(&context);
    }
    ~ManifestContext() {
        if (handle != INVALID_HANDLE_VALUE)
            ReleaseActCtx(handle);
    }
    std::vector<BYTE> Query(ULONG infoClass) const {
        SIZE_T needed = 0;
        QueryActCtxW(0, handle, nullptr, infoClass, nullptr, 0, &needed);
        std::vector<BYTE> data(needed);
        if (needed == 0 ||
            !QueryActCtxW(0, handle, nullptr, infoClass, data.data(), needed, &needed))
            data.clear();
        return data;
    }
};

std::string GuidText(const GUID& guid) {
    char text[40];
    wsprintfA(text, "{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", guid.Data1, guid.Data2,
              guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
              guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

const std::set<std::string> supportedSystems = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}", // Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", // 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", // 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", // 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", // 10 and 11
};

} // namespace

TEST_CASE("the version resource names the maker, the product and one version, in UK English") {
    std::vector<BYTE> block = VersionBlock();
    REQUIRE_FALSE(block.empty());

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    REQUIRE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    REQUIRE(length == sizeof(VS_FIXEDFILEINFO));
    CHECK(fixed->dwSignature == 0xFEEF04BD);
    CHECK(fixed->dwFileVersionMS == MAKELONG(0, 1)); // 1.0
    CHECK(fixed->dwFileVersionLS == 0);              // .0.0
    CHECK(fixed->dwProductVersionMS == fixed->dwFileVersionMS);
    CHECK(fixed->dwProductVersionLS == fixed->dwFileVersionLS);
    CHECK((fixed->dwFileFlags & fixed->dwFileFlagsMask) == 0); // not debug, not pre-release
    CHECK(fixed->dwFileOS == VOS_NT_WINDOWS32);
    CHECK(fixed->dwFileType == VFT_APP);

    WORD* translation = nullptr;
    REQUIRE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                           reinterpret_cast<void**>(&translation), &length));
    REQUIRE(length == 4); // exactly one language
    CHECK(translation[0] == 0x0809);
    CHECK(translation[1] == 1252);

    CHECK(VersionString(block, "CompanyName") == "Corvenhalde");
    CHECK(VersionString(block, "ProductName") == "Plendrax");
    CHECK(VersionString(block, "FileDescription") == "Plendrax Uninstall");
    CHECK(VersionString(block, "OriginalFilename") == "UninstallPX.exe");
    // The texts say what the numbers say.
    CHECK(VersionString(block, "FileVersion") == "1.0.0.0");
    CHECK(VersionString(block, "ProductVersion") == "1.0.0.0");
}

TEST_CASE("the manifest runs the uninstaller at the user's level on every Windows from Vista") {
    SUBCASE("as the loader reads it") {
        ManifestContext context;
        REQUIRE(context.handle != INVALID_HANDLE_VALUE); // the manifest parses

        std::vector<BYTE> runLevel = context.Query(RunlevelInformationInActivationContext);
        REQUIRE(runLevel.size() >= sizeof(ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION));
        const auto* level =
            reinterpret_cast<const ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION*>(runLevel.data());
        CHECK(level->RunLevel == ACTCTX_RUN_LEVEL_AS_INVOKER);
        CHECK(level->UiAccess == 0);

        std::vector<BYTE> compatibility =
            context.Query(CompatibilityInformationInActivationContext);
        REQUIRE(compatibility.size() >= sizeof(DWORD));
        DWORD count = *reinterpret_cast<const DWORD*>(compatibility.data());
        // Newer systems add MaxVersionTested to each element, which moves them all.
        struct TestedElement {
            GUID Id;
            ACTCTX_COMPATIBILITY_ELEMENT_TYPE Type;
            ULONGLONG MaxVersionTested;
        };
        size_t offset = 4, stride = sizeof(COMPATIBILITY_CONTEXT_ELEMENT);
        if (compatibility.size() == 8 + count * sizeof(TestedElement))
            offset = 8, stride = sizeof(TestedElement);
        CAPTURE(compatibility.size());
        REQUIRE(compatibility.size() == offset + count * stride);
        std::set<std::string> declared;
        for (DWORD i = 0; i < count; ++i) {
            const auto* element = reinterpret_cast<const COMPATIBILITY_CONTEXT_ELEMENT*>(
                compatibility.data() + offset + i * stride);
            CHECK(element->Type == ACTCTX_COMPATIBILITY_ELEMENT_TYPE_OS);
            declared.insert(GuidText(element->Id));
        }
        CHECK(count == supportedSystems.size());
        CHECK(declared == supportedSystems);
    }
    SUBCASE("as text") {
        std::string text = ManifestText();
        REQUIRE_FALSE(text.empty());
        CHECK(text.find("level=\"asInvoker\"") != std::string::npos);
        CHECK(text.find("uiAccess=\"false\"") != std::string::npos);
        CHECK(text.find(">true</dpiAware>") != std::string::npos);
        // Classic controls: no dependency on Common Controls 6.
        CHECK(text.find("<dependency") == std::string::npos);
        for (const std::string& id : supportedSystems)
            CHECK(text.find("<supportedOS Id=\"" + id + "\"/>") != std::string::npos);
    }
}
