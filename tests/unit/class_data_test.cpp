// The package's class data: what a package may make the installer write,
// read the same way by the installer and lucheck.
#include <gtest/gtest.h>

#include "setup/class_data.h"

namespace {

using setup::ClassData;
using setup::ClassDataTrouble;
using setup::ValueType;

const std::vector<std::string> kListed = {"TVKCOM.DLL", "TVKUPDT.EXE"};

struct Case {
    const char* text;
    int line;          // 0: read
    const char* why;   // a part of the reason
};

class ClassDataRules : public testing::TestWithParam<Case> {};

TEST_P(ClassDataRules, ReadOrRefusedNamingTheLine) {
    std::vector<ClassData> data;
    ClassDataTrouble trouble;
    const bool read = setup::ReadClassData(GetParam().text, kListed, data, trouble);
    EXPECT_EQ(read, GetParam().line == 0) << trouble.why;
    EXPECT_EQ(trouble.line, GetParam().line);
    EXPECT_NE(trouble.why.find(GetParam().why), std::string::npos) << trouble.why;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ClassDataRules,
    testing::Values(
        Case{"# harvested\r\n[tvkcom.dll]\r\nCLSID\\{1}\\InprocServer32\t\tREG_SZ\t<file>\r\n"
             "CLSID\\{1}\\InprocServer32\tThreadingModel\tREG_SZ\tApartment\r\nCLSID\\{1}\\Implemented Categories\\{2}\r\n"
             "TypeLib\\{3}\\1.0\\HELPDIR\t\tREG_SZ\t<folder>\r\nVantrel.Update.1\\CLSID\t\tREG_SZ\t{1}\r\n"
             "AppID\\{4}\tDllSurrogate\tREG_SZ\t\r\nCLSID\\{1}\\Version\tFlags\tREG_DWORD\t0x10\r\n"
             "CLSID\\{1}\\Data\tBlob\tREG_BINARY\t00ff\r\n",
             0, ""},
        Case{"[TVKUPDT.EXE]\nCLSID\\{1}\\LocalServer32\t\tREG_SZ\t\"<short file>\" /automation\n"
             "CLSID\\{1}\\ToolboxBitmap32\t\tREG_SZ\t<file>, 1\nTypeLib\\{3}\\1.0\\0\\win32\t\tREG_SZ\t<folder>\\TVK.TLB",
             0, ""},
        Case{"CLSID\\{1}\t\tREG_SZ\tx\n", 1, "outside any file's section"},
        Case{"[TVKNEW.DLL]\n", 1, "not a file the package lists"},
        Case{"[TVKCOM.DLL]\n[tvkcom.dll]\n", 2, "second section"},
        Case{"[TVKCOM.DLL\n", 1, "not closed"},
        Case{"[TVKCOM.DLL]\nSoftware\\Microsoft\\Windows\\CurrentVersion\\Run\tx\tREG_SZ\ty\n", 2, "not a class key"},
        Case{"[TVKCOM.DLL]\ntxtfile\\shell\\open\\command\t\tREG_SZ\t<file>\n", 2, "shell verbs"},
        Case{"[TVKCOM.DLL]\nVantrel.Update\\shellex\\ContextMenuHandlers\\x\t\tREG_SZ\t{1}\n", 2, "shell verbs"},
        Case{"[TVKCOM.DLL]\n.txt\t\tREG_SZ\tVantrel.Update\n", 2, "not a class key"},
        Case{"[TVKCOM.DLL]\nVantrel.Update\\DefaultIcon\\More\t\tREG_SZ\tx\n", 2, "not a ProgID's"},
        Case{"[TVKCOM.DLL]\nCLSID\t\tREG_SZ\tx\n", 2, "whole class root"},
        Case{"[TVKCOM.DLL]\nCLSID\\..\\Run\t\tREG_SZ\tx\n", 2, "not a key's name"},
        Case{"[TVKCOM.DLL]\nCLSID\\{1}\\InprocServer32\t\tREG_SZ\tC:\\Users\\Public\\evil.dll\n", 2, "through <file>"},
        Case{"[TVKCOM.DLL]\nCLSID\\{1}\\InprocServer32\t\tREG_SZ\tevil.dll\n", 2, "through <file>"},
        Case{"[TVKCOM.DLL]\nCLSID\\{1}\\InprocServer32\t\tREG_EXPAND_SZ\t%TEMP%\\x\n", 2, "through <file>"},
        Case{"[TVKCOM.DLL]\nCLSID\\{1}\\LocalServer32\t\tREG_SZ\t<file> C:\\evil.exe\n", 2, "another file"},
        Case{"[TVKCOM.DLL]\nCLSID\\{1}\\LocalServer32\t\tREG_SZ\t\"<file> /x\n", 2, "does not close"},
        Case{"[TVKCOM.DLL]\nTypeLib\\{3}\\1.0\\0\\win32\t\tREG_SZ\t<folder>\\..\\x.tlb\n", 2, "out of the file's folder"},
        Case{"[TVKCOM.DLL]\nCLSID\\{1}\\X\tY\tREG_MULTI_SZ\ta%00b.dll\n", 2, "through <file>"},
        Case{"[TVKCOM.DLL]\nCLSID\\{1}\\X\tY\tREG_DWORD\t4294967296\n", 2, "32 bits"},
        Case{"[TVKCOM.DLL]\nCLSID\\{1}\\X\tY\tREG_BINARY\t0g\n", 2, "hexadecimal"},
        Case{"[TVKCOM.DLL]\nCLSID\\{1}\\X\tY\tREG_QWORD\t1\n", 2, "not a type"},
        Case{"[TVKCOM.DLL]\nCLSID\\{1}\\X\tY\tREG_SZ\n", 2, "tab-separated"}));

TEST(ClassDataTest, WhatIsFormattedReadsBack) {
    const std::vector<ClassData> data = {
        {"TVKCOM.DLL",
         {{"CLSID\\{1}\\InprocServer32", "", ValueType::kString, "<file>"},
          {"CLSID\\{1}\\X", "tab\t%here", ValueType::kMultiString, std::string("a\0b", 3)},
          {"CLSID\\{1}\\X", "n", ValueType::kNumber, std::string("\x10\0\0\x80", 4)},
          {"CLSID\\{1}\\X", "b", ValueType::kBinary, std::string("\0\xff", 2)},
          {"CLSID\\{1}\\Implemented Categories\\{2}", "", ValueType::kNone, ""}}}};
    std::vector<ClassData> read;
    ClassDataTrouble trouble;
    ASSERT_TRUE(setup::ReadClassData(setup::FormatClassData(data), kListed, read, trouble)) << trouble.why;
    ASSERT_EQ(read.size(), 1u);
    ASSERT_EQ(read[0].values.size(), data[0].values.size());
    for (std::size_t i = 0; i < read[0].values.size(); ++i) {
        EXPECT_EQ(read[0].values[i].key, data[0].values[i].key);
        EXPECT_EQ(read[0].values[i].name, data[0].values[i].name);
        EXPECT_EQ(read[0].values[i].type, data[0].values[i].type);
        EXPECT_EQ(read[0].values[i].data, data[0].values[i].data);
    }
}

// The harvest's tokens, and the installer's paths in their place.
TEST(ClassDataTest, PathsBecomeTokensAndBackForAnyHostFolder) {
    const std::string path = "C:\\Build\\Package\\TVKCOM.DLL";
    const std::string shortPath = "C:\\Build\\PACKAG~1\\TVKCOM.DLL";
    EXPECT_EQ(setup::WithPathsTokenized("\"c:\\build\\package\\tvkcom.dll\" /x", path, shortPath), "\"<file>\" /x");
    EXPECT_EQ(setup::WithPathsTokenized(shortPath, path, shortPath), "<short file>");
    EXPECT_EQ(setup::WithPathsTokenized("C:\\BUILD\\PACKAGE", path, shortPath), "<folder>");
    EXPECT_EQ(setup::WithPathsTokenized("Apartment", path, shortPath), "Apartment");
    EXPECT_EQ(setup::WithTokensReplaced("\"<short file>\" <file>, <folder>", "D:\\Vantrel\\TVKCOM.DLL", "D:\\VANTREL\\TVKCOM.DLL"),
              "\"D:\\VANTREL\\TVKCOM.DLL\" D:\\Vantrel\\TVKCOM.DLL, D:\\Vantrel");
    EXPECT_EQ(setup::WithTokensReplaced("<short file>", "D:\\Vantrel\\TVKCOM.DLL", ""), "D:\\Vantrel\\TVKCOM.DLL");
}

}  // namespace
