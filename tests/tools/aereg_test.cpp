// aereg, run as a program against the test's private registry store.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "tests/support/run_program.h"
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/registry.h"

namespace {

std::string TempFile(const std::string& name) { return std::string(getenv("TMPDIR")) + "/" + name; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

using Result = ProgramResult;

Result Aereg(std::vector<std::string> args, const std::string& input = "") {
  return RunProgram(AEREG_PATH, std::move(args), input);
}

const std::string kKey = "HKLM\\SOFTWARE\\Brixham\\Test";

TEST(Aereg, AddsValuesOfEveryTypeAndQueriesThemLikeReg) {
  EXPECT_EQ(Aereg({"add", kKey, "/v", "Rate", "/t", "REG_DWORD", "/d", "60"}).exitCode, 0);
  EXPECT_EQ(Aereg({"add", kKey, "/v", "Mask", "/t", "reg_dword", "/d", "0xFF"}).exitCode, 0);
  EXPECT_EQ(Aereg({"add", kKey, "/v", "Name", "/d", "Größe \"q\" c:\\x"}).exitCode, 0);
  EXPECT_EQ(Aereg({"add", kKey, "/ve", "/d", "default text"}).exitCode, 0);
  EXPECT_EQ(Aereg({"add", kKey, "/v", "List", "/t", "REG_MULTI_SZ", "/d", "a\\0bc"}).exitCode, 0);
  EXPECT_EQ(Aereg({"add", kKey, "/v", "Other", "/t", "REG_MULTI_SZ", "/s", ";", "/d", "x;y"}).exitCode, 0);
  EXPECT_EQ(Aereg({"add", kKey, "/v", "Blob", "/t", "REG_BINARY", "/d", "00ff10"}).exitCode, 0);
  Result added = Aereg({"add", kKey + "\\Sub"});
  EXPECT_EQ(added.exitCode, 0);
  EXPECT_EQ(added.out, "The operation completed successfully.\n");

  DWORD rate = 0;
  EXPECT_EQ(RegGetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Brixham\\Test", "Rate", rate), ERROR_SUCCESS);
  EXPECT_EQ(rate, 60u);
  std::vector<std::string> list;
  EXPECT_EQ(RegGetMultiString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Brixham\\Test", "Other", list), ERROR_SUCCESS);
  EXPECT_EQ(list, (std::vector<std::string>{"x", "y"}));

  Result q = Aereg({"query", "hklm\\software\\brixham\\test"});
  EXPECT_EQ(q.exitCode, 0);
  EXPECT_EQ(q.out,
            "\nHKEY_LOCAL_MACHINE\\software\\brixham\\test\n"
            "    Rate    REG_DWORD    0x3c\n"
            "    Mask    REG_DWORD    0xff\n"
            "    Name    REG_SZ    Größe \"q\" c:\\x\n"
            "    (Default)    REG_SZ    default text\n"
            "    List    REG_MULTI_SZ    a\\0bc\n"
            "    Other    REG_MULTI_SZ    x\\0y\n"
            "    Blob    REG_BINARY    00FF10\n"
            "\n"
            "HKEY_LOCAL_MACHINE\\software\\brixham\\test\\Sub\n");

  Result one = Aereg({"query", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brixham\\Test", "/v", "RATE"});
  EXPECT_EQ(one.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Brixham\\Test\n    RATE    REG_DWORD    0x3c\n\n");
  Result search = Aereg({"query", "HKLM\\SOFTWARE", "/v", "Rate", "/s"});
  EXPECT_NE(search.out.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\Brixham\\Test\n    Rate    REG_DWORD    0x3c\n"),
            std::string::npos);
  EXPECT_NE(search.out.find("End of search: 1 match(es) found."), std::string::npos);
}

TEST(Aereg, AsksBeforeOverwritingOrDeleting) {
  ASSERT_EQ(RegSetDword(HKEY_CURRENT_USER, "Software\\T", "v", 1), ERROR_SUCCESS);
  Result no = Aereg({"add", "HKCU\\Software\\T", "/v", "v", "/t", "REG_DWORD", "/d", "2"}, "n\n");
  EXPECT_EQ(no.exitCode, 1);
  EXPECT_NE(no.out.find("Value v exists, overwrite (Yes/No)?"), std::string::npos);
  EXPECT_NE(no.err.find("cancelled"), std::string::npos);
  DWORD v = 0;
  EXPECT_EQ(RegGetDword(HKEY_CURRENT_USER, "Software\\T", "v", v), ERROR_SUCCESS);
  EXPECT_EQ(v, 1u);
  EXPECT_EQ(Aereg({"add", "HKCU\\Software\\T", "/v", "v", "/t", "REG_DWORD", "/d", "2"}, "yes\n").exitCode, 0);
  EXPECT_EQ(RegGetDword(HKEY_CURRENT_USER, "Software\\T", "v", v), ERROR_SUCCESS);
  EXPECT_EQ(v, 2u);

  EXPECT_EQ(Aereg({"delete", "HKCU\\Software\\T"}).exitCode, 1) << "no answer: nothing deleted";
  EXPECT_EQ(RegGetDword(HKEY_CURRENT_USER, "Software\\T", "v", v), ERROR_SUCCESS);
  EXPECT_EQ(Aereg({"delete", "HKCU\\Software\\T"}, "y\n").exitCode, 0);
  EXPECT_EQ(RegGetDword(HKEY_CURRENT_USER, "Software\\T", "v", v), ERROR_FILE_NOT_FOUND);
}

TEST(Aereg, DeletesValuesAndKeys) {
  for (const char* name : {"a", "b", ""}) ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\D", name, "x"), 0);
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\D\\Child\\Grandchild", "c", 1), ERROR_SUCCESS);
  std::string text;
  EXPECT_EQ(Aereg({"delete", "HKLM\\SOFTWARE\\D", "/v", "a", "/f"}).exitCode, 0);
  EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\D", "a", text), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Aereg({"delete", "HKLM\\SOFTWARE\\D", "/ve", "/f"}).exitCode, 0);
  EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\D", "", text), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\D", "b", text), ERROR_SUCCESS);
  EXPECT_EQ(Aereg({"delete", "HKLM\\SOFTWARE\\D", "/va", "/f"}).exitCode, 0);
  EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\D", "b", text), ERROR_FILE_NOT_FOUND);
  DWORD v;
  EXPECT_EQ(RegGetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\D\\Child\\Grandchild", "c", v), ERROR_SUCCESS) << "/va keeps subkeys";
  EXPECT_EQ(Aereg({"delete", "HKLM\\SOFTWARE\\D", "/f"}).exitCode, 0);
  EXPECT_EQ(RegGetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\D\\Child\\Grandchild", "c", v), ERROR_FILE_NOT_FOUND);
}

TEST(Aereg, ExportAndImportRoundTrip) {
  const std::string sub = "SOFTWARE\\Brixham\\Round";
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, sub, "Rate", 60), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, sub, "Quote \"me\"", "C:\\path \"x\""), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, sub, "", "default"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, sub, "Lines", "one\ntwo"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, sub, "Exp", "%HOME%", REG_EXPAND_SZ), ERROR_SUCCESS);
  ASSERT_EQ(RegSetMultiString(HKEY_LOCAL_MACHINE, sub + "\\Ünter", "List", {"a", "Größe"}), ERROR_SUCCESS);
  ASSERT_EQ(RegSetBinary(HKEY_LOCAL_MACHINE, sub + "\\Ünter", "Blob", {1, 2, 0xFF}), ERROR_SUCCESS);

  const std::string file = TempFile("round.reg");
  ASSERT_EQ(Aereg({"export", "HKLM\\" + sub, file}).exitCode, 0);
  std::string text = ReadFile(file);
  EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brixham\\Round]\n", 0), 0u);
  for (const char* line : {"\"Rate\"=dword:0000003c\n", "\"Quote \\\"me\\\"\"=\"C:\\\\path \\\"x\\\"\"\n",
                           "@=\"default\"\n", "\"Blob\"=hex:01,02,ff\n", "\"List\"=hex(7):61,00,47,72,c3,b6,c3,9f,65,00,00\n",
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brixham\\Round\\Ünter]\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line;

  ASSERT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, sub), ERROR_SUCCESS);
  Result imported = Aereg({"import", file});
  ASSERT_EQ(imported.exitCode, 0) << imported.err;
  DWORD rate = 0;
  std::string value;
  std::vector<std::string> list;
  std::vector<BYTE> blob;
  EXPECT_EQ(RegGetDword(HKEY_LOCAL_MACHINE, sub, "rate", rate), ERROR_SUCCESS);
  EXPECT_EQ(rate, 60u);
  EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, sub, "Quote \"me\"", value), ERROR_SUCCESS);
  EXPECT_EQ(value, "C:\\path \"x\"");
  EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, sub, "Lines", value), ERROR_SUCCESS);
  EXPECT_EQ(value, "one\ntwo");
  EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, sub, "", value), ERROR_SUCCESS);
  EXPECT_EQ(value, "default");
  HKEY key;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, sub, KEY_READ, &key), ERROR_SUCCESS);
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueEx(key, "Exp", &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_EXPAND_SZ);
  RegCloseKey(key);
  EXPECT_EQ(RegGetMultiString(HKEY_LOCAL_MACHINE, sub + "\\ünter", "List", list), ERROR_SUCCESS);
  EXPECT_EQ(list, (std::vector<std::string>{"a", "Größe"}));
  EXPECT_EQ(RegGetBinary(HKEY_LOCAL_MACHINE, sub + "\\ünter", "Blob", blob), ERROR_SUCCESS);
  EXPECT_EQ(blob, (std::vector<BYTE>{1, 2, 0xFF}));
}

std::string Utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

TEST(Aereg, ImportsRegeditFilesWithDeletions) {
  ASSERT_EQ(RegSetDword(HKEY_CURRENT_USER, "Software\\Old\\Deep", "x", 1), ERROR_SUCCESS);
  ASSERT_EQ(RegSetDword(HKEY_CURRENT_USER, "Software\\Keep", "gone", 1), ERROR_SUCCESS);
  // As regedit writes it: UTF-16LE, CRLF, long hex data continued on the next line.
  const std::string file = TempFile("regedit.reg");
  WriteFile(file, Utf16("Windows Registry Editor Version 5.00\r\n\r\n"
                        "; a comment\r\n"
                        "[-HKEY_CURRENT_USER\\Software\\Old]\r\n\r\n"
                        "[HKEY_CURRENT_USER\\Software\\Keep]\r\n"
                        "\"gone\"=-\r\n"
                        "\"Multi\"=hex(7):61,00,62,00,00,00,\\\r\n"
                        "  63,00,00,00,00,00\r\n"
                        "\"n\"=dword:00000010\r\n"));
  Result r = Aereg({"import", file});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  DWORD v;
  EXPECT_EQ(RegGetDword(HKEY_CURRENT_USER, "Software\\Old\\Deep", "x", v), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegGetDword(HKEY_CURRENT_USER, "Software\\Keep", "gone", v), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegGetDword(HKEY_CURRENT_USER, "Software\\Keep", "n", v), ERROR_SUCCESS);
  EXPECT_EQ(v, 16u);
  std::vector<std::string> list;
  EXPECT_EQ(RegGetMultiString(HKEY_CURRENT_USER, "Software\\Keep", "Multi", list), ERROR_SUCCESS);
  EXPECT_EQ(list, (std::vector<std::string>{"ab", "c"}));
}

TEST(Aereg, BrokenImportChangesNothing) {
  const std::string file = TempFile("broken.reg");
  WriteFile(file, "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\New]\n\"a\"=dword:1\n\"b\"=word:2\n");
  Result r = Aereg({"import", file});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("line 5"), std::string::npos) << r.err;
  HKEY key;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\New", KEY_READ, &key), ERROR_FILE_NOT_FOUND);

  WriteFile(file, "[HKEY_CURRENT_USER\\Software\\New]\n");
  EXPECT_EQ(Aereg({"import", file}).exitCode, 1) << "no header";
  WriteFile(file, "REGEDIT4\n\n[HKEY_NOWHERE\\X]\n");
  EXPECT_EQ(Aereg({"import", file}).exitCode, 1);
  EXPECT_EQ(Aereg({"import", TempFile("missing.reg")}).exitCode, 1);
}

// A file that would delete a whole root is refused as a whole, as `delete`
// refuses a root: nothing of it is applied, not even the lines before.
TEST(Aereg, ImportRefusesToDeleteARoot) {
  ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Keep\\Sub", "x", 1), ERROR_SUCCESS);
  ASSERT_EQ(RegSetDword(HKEY_CURRENT_USER, "Software\\Keep", "x", 1), ERROR_SUCCESS);
  const std::string file = TempFile("root.reg");
  for (const auto& [root, name] : std::vector<std::pair<std::string, std::string>>{
           {"HKEY_LOCAL_MACHINE", "HKEY_LOCAL_MACHINE"},
           {"HKLM\\", "HKEY_LOCAL_MACHINE"},
           {"hkey_current_user", "HKEY_CURRENT_USER"},
           {"HKCR", "HKEY_CLASSES_ROOT"}}) {
    WriteFile(file, "Windows Registry Editor Version 5.00\n\n"
                    "[HKEY_CURRENT_USER\\Software\\New]\n\"a\"=dword:00000001\n\n"
                    "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Keep\\Sub]\n\n"
                    "[-" + root + "]\n");
    Result r = Aereg({"import", file});
    EXPECT_EQ(r.exitCode, 1) << root;
    EXPECT_EQ(r.err, "ERROR: " + file + ": line 8: a root key cannot be deleted (" + name + ")\n");
    EXPECT_TRUE(r.out.empty()) << root;
  }
  DWORD v = 0;
  EXPECT_EQ(RegGetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Keep\\Sub", "x", v), ERROR_SUCCESS);
  EXPECT_EQ(RegGetDword(HKEY_CURRENT_USER, "Software\\Keep", "x", v), ERROR_SUCCESS);
  HKEY key;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\New", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST(Aereg, BadArgumentsShowUsageAndFailuresTheirMessage) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {},
           {"frobnicate", "HKLM\\X"},
           {"query"},
           {"query", "HKXX\\Software"},
           {"query", kKey, "/v", "a", "/ve"},
           {"query", kKey, "/q"},
           {"add", kKey, "/v"},
           {"add", kKey, "/v", "n", "/t", "REG_DWORD", "/d", "12abc"},
           {"add", kKey, "/v", "n", "/t", "REG_DWORD", "/d", "4294967296"},
           {"add", kKey, "/v", "n", "/t", "REG_QWORD", "/d", "1"},
           {"add", kKey, "/v", "n", "/t", "REG_BINARY", "/d", "abc"},
           {"delete", "HKLM"},
           {"export", kKey},
       }) {
    Result r = Aereg(args);
    EXPECT_EQ(r.exitCode, 2) << testing::PrintToString(args);
    EXPECT_NE(r.err.find("Usage:"), std::string::npos);
    EXPECT_TRUE(r.out.empty());
  }
  Result missing = Aereg({"query", "HKLM\\SOFTWARE\\Nowhere"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.err, "ERROR: The system was unable to find the specified registry key or value.\n");
  ASSERT_EQ(Aereg({"add", kKey}).exitCode, 0);
  EXPECT_EQ(Aereg({"query", kKey, "/v", "Nothing"}).exitCode, 1);
  EXPECT_EQ(Aereg({"delete", kKey, "/v", "Nothing", "/f"}).exitCode, 1);
  EXPECT_EQ(Aereg({"export", "HKLM\\SOFTWARE\\Nowhere", TempFile("x.reg")}).exitCode, 1);
}

TEST(Aereg, DamagedStoreIsAFailureWithItsMessage) {
  std::filesystem::create_directories(RegistryDirectory());
  WriteFile(RegistryDirectory() + "/machine.db", std::string(8192, 'x'));
  Result r = Aereg({"query", "HKLM\\SOFTWARE"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("ERROR: The configuration registry database is corrupt."), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("machine.db"), std::string::npos) << "the store names the file";
}

}  // namespace
