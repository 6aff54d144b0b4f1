// Settings and registration services of Win32Os against the real system:
// INI files, the per-user registry setting, machine settings, the programs
// folder and type-library registration.
// The test tidies the registry with RegDeleteTreeA (Vista on); the product
// itself is built for Windows 2000 headers.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstring>
#include <iostream>

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

// ---- Machine settings ---------------------------------------------------------------

class MachineSettingTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = "Software\\LuWinTest" + std::to_string(GetCurrentProcessId());
        entry = root + "\\Uninstall\\Vantrel Live Update";
    }
    void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, root.c_str()); }

    static bool KeyExists(const std::string& subkey) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }
    // The value as stored: its type and bytes.
    static std::string Stored(const std::string& subkey, const char* name, DWORD& type) {
        char data[256] = "";
        DWORD size = sizeof data;
        type = REG_NONE;
        if (RegGetValueA(HKEY_LOCAL_MACHINE, subkey.c_str(), name, RRF_RT_ANY, &type, data, &size) != ERROR_SUCCESS)
            return "<absent>";
        return std::string(data, size);
    }

    Win32Os os;
    std::string root, entry;
};

TEST_F(MachineSettingTest, ValuesAreSetReadAndDeleted) {
    ASSERT_TRUE(os.SetMachineString(entry, "DisplayName", "Vantrel Live Update"));
    ASSERT_TRUE(os.SetMachineNumber(entry, "NoModify", 1));
    DWORD type = 0;
    EXPECT_EQ(Stored(entry, "DisplayName", type), std::string("Vantrel Live Update", 20));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(Stored(entry, "NoModify", type), std::string("\1\0\0\0", 4));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));

    uint32_t number = 7;
    EXPECT_TRUE(os.SetMachineNumber(entry, "NoModify", 0x80000002u));
    EXPECT_TRUE(os.GetMachineNumber(entry, "NoModify", number));
    EXPECT_EQ(number, 0x80000002u);
    EXPECT_FALSE(os.GetMachineNumber(entry, "DisplayName", number)) << "a string is no number";
    EXPECT_FALSE(os.GetMachineNumber(entry, "Missing", number));
    EXPECT_FALSE(os.GetMachineNumber(root + "\\Nowhere", "NoModify", number));
    EXPECT_EQ(number, 0x80000002u);

    EXPECT_TRUE(os.DeleteMachineValue(entry, "NoModify"));
    EXPECT_EQ(Stored(entry, "NoModify", type), "<absent>");
    EXPECT_EQ(Stored(entry, "DisplayName", type), std::string("Vantrel Live Update", 20));
    EXPECT_TRUE(os.DeleteMachineValue(entry, "NoModify")) << "an absent value is gone";
    EXPECT_TRUE(os.DeleteMachineValue(root + "\\Nowhere", "NoModify")) << "so is one of an absent key";
}

TEST_F(MachineSettingTest, KeyGoesWithItsValuesAndSubkeysAndNothingElse) {
    ASSERT_TRUE(os.SetMachineString(entry, "DisplayName", "Vantrel Live Update"));
    ASSERT_TRUE(os.SetMachineNumber(entry + "\\Deeper\\Deepest", "Count", 2));
    ASSERT_TRUE(os.SetMachineNumber(root + "\\Uninstall\\Vantrel", "Count", 3));
    EXPECT_TRUE(os.DeleteMachineKey(entry));
    EXPECT_FALSE(KeyExists(entry));
    uint32_t number = 0;
    EXPECT_TRUE(os.GetMachineNumber(root + "\\Uninstall\\Vantrel", "Count", number)) << "a sibling stays";
    EXPECT_TRUE(os.DeleteMachineKey(entry)) << "an absent key is gone";
}

// ---- The programs folder -------------------------------------------------------------

// The folder this program's environment names too (the "(x86)" one for a
// 32-bit program on 64-bit Windows).
TEST(ProgramFilesTest, FolderIsTheOneThisProgramSees) {
    Win32Os os;
    const std::string folder = os.GetProgramFilesFolder();
    char expected[MAX_PATH] = "";
    ASSERT_GT(GetEnvironmentVariableA("ProgramFiles", expected, MAX_PATH), 0u);
    EXPECT_EQ(lstrcmpiA(folder.c_str(), expected), 0) << folder << " against " << expected;
    EXPECT_NE(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u) << folder;
}

// Only under Wine, whose prefix is the test run's own: the setting is
// changed for the moment.
TEST(ProgramFilesTest, ExpandableSettingIsExpandedWithoutATrailingBackslash) {
    if (!wintest::RunningOnWine()) GTEST_SKIP() << "changes a machine setting";
    const char* const kKey = "Software\\Microsoft\\Windows\\CurrentVersion";
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key), ERROR_SUCCESS);
    char saved[MAX_PATH] = "";
    DWORD type = 0;
    DWORD size = sizeof saved;
    ASSERT_EQ(RegQueryValueExA(key, "ProgramFilesDir", nullptr, &type, reinterpret_cast<BYTE*>(saved), &size),
              ERROR_SUCCESS);
    const char expandable[] = "%SystemDrive%\\Vantrel Programs\\";
    RegSetValueExA(key, "ProgramFilesDir", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expandable),
                   sizeof expandable);
    char drive[MAX_PATH] = "";
    GetEnvironmentVariableA("SystemDrive", drive, MAX_PATH);
    Win32Os os;
    EXPECT_EQ(os.GetProgramFilesFolder(), std::string(drive) + "\\Vantrel Programs");
    RegSetValueExA(key, "ProgramFilesDir", 0, type, reinterpret_cast<const BYTE*>(saved), size);
    RegCloseKey(key);
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
        ASSERT_EQ(typeLib->GetTypeInfoCount(), 2u);  // the interface, then the class
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

// Unregistered by the identity in the file: the library's and its
// interface's keys go; a second time there is nothing to remove.
TEST_F(TypeLibTest, RegisteredLibraryIsUnregistered) {
    const std::u16string widePath = platform::AnsiToWide(path);
    platform::TypeLibHandle library = nullptr;
    ASSERT_EQ(os.LoadTypeLib(widePath, library), 0);
    ReadIdentity(library);
    Unregister();
    ASSERT_EQ(os.RegisterTypeLib(library, widePath, std::u16string()), 0);
    os.ReleaseTypeLib(library);
    ASSERT_TRUE(ClassesKeyExists("TypeLib\\" + libId + "\\1.0"));

    EXPECT_EQ(os.UnregisterTypeLibrary(widePath), 0);
    EXPECT_FALSE(ClassesKeyExists("TypeLib\\" + libId + "\\1.0"));
    EXPECT_FALSE(ClassesKeyExists("Interface\\" + interfaceId));
    const int32_t again = os.UnregisterTypeLibrary(widePath);
    std::cout << "[ observed ] unregistering a library not registered: 0x" << std::hex << again << std::dec << "\n";
    EXPECT_NE(again, 0);
    EXPECT_NE(os.UnregisterTypeLibrary(platform::AnsiToWide(At("Vantrel Server\\missing.tlb"))), 0);
    Unregister();
}

// Where the system has the file's registrations lead: the library's path,
// and the server of the class the library names, as /verify reads them.
TEST_F(TypeLibTest, RegisteredPathsFollowTheLibraryAndItsClass) {
    const std::string server = "CLSID\\{3F0C6A1E-5B7D-4E29-A8C4-91D2E6F07B35}\\InprocServer32";
    platform::TypeLibHandle library = nullptr;
    ASSERT_EQ(os.LoadTypeLib(platform::AnsiToWide(path), library), 0);
    ReadIdentity(library);
    Unregister();
    bool known = false;
    using Paths = std::vector<std::string>;
    EXPECT_EQ(os.RegisteredPaths(path, "type library", known), Paths{""});
    EXPECT_TRUE(known);
    ASSERT_EQ(os.RegisterTypeLib(library, platform::AnsiToWide(path), std::u16string()), 0);
    os.ReleaseTypeLib(library);
    EXPECT_EQ(os.RegisteredPaths(path, "type library", known), Paths{path});

    EXPECT_EQ(os.RegisteredPaths(path, "regsvr32", known), Paths{""});
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, server.c_str(), REG_SZ, path.c_str(), 0), ERROR_SUCCESS);
    EXPECT_EQ(os.RegisteredPaths(path, "regsvr32", known), Paths{path});
    EXPECT_TRUE(known);
    EXPECT_EQ(os.RegisteredPaths(path, "server", known), Paths{""});  // no LocalServer32
    EXPECT_EQ(os.RegisteredPaths(At("Vantrel Server\\missing.tlb"), "regsvr32", known), Paths{});
    EXPECT_FALSE(known);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{3F0C6A1E-5B7D-4E29-A8C4-91D2E6F07B35}");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{3F0C6A1E-5B7D-4E29-A8C4-91D2E6F07B35}");
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
