// Settings and registration services of Win32Os against the real system:
// INI files, the per-user registry setting and type-library registration.
// The test tidies the registry with RegDeleteTreeA (Vista on); the product
// itself is built for Windows 2000 headers.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstring>

#include "platform/text.h"
#include "platform/win32/os_win32.h"
#include "win_test_support.h"

namespace {

using platform::win32::Win32Os;
using wintest::ReadBytes;
using wintest::WriteBytes;

constexpr uint32_t kIniBuffer = 1024;

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// ---- INI files ----------------------------------------------------------------

class IniFileTest : public wintest::ScratchTest {
protected:
    void SetUp() override {
        wintest::ScratchTest::SetUp();
        ini = At("TOVASK.INI");
        WriteBytes(ini, "[Tovask]\r\nVer=1.30\r\nBlank=\r\nLong=" + std::string(2000, 'x') + "\r\n[WEB]\r\n"
                        "UPDATEONLINE=old-id\r\n");
    }
    // The value read with the installer's buffer and default.
    std::string Read(const std::string& section, const std::string& key, const std::string& path,
                     uint32_t* count = nullptr) {
        std::string buffer;
        const uint32_t n = os.GetPrivateProfileStringA(section, key, "?", buffer, kIniBuffer, path);
        if (count) *count = n;
        return buffer.substr(0, n);
    }
    Win32Os os;
    std::string ini;
};

TEST_F(IniFileTest, PresentValueIsReturnedWithItsLength) {
    uint32_t n = 0;
    EXPECT_EQ(Read("Tovask", "Ver", ini, &n), "1.30");
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(Read("tovask", "VER", ini), "1.30") << "section and key names ignore case";
}

TEST_F(IniFileTest, EmptyValueGivesZeroNotTheDefault) {
    std::string buffer(kIniBuffer, '#');
    EXPECT_EQ(os.GetPrivateProfileStringA("Tovask", "Blank", "?", buffer, kIniBuffer, ini), 0u);
    EXPECT_EQ(buffer[0], '\0');
}

TEST_F(IniFileTest, MissingKeySectionOrFileGivesTheDefault) {
    uint32_t n = 0;
    EXPECT_EQ(Read("Tovask", "Missing", ini, &n), "?");
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(Read("Nowhere", "Ver", ini), "?");
    EXPECT_EQ(Read("Tovask", "Ver", At("Sys\\TOVASK.INI"), &n), "?");
    EXPECT_EQ(n, 1u);
}

TEST_F(IniFileTest, OverLongValueIsCutToTheBuffer) {
    std::string buffer;
    const uint32_t n = os.GetPrivateProfileStringA("Tovask", "Long", "?", buffer, kIniBuffer, ini);
    EXPECT_EQ(n, kIniBuffer - 1);
    EXPECT_EQ(buffer.substr(0, n), std::string(kIniBuffer - 1, 'x'));
    EXPECT_EQ(buffer[n], '\0');
}

TEST_F(IniFileTest, WriteCreatesSectionAndKeyInANewFile) {
    const std::string fresh = At("NEW.INI");
    EXPECT_NE(os.WritePrivateProfileStringA("WEB", "UPDATEONLINE", "web-7", fresh), 0);
    EXPECT_EQ(Read("WEB", "UPDATEONLINE", fresh), "web-7");
    const std::string text = ReadBytes(fresh);
    EXPECT_NE(text.find("[WEB]"), std::string::npos) << text;
    EXPECT_NE(text.find("UPDATEONLINE=web-7"), std::string::npos) << text;
}

TEST_F(IniFileTest, WriteAddsASectionAndReplacesAValueOnce) {
    EXPECT_NE(os.WritePrivateProfileStringA("WEB", "UPDATEONLINE", "new-id", ini), 0);
    EXPECT_NE(os.WritePrivateProfileStringA("Extra", "Key", "value", ini), 0);
    EXPECT_EQ(Read("WEB", "UPDATEONLINE", ini), "new-id");
    EXPECT_EQ(Read("Extra", "Key", ini), "value");
    EXPECT_EQ(Read("Tovask", "Ver", ini), "1.30") << "other values must stay";
    const std::string text = ReadBytes(ini);
    EXPECT_EQ(Count(text, "UPDATEONLINE="), 1u) << text;
    EXPECT_EQ(text.find("old-id"), std::string::npos) << text;
}

TEST_F(IniFileTest, WriteToAReadOnlyFileFails) {
    if (!wintest::ReadOnlyIsEnforced(Folder())) GTEST_SKIP() << "read-only files are writable here (Wine as root)";
    ASSERT_NO_FATAL_FAILURE(wintest::SetAttributes(ini, FILE_ATTRIBUTE_READONLY));
    const std::string before = ReadBytes(ini);
    EXPECT_EQ(os.WritePrivateProfileStringA("WEB", "UPDATEONLINE", "new-id", ini), 0);
    EXPECT_EQ(ReadBytes(ini), before);
}

TEST_F(IniFileTest, WriteToAnImpossiblePathFails) {
    EXPECT_EQ(os.WritePrivateProfileStringA("WEB", "UPDATEONLINE", "x", At("Missing\\Sys\\TOVASK.INI")), 0);
    EXPECT_FALSE(wintest::Exists(At("Missing")));
}

// ---- Per-user application setting -------------------------------------------------

class AppSettingTest : public ::testing::Test {
protected:
    void SetUp() override {
        application = "LuWinTest" + std::to_string(GetCurrentProcessId());
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, ("Software\\" + application + "\\Setup").c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        SetString(key, "CS_Path", "C:\\Vantrel", true);
        SetString(key, "Empty", "", true);
        SetString(key, "Unterminated", "C:\\Tvk", false);
        RegCloseKey(key);
    }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, ("Software\\" + application).c_str()); }

    static void SetString(HKEY key, const char* name, const std::string& value, bool withNul) {
        ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>(value.size() + (withNul ? 1 : 0))),
                  ERROR_SUCCESS);
    }

    Win32Os os;
    std::string application;
};

TEST_F(AppSettingTest, PresentValueIsReturned) {
    EXPECT_EQ(os.GetAppSetting(application, "Setup", "CS_Path", ""), "C:\\Vantrel");
    EXPECT_EQ(os.GetAppSetting(application, "Setup", "CS_Path", "default"), "C:\\Vantrel");
}

TEST_F(AppSettingTest, EmptyValueIsReturnedAsEmptyNotAsTheDefault) {
    EXPECT_EQ(os.GetAppSetting(application, "Setup", "Empty", "default"), "");
}

TEST_F(AppSettingTest, ValueStoredWithoutItsNulIsReturnedExactly) {
    EXPECT_EQ(os.GetAppSetting(application, "Setup", "Unterminated", ""), "C:\\Tvk");
}

TEST_F(AppSettingTest, AbsentValueSectionOrApplicationGivesTheDefault) {
    EXPECT_EQ(os.GetAppSetting(application, "Setup", "Missing", "default"), "default");
    EXPECT_EQ(os.GetAppSetting(application, "Other", "CS_Path", "default"), "default");
    EXPECT_EQ(os.GetAppSetting(application + "X", "Setup", "CS_Path", ""), "");
}

// ---- Type libraries -----------------------------------------------------------------

std::string GuidText(const GUID& guid) {
    wchar_t wide[40];
    StringFromGUID2(guid, wide, 40);
    char text[40];
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    return text;
}

bool ClassesKeyExists(const std::string& subkey) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::string ClassesDefaultValue(const std::string& subkey) {
    char value[MAX_PATH * 2] = "";
    LONG size = sizeof value;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, subkey.c_str(), value, &size) != ERROR_SUCCESS) return "<absent>";
    return value;
}

class TypeLibTest : public wintest::ScratchTest {
protected:
    void SetUp() override {
        wintest::ScratchTest::SetUp();
        ASSERT_TRUE(CreateDirectoryA(At("Vantrel Server").c_str(), nullptr));
        path = At("Vantrel Server\\probe lib.tlb");
        const std::string built = wintest::ExeFolder() + "\\probe.tlb";
        ASSERT_TRUE(CopyFileA(built.c_str(), path.c_str(), FALSE)) << "missing " << built;
    }

    // Identity of the loaded library and of its one interface.
    void ReadIdentity(platform::TypeLibHandle library) {
        auto* typeLib = static_cast<ITypeLib*>(library);
        TLIBATTR* attr = nullptr;
        ASSERT_EQ(typeLib->GetLibAttr(&attr), S_OK);
        libId = GuidText(attr->guid);
        version = std::to_string(attr->wMajorVerNum) + "." + std::to_string(attr->wMinorVerNum);
        typeLib->ReleaseTLibAttr(attr);
        ASSERT_EQ(typeLib->GetTypeInfoCount(), 1u);
        ITypeInfo* info = nullptr;
        ASSERT_EQ(typeLib->GetTypeInfo(0, &info), S_OK);
        TYPEATTR* typeAttr = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&typeAttr), S_OK);
        interfaceId = GuidText(typeAttr->guid);
        info->ReleaseTypeAttr(typeAttr);
        info->Release();
    }

    void Unregister() {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, ("TypeLib\\" + libId).c_str());
        RegDeleteKeyA(HKEY_CLASSES_ROOT, ("TypeLib\\" + libId).c_str());
        RegDeleteTreeA(HKEY_CLASSES_ROOT, ("Interface\\" + interfaceId).c_str());
        RegDeleteKeyA(HKEY_CLASSES_ROOT, ("Interface\\" + interfaceId).c_str());
    }

    Win32Os os;
    std::string path;
    std::string libId, version, interfaceId;
};

TEST_F(TypeLibTest, LoadByPlainPathAndRegister) {
    const std::u16string widePath = platform::AnsiToWide(path);
    platform::TypeLibHandle library = nullptr;
    ASSERT_EQ(os.LoadTypeLib(widePath, library), 0);
    ASSERT_NE(library, nullptr);
    ReadIdentity(library);
    EXPECT_EQ(version, "1.0");
    Unregister();
    ASSERT_FALSE(ClassesKeyExists("TypeLib\\" + libId)) << "left over from an earlier run";

    EXPECT_EQ(os.RegisterTypeLib(library, widePath, std::u16string()), 0);
    os.ReleaseTypeLib(library);

    EXPECT_TRUE(ClassesKeyExists("TypeLib\\" + libId));
    EXPECT_EQ(ClassesDefaultValue("TypeLib\\" + libId + "\\1.0\\0\\win32"), path);
    EXPECT_TRUE(ClassesKeyExists("Interface\\" + interfaceId)) << "automation interfaces are registered too";
    Unregister();
}

TEST_F(TypeLibTest, QuotedPathDoesNotLoad) {
    platform::TypeLibHandle library = nullptr;
    const int32_t hr = os.LoadTypeLib(platform::AnsiToWide("\"" + path + "\""), library);
    EXPECT_NE(hr, 0);
    if (hr == 0) os.ReleaseTypeLib(library);
}

TEST_F(TypeLibTest, MissingFileDoesNotLoad) {
    platform::TypeLibHandle library = nullptr;
    const int32_t hr = os.LoadTypeLib(platform::AnsiToWide(At("Vantrel Server\\missing.tlb")), library);
    EXPECT_NE(hr, 0);
    if (hr == 0) os.ReleaseTypeLib(library);
}

}  // namespace
