// The registry and profile files: Windows semantics, the file format and safety of the data.
#include "platform/store/filestore.h"
#include "platform/store/registry.h"
#include "platform/store/testing.h"
#include "tests/support/testenv.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;
using orv::test::ReadConfigFile;
using orv::test::WriteConfigFile;

namespace {

constexpr const char* kPosition = "SoftWare\\Dorvend\\OrvaneTuner\\Position";
const std::string kSection = "[HKEY_LOCAL_MACHINE\\SoftWare\\Dorvend\\OrvaneTuner\\Position]\n";
const std::string kHeader = "REGEDIT4\n\n" + kSection;

class Store : public ::testing::Test {
 protected:
  void SetUp() override { dir = orv::test::FreshConfigDir(); }
  void TearDown() override { RegCloseKey(k); }
  HKEY Open(const char* path = kPosition) {
    RegCloseKey(k);
    k = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, &k, nullptr));
    return k;
  }
  LONG Set(const char* name, DWORD type, const void* data, DWORD size) {
    return RegSetValueExA(k, name, 0, type, static_cast<const BYTE*>(data), size);
  }
  LONG SetDword(const char* name, DWORD v) { return Set(name, REG_DWORD, &v, 4); }
  LONG Query(const char* name, void* out, DWORD* size, DWORD* type = nullptr) {
    return RegQueryValueExA(k, name, nullptr, type, static_cast<BYTE*>(out), size);
  }
  LONG QueryDword(const char* name, DWORD* out, DWORD size = 4) { return Query(name, out, &size); }
  std::vector<std::string> Files(const std::string& in) {
    std::vector<std::string> out;
    for (auto& e : fs::directory_iterator(in)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  std::string dir;
  HKEY k = nullptr;
};

TEST_F(Store, NamesMatchWithoutCaseKeepTheirFirstCaseAndValuesKeepAllBits) {
  Open();
  ASSERT_EQ(ERROR_SUCCESS, SetDword("Video_width", 800));
  ASSERT_EQ(ERROR_SUCCESS, SetDword("Panel_left", static_cast<DWORD>(-10)));
  Open("software\\DORVEND\\orvanetuner\\position");
  DWORD v = 0;
  EXPECT_EQ(ERROR_SUCCESS, QueryDword("Video_Width", &v));
  EXPECT_EQ(800u, v);
  SetDword("VIDEO_WIDTH", 1024);  // the same value, not a second one
  EXPECT_EQ(ERROR_SUCCESS, QueryDword("Panel_left", &v));
  EXPECT_EQ(0xFFFFFFF6u, v);
  EXPECT_NE(std::string::npos, ReadConfigFile("registry.reg").find(kSection + "\"Video_width\"=dword:00000400\n\"Panel_left\"=dword:fffffff6\n"));
  EXPECT_EQ(std::string::npos, ReadConfigFile("registry.reg").find("VIDEO_WIDTH"));
}

TEST_F(Store, ValuesSurviveAReloadWithTheirExactBytesAndSizes) {
  Open("SoftWare\\Dorvend\\OrvaneTuner\\Video");
  const char path[] = "/home/user/My \"clips\"\\a.avi";
  Set("Capture", REG_SZ, path, sizeof path);
  Set("Bright", REG_DWORD, "\1\2\3", 3);  // a number of the wrong size stays three bytes
  Set("Raw", REG_SZ, "abc", 3);          // a string stored without its NUL stays so
  orv::store::ResetForTests();           // forget the cache: read the file again
  Open("SoftWare\\Dorvend\\OrvaneTuner\\Video");
  char buf[255] = {};
  DWORD size = sizeof buf, type = 0, v = 0;
  ASSERT_EQ(ERROR_SUCCESS, Query("Capture", buf, &size));
  EXPECT_STREQ(path, buf);
  size = 5;
  EXPECT_EQ(ERROR_MORE_DATA, Query("Capture", buf, &size));
  EXPECT_EQ(sizeof path, size) << "the size needed, NUL included";
  EXPECT_EQ(ERROR_MORE_DATA, QueryDword("Bright", &v, 2));
  size = 4;
  EXPECT_EQ(ERROR_SUCCESS, Query("Bright", &v, &size));
  EXPECT_EQ(3u, size);
  size = sizeof buf;
  ASSERT_EQ(ERROR_SUCCESS, Query("Raw", buf, &size, &type));
  EXPECT_EQ(3u, size);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, QueryDword("Missing", &v));
}

TEST_F(Store, HandEditedFileWithContinuedHexAndCommentsIsRead) {
  WriteConfigFile("registry.reg",
                  "REGEDIT4\r\n\r\n; edited by hand\r\n[HKEY_LOCAL_MACHINE\\SoftWare\\Dorvend\\OrvaneTuner\\Video]\r\n"
                  "\"Blob\"=hex:01,02,\\\r\n  03\r\n\"Hue\"=dword:0000012c\r\n");
  orv::store::ResetForTests();
  Open("SoftWare\\Dorvend\\OrvaneTuner\\Video");
  DWORD v = 0, size = 8;
  BYTE blob[8];
  ASSERT_EQ(ERROR_SUCCESS, QueryDword("Hue", &v));
  EXPECT_EQ(300u, v);
  ASSERT_EQ(ERROR_SUCCESS, Query("Blob", blob, &size));
  EXPECT_EQ((std::vector<BYTE>{1, 2, 3}), std::vector<BYTE>(blob, blob + size));
}

TEST_F(Store, MalformedFileIsKeptAsideAndDefaultsApply) {
  for (const std::string& text : {std::string("this is not a registry file\n\x01\x02 garbage"), kHeader + "\"Panel_left\"=dwo"}) {
    SCOPED_TRACE(text);
    dir = orv::test::FreshConfigDir();
    WriteConfigFile("registry.reg", text);
    testing::internal::CaptureStderr();
    Open();
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("malformed"));
    DWORD v = 0;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, QueryDword("Panel_left", &v));
    SetDword("Panel_left", 5);
    const auto files = Files(dir);
    ASSERT_EQ(2u, files.size());
    EXPECT_EQ(0u, files[1].rfind("registry.reg.bad-", 0));
    EXPECT_EQ(text, orv::store::ReadFile(dir + "/" + files[1]).value());
    EXPECT_NE(std::string::npos, ReadConfigFile("registry.reg").find(kSection + "\"Panel_left\"=dword:00000005\n"));
  }
}

TEST_F(Store, EveryWriteReplacesTheFileWholeAndLeavesNoTemporaryFile) {
  Open();
  SetDword("Panel_left", 1);
  const auto inode = [&] {
    struct stat st {};
    return ::stat((dir + "/registry.reg").c_str(), &st) == 0 ? st.st_ino : 0;
  };
  const auto before = inode();
  SetDword("Panel_top", 2);
  EXPECT_NE(before, inode());  // a new file renamed over the old, not rewritten in place
  EXPECT_EQ(std::vector<std::string>{"registry.reg"}, Files(dir));
  // A directory where the file should be: the replacement cannot land and leaves nothing behind.
  fs::create_directories(dir + "/sub/registry.reg");
  EXPECT_FALSE(orv::store::ReplaceFileAtomically(dir + "/sub/registry.reg", "x"));
  EXPECT_TRUE(fs::is_directory(dir + "/sub/registry.reg"));
  EXPECT_EQ(std::vector<std::string>{"registry.reg"}, Files(dir + "/sub"));
}

TEST_F(Store, ReadOnlyFolderRunsOnWhatIsInMemoryAndSaysSo) {
  orv::test::ObeyFileModes plain;
  if (!plain.Active()) GTEST_SKIP() << "file modes cannot be made to hold";
  ::chmod(dir.c_str(), 0500);
  testing::internal::CaptureStderr();
  Open();
  EXPECT_NE(ERROR_SUCCESS, SetDword("Panel_left", 7));
  EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("cannot write"));
  ::chmod(dir.c_str(), 0700);
}

// A registry.reg or win.ini left by a run with sudo: there, but not ours to read.
TEST_F(Store, UnreadableFilesAreReportedOnceAndNeverWrittenOver) {
  orv::test::ObeyFileModes plain;
  if (!plain.Active()) GTEST_SKIP() << "file modes cannot be made to hold for this thread";
  const std::string reg = kHeader + "\"Panel_left\"=dword:00000007\n", ini = "[orvane]\nVideoDevice=2\n";
  WriteConfigFile("registry.reg", reg);
  WriteConfigFile("win.ini", ini);
  for (const char* name : {"/registry.reg", "/win.ini"}) ::chmod((dir + name).c_str(), 0);
  orv::store::ResetForTests();
  testing::internal::CaptureStderr();
  Open();
  DWORD v = 0;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, QueryDword("Panel_left", &v)) << "defaults apply";
  for (DWORD top : {8u, 9u}) {
    EXPECT_NE(ERROR_SUCCESS, SetDword("Panel_top", top));
    ASSERT_EQ(ERROR_SUCCESS, QueryDword("Panel_top", &v)) << "this run goes on with what it wrote";
    EXPECT_EQ(top, v);
  }
  EXPECT_EQ(4u, GetProfileIntA("orvane", "VideoDevice", 4));
  EXPECT_FALSE(WriteProfileStringA("orvane", "AudioDevice", "1"));
  EXPECT_FALSE(WriteProfileStringA("orvane", "AudioDevice", "2"));
  EXPECT_EQ(2u, GetProfileIntA("orvane", "AudioDevice", 0));
  const std::string err = testing::internal::GetCapturedStderr();
  for (const char* name : {"/registry.reg", "/win.ini"}) {
    const std::string said = "cannot read " + dir + name;
    EXPECT_NE(std::string::npos, err.find(said)) << err;
    EXPECT_EQ(std::string::npos, err.find(said, err.find(said) + 1)) << "said once: " << err;
    ::chmod((dir + name).c_str(), 0600);
  }
  EXPECT_EQ(reg, ReadConfigFile("registry.reg"));
  EXPECT_EQ(ini, ReadConfigFile("win.ini"));
  EXPECT_EQ((std::vector<std::string>{"registry.reg", "win.ini"}), Files(dir));
}

// The profile: defaults, names without case, values cut to the buffer, no key forged by a line break,
// garbage numbers read as the C library reads them, and the user's own lines kept.
TEST_F(Store, ProfileStringsIntsAndDefaults) {
  const std::string kept = "; user's notes\n[other]\nkeep=me\n[orvane]\n";
  WriteConfigFile("win.ini", kept + "VideoDevice=abc\nAudioDevice=99999999999999\njunk line without equals\n");
  orv::store::ResetForTests();
  EXPECT_EQ(0u, GetProfileIntA("orvane", "VideoDevice", 7));
  EXPECT_EQ(2147483647u, GetProfileIntA("orvane", "AudioDevice", 0));
  char buf[260];
  EXPECT_EQ(0u, GetProfileStringA("orvane", "CaptureFile", "", buf, sizeof buf));
  EXPECT_EQ(3u, GetProfileIntA("orvane", "Missing", 3));
  EXPECT_TRUE(WriteProfileStringA("orvane", "CaptureFile", "/tmp/a.avi\nMissing=9"));
  EXPECT_EQ(0u, GetProfileIntA("orvane", "Missing", 0));
  EXPECT_TRUE(WriteProfileStringA("orvane", "CaptureFile", "/tmp/a.avi"));
  EXPECT_TRUE(WriteProfileStringA("orvane", "VideoDevice", "5"));
  EXPECT_TRUE(WriteProfileStringA("ORVANE", "AudioDevice", "1"));
  orv::store::ResetForTests();
  EXPECT_EQ(10u, GetProfileStringA("Orvane", "capturefile", "", buf, sizeof buf));
  EXPECT_STREQ("/tmp/a.avi", buf);
  EXPECT_EQ(5u, GetProfileIntA("orvane", "VideoDevice", 0));
  EXPECT_EQ(1u, GetProfileIntA("orvane", "AudioDevice", 0));
  EXPECT_EQ(kept + "VideoDevice=5\nAudioDevice=1\njunk line without equals\nCaptureFile=/tmp/a.avi\n",
            ReadConfigFile("win.ini"));
  WriteProfileStringA("orvane", "CaptureFile", std::string(300, 'x').c_str());
  EXPECT_EQ(259u, GetProfileStringA("orvane", "CaptureFile", "", buf, sizeof buf)) << "cut to the buffer";
}

}  // namespace
