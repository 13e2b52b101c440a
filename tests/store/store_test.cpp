// The registry and profile files: Windows semantics, the file format and safety of the data.
#include "platform/store/registry.h"
#include "platform/store/filestore.h"
#include "tests/support/testenv.h"
#include "platform/store/testing.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;
using orv::test::FreshConfigDir;
using orv::test::ReadConfigFile;
using orv::test::WriteConfigFile;

namespace {

constexpr const char* kPosition = "SoftWare\\Dorvend\\OrvaneTuner\\Position";

HKEY Open(const char* path = kPosition) {
  HKEY k = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_ALL_ACCESS, nullptr, &k, nullptr));
  return k;
}

void SetDword(HKEY k, const char* name, DWORD v) {
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4));
}

LONG QueryDword(HKEY k, const char* name, DWORD* out) {
  DWORD size = 4;
  return RegQueryValueExA(k, name, nullptr, nullptr, reinterpret_cast<BYTE*>(out), &size);
}

class Store : public ::testing::Test {
 protected:
  void SetUp() override { dir = FreshConfigDir(); }
  std::string dir;
};

TEST_F(Store, ValueNamesAndKeyPathsMatchWithoutCaseAndKeepFirstCase) {
  HKEY k = Open();
  SetDword(k, "Video_width", 800);
  RegCloseKey(k);

  HKEY k2 = Open("software\\DORVEND\\orvanetuner\\position");
  DWORD v = 0;
  EXPECT_EQ(ERROR_SUCCESS, QueryDword(k2, "Video_Width", &v));
  EXPECT_EQ(800u, v);
  SetDword(k2, "VIDEO_WIDTH", 1024);  // same value, not a second one
  RegCloseKey(k2);

  const std::string text = ReadConfigFile("registry.reg");
  EXPECT_NE(std::string::npos, text.find("[HKEY_LOCAL_MACHINE\\SoftWare\\Dorvend\\OrvaneTuner\\Position]"));
  EXPECT_NE(std::string::npos, text.find("\"Video_width\"=dword:00000400"));
  EXPECT_EQ(std::string::npos, text.find("VIDEO_WIDTH"));
}

TEST_F(Store, NegativeDwordKeepsAllBitsAndLow16AreTheCallersBusiness) {
  HKEY k = Open();
  SetDword(k, "Panel_left", static_cast<DWORD>(-10));
  DWORD v = 0;
  ASSERT_EQ(ERROR_SUCCESS, QueryDword(k, "Panel_left", &v));
  EXPECT_EQ(0xFFFFFFF6u, v);
  EXPECT_EQ(65526, v & 0xFFFF);
  RegCloseKey(k);
}

TEST_F(Store, MissingValueAndTooSmallBuffer) {
  HKEY k = Open("SoftWare\\Dorvend\\OrvaneTuner\\Channel");
  DWORD v = 0;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, QueryDword(k, "Source", &v));

  const char text[] = "0123456789";
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, "TV", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 11));
  char small[5] = {};
  DWORD size = sizeof small;
  EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(k, "TV", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size));
  EXPECT_EQ(11u, size);  // the size needed, NUL included

  char big[71] = {};
  size = sizeof big;
  DWORD type = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "TV", nullptr, &type, reinterpret_cast<BYTE*>(big), &size));
  EXPECT_EQ(REG_SZ, type);
  EXPECT_EQ(11u, size);
  EXPECT_STREQ("0123456789", big);
  RegCloseKey(k);
}

TEST_F(Store, ValuesSurviveAReloadFromDiskWithTheirExactBytes) {
  HKEY k = Open("SoftWare\\Dorvend\\OrvaneTuner\\Video");
  const char path[] = "/home/user/My \"clips\"\\a.avi";
  RegSetValueExA(k, "Capture", 0, REG_SZ, reinterpret_cast<const BYTE*>(path), sizeof path);
  const BYTE odd[3] = {1, 2, 3};  // a DWORD of the wrong size must stay three bytes
  RegSetValueExA(k, "Bright", 0, REG_DWORD, odd, 3);
  const char nonul[3] = {'a', 'b', 'c'};  // a string stored without its NUL stays so
  RegSetValueExA(k, "Raw", 0, REG_SZ, reinterpret_cast<const BYTE*>(nonul), 3);
  RegCloseKey(k);

  orv::store::ResetForTests();  // forget the cache: read the file again
  k = Open("SoftWare\\Dorvend\\OrvaneTuner\\Video");
  char buf[255] = {};
  DWORD size = sizeof buf;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "Capture", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size));
  EXPECT_STREQ(path, buf);
  EXPECT_EQ(sizeof path, size);
  DWORD v = 0;
  EXPECT_EQ(ERROR_MORE_DATA, [&] {
    DWORD s2 = 2;
    return RegQueryValueExA(k, "Bright", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &s2);
  }());
  size = 4;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "Bright", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size));
  EXPECT_EQ(3u, size);
  size = sizeof buf;
  DWORD type = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "Raw", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size));
  EXPECT_EQ(3u, size);
  EXPECT_EQ(REG_SZ, type);
  RegCloseKey(k);
}

TEST_F(Store, MalformedFileIsKeptAsideAndDefaultsApply) {
  WriteConfigFile("registry.reg", "this is not a registry file\n\x01\x02 garbage");
  orv::store::ResetForTests();
  testing::internal::CaptureStderr();
  HKEY k = Open();
  const std::string err = testing::internal::GetCapturedStderr();
  DWORD v = 0;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, QueryDword(k, "Panel_left", &v));
  SetDword(k, "Panel_left", 5);
  RegCloseKey(k);

  int aside = 0;
  for (auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().rfind("registry.reg.bad-", 0) == 0) {
      ++aside;
      EXPECT_NE(std::string::npos, orv::store::ReadFile(e.path()).value().find("not a registry file"));
    }
  EXPECT_EQ(1, aside);
  EXPECT_NE(std::string::npos, err.find("malformed"));
  EXPECT_NE(std::string::npos, ReadConfigFile("registry.reg").find("\"Panel_left\"=dword:00000005"));
}

TEST_F(Store, TruncatedValueLineIsMalformed) {
  WriteConfigFile("registry.reg",
                  "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SoftWare\\Dorvend\\OrvaneTuner\\Position]\n\"Panel_left\"=dwo");
  orv::store::ResetForTests();
  testing::internal::CaptureStderr();
  HKEY k = Open();
  testing::internal::GetCapturedStderr();
  DWORD v = 0;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, QueryDword(k, "Panel_left", &v));
  RegCloseKey(k);
}

TEST_F(Store, HandEditedFileWithContinuedHexAndCommentsIsRead) {
  WriteConfigFile("registry.reg",
                  "REGEDIT4\r\n\r\n; edited by hand\r\n[HKEY_LOCAL_MACHINE\\SoftWare\\Dorvend\\OrvaneTuner\\Video]\r\n"
                  "\"Blob\"=hex:01,02,\\\r\n  03\r\n\"Hue\"=dword:0000012c\r\n");
  orv::store::ResetForTests();
  HKEY k = Open("SoftWare\\Dorvend\\OrvaneTuner\\Video");
  DWORD v = 0;
  ASSERT_EQ(ERROR_SUCCESS, QueryDword(k, "Hue", &v));
  EXPECT_EQ(300u, v);
  BYTE blob[8];
  DWORD size = sizeof blob;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "Blob", nullptr, nullptr, blob, &size));
  EXPECT_EQ(3u, size);
  EXPECT_EQ(3, blob[2]);
  RegCloseKey(k);
}

TEST_F(Store, EveryWriteReplacesTheFileWholeAndLeavesNoTemporaryFile) {
  HKEY k = Open();
  SetDword(k, "Panel_left", 1);
  struct stat before {};
  ASSERT_EQ(0, ::stat((dir + "/registry.reg").c_str(), &before));
  SetDword(k, "Panel_top", 2);
  struct stat after {};
  ASSERT_EQ(0, ::stat((dir + "/registry.reg").c_str(), &after));
  EXPECT_NE(before.st_ino, after.st_ino);  // a new file renamed over the old, not rewritten in place
  RegCloseKey(k);
  for (auto& e : fs::directory_iterator(dir)) EXPECT_EQ(std::string::npos, e.path().string().find(".tmp-"));
}

TEST_F(Store, ReadOnlyFolderRunsOnWhatIsInMemoryAndSaysSo) {
  orv::test::ObeyFileModes plain;
  if (!plain.Active()) GTEST_SKIP() << "file modes cannot be made to hold for this thread";
  ::chmod(dir.c_str(), 0500);
  testing::internal::CaptureStderr();
  HKEY k = Open();
  DWORD v = 7;
  EXPECT_NE(ERROR_SUCCESS, RegSetValueExA(k, "Panel_left", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("cannot write"));
  RegCloseKey(k);
  ::chmod(dir.c_str(), 0700);
}

// A registry.reg or win.ini left by a run with sudo: there, but not ours to read.
TEST_F(Store, UnreadableFilesAreReportedOnceAndNeverWrittenOver) {
  orv::test::ObeyFileModes plain;
  if (!plain.Active()) GTEST_SKIP() << "file modes cannot be made to hold for this thread";
  const std::string reg = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SoftWare\\Dorvend\\OrvaneTuner\\Position]\n"
                          "\"Panel_left\"=dword:00000007\n";
  const std::string ini = "[orvane]\nVideoDevice=2\n";
  WriteConfigFile("registry.reg", reg);
  WriteConfigFile("win.ini", ini);
  for (const char* name : {"/registry.reg", "/win.ini"}) ::chmod((dir + name).c_str(), 0);
  orv::store::ResetForTests();
  testing::internal::CaptureStderr();
  HKEY k = Open();
  DWORD v = 0;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, QueryDword(k, "Panel_left", &v)) << "defaults apply";
  for (DWORD top : {8u, 9u}) {
    EXPECT_NE(ERROR_SUCCESS, RegSetValueExA(k, "Panel_top", 0, REG_DWORD, reinterpret_cast<BYTE*>(&top), 4));
    ASSERT_EQ(ERROR_SUCCESS, QueryDword(k, "Panel_top", &v)) << "this run goes on with what it wrote";
    EXPECT_EQ(top, v);
  }
  RegCloseKey(k);
  EXPECT_EQ(4u, GetProfileIntA("orvane", "VideoDevice", 4));
  EXPECT_FALSE(WriteProfileStringA("orvane", "AudioDevice", "1"));
  EXPECT_FALSE(WriteProfileStringA("orvane", "AudioDevice", "2"));
  EXPECT_EQ(2u, GetProfileIntA("orvane", "AudioDevice", 0));
  const std::string err = testing::internal::GetCapturedStderr();

  for (const char* name : {"/registry.reg", "/win.ini"}) {
    const std::string said = "cannot read " + dir + name;
    const auto first = err.find(said);
    EXPECT_NE(std::string::npos, first) << err;
    EXPECT_EQ(std::string::npos, err.find(said, first + 1)) << "said once: " << err;
    ::chmod((dir + name).c_str(), 0600);
  }
  EXPECT_EQ(reg, ReadConfigFile("registry.reg"));
  EXPECT_EQ(ini, ReadConfigFile("win.ini"));
  for (auto& e : fs::directory_iterator(dir)) {
    const std::string f = e.path().filename().string();
    EXPECT_TRUE(f == "registry.reg" || f == "win.ini") << f;
  }
}

TEST_F(Store, UnwritableTargetFailsWithoutTouchingTheOldFile) {
  // A directory where the file should be: the replacement cannot land, the old one is untouched.
  fs::create_directories(dir + "/sub/registry.reg");
  EXPECT_FALSE(orv::store::ReplaceFileAtomically(dir + "/sub/registry.reg", "x"));
  EXPECT_TRUE(fs::is_directory(dir + "/sub/registry.reg"));
  for (auto& e : fs::directory_iterator(dir + "/sub")) EXPECT_EQ(std::string::npos, e.path().string().find(".tmp-"));
}

TEST_F(Store, BadHandlesAreRefused) {
  DWORD v = 0, size = 4;
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExA(reinterpret_cast<HKEY>(0x4242), "x", nullptr, nullptr,
                                                   reinterpret_cast<BYTE*>(&v), &size));
  HKEY k = Open();
  RegCloseKey(k);
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(k));
}

class Profile : public Store {};

TEST_F(Profile, StringsIntsAndDefaults) {
  char buf[260];
  EXPECT_EQ(0u, GetProfileStringA("orvane", "CaptureFile", "", buf, sizeof buf));
  EXPECT_STREQ("", buf);
  EXPECT_EQ(3u, GetProfileIntA("orvane", "VideoDevice", 3));

  EXPECT_TRUE(WriteProfileStringA("orvane", "CaptureFile", "/tmp/a.avi"));
  EXPECT_TRUE(WriteProfileStringA("orvane", "VideoDevice", "5"));
  EXPECT_TRUE(WriteProfileStringA("ORVANE", "AudioDevice", "1"));
  orv::store::ResetForTests();
  EXPECT_EQ(10u, GetProfileStringA("Orvane", "capturefile", "", buf, sizeof buf));
  EXPECT_STREQ("/tmp/a.avi", buf);
  EXPECT_EQ(5u, GetProfileIntA("orvane", "VideoDevice", 0));
  EXPECT_EQ(1u, GetProfileIntA("orvane", "AudioDevice", 0));
  EXPECT_EQ("[orvane]\nCaptureFile=/tmp/a.avi\nVideoDevice=5\nAudioDevice=1\n", ReadConfigFile("win.ini"));
}

TEST_F(Profile, LongValueIsCutToTheBuffer) {
  WriteProfileStringA("orvane", "CaptureFile", std::string(300, 'x').c_str());
  char buf[260];
  EXPECT_EQ(259u, GetProfileStringA("orvane", "CaptureFile", "", buf, sizeof buf));
  EXPECT_EQ(259u, std::strlen(buf));
}

TEST_F(Profile, GarbageNumbersAndForeignLinesSurvive) {
  WriteConfigFile("win.ini",
                  "; user's notes\n[other]\nkeep=me\n[orvane]\nVideoDevice=abc\nAudioDevice=99999999999999\n"
                  "junk line without equals\n");
  orv::store::ResetForTests();
  EXPECT_EQ(0u, GetProfileIntA("orvane", "VideoDevice", 7));
  EXPECT_EQ(2147483647u, GetProfileIntA("orvane", "AudioDevice", 0));
  WriteProfileStringA("orvane", "VideoDevice", "1");
  const std::string text = ReadConfigFile("win.ini");
  EXPECT_NE(std::string::npos, text.find("; user's notes"));
  EXPECT_NE(std::string::npos, text.find("keep=me"));
  EXPECT_NE(std::string::npos, text.find("junk line without equals"));
  EXPECT_NE(std::string::npos, text.find("VideoDevice=1"));
}

TEST_F(Profile, ValueWithLineBreakCannotForgeAKey) {
  WriteProfileStringA("orvane", "CaptureFile", "/tmp/a.avi\nVideoDevice=9");
  EXPECT_EQ(0u, GetProfileIntA("orvane", "VideoDevice", 0));
}

}  // namespace
