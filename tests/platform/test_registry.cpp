#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/registry.h"
#include "platform/registry_document.h"

namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteText(const fs::path& p, const std::string& text) {
  // Through a rename, as an editor or another server would.
  const fs::path tmp = p.string() + ".edit";
  std::ofstream(tmp, std::ios::binary) << text;
  fs::rename(tmp, p);
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/norvoopc-reg-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    saved_ = GetRegistryLocation();
    SetRegistryLocation(RegistryLocation::InFolder(dir_.string()));
  }
  void TearDown() override {
    SetRegistryLocation(saved_);
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }
  fs::path File(const char* root = "HKEY_LOCAL_MACHINE") const {
    return dir_ / (std::string(root) + ".reg");
  }
  // What another process reading the file would see.
  RegDocument FromDisk() const {
    return RegDocument::Parse(ReadText(File()), "HKEY_LOCAL_MACHINE", nullptr);
  }

  fs::path dir_;
  RegistryLocation saved_;
};

constexpr const char* kKey = "SOFTWARE\\Mirandole\\NorvoOPC\\Settings";

}  // namespace

TEST_F(RegistryTest, ValuesOfEveryTypeRoundTripThroughTheFile) {
  struct Case {
    std::string name;
    RegType type;
    std::string text;
    int32_t number;
  };
  const Case cases[] = {
      {"", RegType::Sz, "default value", 0},
      {"Quote\"d", RegType::Sz, "C:\\Program Files\\\"x\"\\", 0},
      {"back\\slash", RegType::Sz, "", 0},
      {"a=b]c", RegType::Sz, "x=y]z", 0},
      {"@", RegType::Sz, "not the default", 0},
      {"Ünïcödé 日本", RegType::Sz, "Grüße, 日本語 😀", 0},
      {"Lines", RegType::Sz, "one\r\ntwo\n", 0},
      {"Tab", RegType::Sz, "a\tb", 0},
      {"NotUtf8", RegType::Sz, std::string("\xff\xfe\x80 and \x01"), 0},
      {"Expand", RegType::ExpandSz, "%SystemRoot%\\ü;\"q\"", 0},
      {"ExpandEmpty", RegType::ExpandSz, "", 0},
      {"ExpandLong", RegType::ExpandSz, std::string(300, 'x'), 0},
      {"Zero", RegType::Dword, "", 0},
      {"Minus", RegType::Dword, "", -1},
      {"Min", RegType::Dword, "", INT32_MIN},
      {"Ten", RegType::Dword, "", 10},
  };
  TRegistry reg(RegRoot::LocalMachine);
  ASSERT_TRUE(reg.OpenKey(kKey, true)) << reg.LastError();
  for (const Case& c : cases) {
    const bool ok = c.type == RegType::Dword   ? reg.WriteInteger(c.name, c.number)
                    : c.type == RegType::Sz    ? reg.WriteString(c.name, c.text)
                                               : reg.WriteExpandString(c.name, c.text);
    ASSERT_TRUE(ok) << c.name << ": " << reg.LastError();
  }
  const RegDocument disk = FromDisk();
  const RegKey* key = disk.FindKey(kKey);
  ASSERT_NE(key, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(reg.GetDataType(c.name), c.type);
    const RegValueData* v = key->FindValue(c.name);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->type, c.type);
    EXPECT_TRUE(v->Readable());
    if (c.type == RegType::Dword) {
      EXPECT_EQ(static_cast<int32_t>(v->dword), c.number);
      EXPECT_EQ(reg.ReadInteger(c.name), c.number);
    } else {
      EXPECT_EQ(v->text, c.text);
      EXPECT_EQ(reg.ReadString(c.name), c.text);
    }
  }
  // The file is in the export format.
  const std::string text = ReadText(File());
  EXPECT_TRUE(text.starts_with("Windows Registry Editor Version 5.00\n"));
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mirandole\\NorvoOPC\\Settings]\n"),
            std::string::npos);
  EXPECT_NE(text.find("@=\"default value\"\n"), std::string::npos);
  EXPECT_NE(text.find("\"Quote\\\"d\"=\"C:\\\\Program Files\\\\\\\"x\\\"\\\\\"\n"),
            std::string::npos);
  EXPECT_NE(text.find("\"Ten\"=dword:0000000a\n"), std::string::npos);
  EXPECT_NE(text.find("\"Minus\"=dword:ffffffff\n"), std::string::npos);
  EXPECT_NE(text.find("\"ExpandEmpty\"=hex(2):00,00\n"), std::string::npos);
}

TEST_F(RegistryTest, NamesCompareWithoutCaseAndKeepTheirStoredCase) {
  TRegistry reg(RegRoot::LocalMachine);
  ASSERT_TRUE(reg.OpenKey("Software\\Größe\\Ключ", true));
  ASSERT_TRUE(reg.WriteInteger("MaxBlock", 1));
  ASSERT_TRUE(reg.WriteInteger("MAXBLOCK", 2));
  EXPECT_EQ(reg.GetValueNames(), std::vector<std::string>{"MaxBlock"});
  EXPECT_EQ(reg.ReadInteger("maxblock"), 2);

  TRegistry other(RegRoot::LocalMachine);
  ASSERT_TRUE(other.OpenKeyReadOnly("SOFTWARE\\GRÖSSE\\КЛЮЧ") == false);  // ß is not SS
  ASSERT_TRUE(other.OpenKeyReadOnly("SOFTWARE\\GRÖßE\\КЛЮЧ"));
  EXPECT_EQ(other.ReadInteger("MaxBlock"), 2);
  ASSERT_TRUE(other.OpenKeyReadOnly("\\software"));
  EXPECT_EQ(other.GetKeyNames(), std::vector<std::string>{"Größe"});
}

TEST_F(RegistryTest, KeysOpenLevelByLevelRelativeToTheCurrentKey) {
  TRegistry reg(RegRoot::LocalMachine);
  for (const char* level : {"SOFTWARE", "Mirandole", "NorvoOPC", "Configuration"})
    ASSERT_TRUE(reg.OpenKey(level, true)) << level;
  EXPECT_EQ(reg.CurrentPath(), "SOFTWARE\\Mirandole\\NorvoOPC\\Configuration");
  ASSERT_TRUE(reg.WriteInteger("ProjectsCount", 0));
  EXPECT_TRUE(reg.KeyExists("\\SOFTWARE\\Mirandole"));
  EXPECT_FALSE(reg.KeyExists("SOFTWARE"));  // relative: ...\Configuration\SOFTWARE
  for (const char* bad : {"a\\\\b", "line\nbreak"}) {
    EXPECT_FALSE(reg.OpenKey(bad, true)) << bad;
    EXPECT_FALSE(reg.LastError().empty());
  }
  EXPECT_EQ(reg.CurrentPath(), "SOFTWARE\\Mirandole\\NorvoOPC\\Configuration");
}

TEST_F(RegistryTest, ReadOnlyAccessCreatesNothingAndCannotWrite) {
  TRegistry reg(RegRoot::LocalMachine);
  EXPECT_FALSE(reg.OpenKeyReadOnly(kKey));
  EXPECT_FALSE(reg.OpenKey(kKey, false));
  EXPECT_NE(reg.LastError().find("not found"), std::string::npos);
  EXPECT_FALSE(reg.WriteInteger("x", 1));  // no key open
  EXPECT_FALSE(fs::exists(File()));

  ASSERT_TRUE(reg.OpenKey(kKey, true));
  ASSERT_TRUE(reg.OpenKeyReadOnly("\\SOFTWARE"));
  EXPECT_FALSE(reg.WriteString("x", "y"));
  EXPECT_NE(reg.LastError().find("read-only"), std::string::npos);
  EXPECT_FALSE(reg.ValueExists("x"));
}

TEST_F(RegistryTest, ValueOfAnotherTypeIsUnreadable) {
  WriteText(File(),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\K]\n"
            "\"Str\"=\"12\"\n"
            "\"Num\"=dword:0000000c\n"
            "\"Multi\"=hex(7):41,00,00,00,00,00\n"
            "\"Bin\"=hex:01,02\n");
  TRegistry reg(RegRoot::LocalMachine);
  ASSERT_TRUE(reg.OpenKey("K", false));
  EXPECT_EQ(reg.ReadInteger("Str"), std::nullopt);
  EXPECT_EQ(reg.ReadString("Num"), std::nullopt);
  EXPECT_EQ(reg.ReadString("Multi"), std::nullopt);
  EXPECT_EQ(reg.ReadInteger("Bin"), std::nullopt);
  EXPECT_EQ(reg.GetDataType("Multi"), static_cast<RegType>(7));
  EXPECT_EQ(reg.GetDataType("Missing"), RegType::None);
  // Values of types this store does not handle survive a rewrite.
  ASSERT_TRUE(reg.WriteInteger("Num", 13));
  const std::string text = ReadText(File());
  EXPECT_NE(text.find("\"Multi\"=hex(7):41,00,00,00,00,00\n"), std::string::npos);
  EXPECT_NE(text.find("\"Bin\"=hex:01,02\n"), std::string::npos);
}

TEST_F(RegistryTest, ReadsExportFilesOfTheWindowsEditor) {
  // UTF-16LE with BOM and CRLF, a continued hex(2) value, delete directives.
  const std::string utf8 =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\A\\B]\r\n"
      "\"Path\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,5c,00,fc,00,\\\r\n"
      "  00,00\r\n"
      "\"Gone\"=\"x\"\r\n"
      "\"Gone\"=-\r\n"
      "\"Hex4\"=hex(4):0a,00,00,00\r\n"
      "[HKEY_LOCAL_MACHINE\\A\\Old]\r\n"
      "[-HKEY_LOCAL_MACHINE\\A\\Old]\r\n";
  std::string bytes = "\xff\xfe";
  for (unsigned char c : utf8) {
    if (c == 0xC3) continue;  // only ü (C3 BC) is non-ASCII here
    const unsigned cp = c == 0xBC ? 0xFC : c;
    bytes += static_cast<char>(cp);
    bytes += '\0';
  }
  WriteText(File(), bytes);
  TRegistry reg(RegRoot::LocalMachine);
  ASSERT_TRUE(reg.OpenKeyReadOnly("A\\B"));
  EXPECT_EQ(reg.ReadString("Path"), "%TEMP%\\ü");
  EXPECT_EQ(reg.GetDataType("Path"), RegType::ExpandSz);
  EXPECT_FALSE(reg.ValueExists("Gone"));
  EXPECT_EQ(reg.ReadInteger("Hex4"), 10);
  EXPECT_FALSE(reg.KeyExists("\\A\\Old"));
  EXPECT_TRUE(reg.KeyExists("\\A"));  // named only through its child
}

TEST_F(RegistryTest, DeleteKeyTakesItsSubkeysAndEnumerationListsTheRest) {
  TRegistry reg(RegRoot::CurrentUser);
  for (const char* k : {"R\\b", "R\\A\\x\\y", "R\\c", "Rest"}) ASSERT_TRUE(reg.OpenKey("\\" + std::string(k), true));
  ASSERT_TRUE(reg.OpenKey("\\R", true));
  ASSERT_TRUE(reg.WriteInteger("v2", 2));
  ASSERT_TRUE(reg.WriteString("v1", "1"));
  EXPECT_EQ(reg.GetKeyNames(), (std::vector<std::string>{"A", "b", "c"}));
  EXPECT_EQ(reg.GetValueNames(), (std::vector<std::string>{"v2", "v1"}));
  ASSERT_TRUE(reg.DeleteValue("V2"));
  EXPECT_FALSE(reg.DeleteValue("v2"));
  EXPECT_EQ(reg.GetValueNames(), std::vector<std::string>{"v1"});

  ASSERT_TRUE(reg.DeleteKey("a"));
  EXPECT_FALSE(reg.KeyExists("A\\x\\y"));
  EXPECT_FALSE(reg.DeleteKey("A"));
  EXPECT_EQ(reg.GetKeyNames(), (std::vector<std::string>{"b", "c"}));
  reg.CloseKey();
  ASSERT_TRUE(reg.DeleteKey("R"));
  EXPECT_EQ(reg.GetKeyNames(), std::vector<std::string>{"Rest"});  // "Rest" is not below "R"
  EXPECT_FALSE(reg.DeleteKey(""));
  EXPECT_TRUE(fs::exists(File("HKEY_CURRENT_USER")));
}

TEST_F(RegistryTest, WritersOfOtherProcessesAreNotOverwritten) {
  TRegistry reg(RegRoot::LocalMachine);
  ASSERT_TRUE(reg.OpenKey(kKey, true));
  ASSERT_TRUE(reg.WriteInteger("Mine", 1));
  ASSERT_EQ(reg.ReadInteger("Mine"), 1);  // cached now

  // An editor adds a value and changes ours behind our back.
  std::string text = ReadText(File());
  text += "[HKEY_LOCAL_MACHINE\\Other]\n\"Theirs\"=\"t\"\n";
  const size_t at = text.find("dword:00000001");
  text.replace(at, 14, "dword:00000007");
  WriteText(File(), text);
  EXPECT_EQ(reg.ReadInteger("Mine"), 7);

  ASSERT_TRUE(reg.WriteInteger("Second", 2));
  const RegDocument disk = FromDisk();
  ASSERT_NE(disk.FindKey("Other"), nullptr);
  EXPECT_NE(disk.FindKey("Other")->FindValue("Theirs"), nullptr);
  EXPECT_NE(disk.FindKey(kKey)->FindValue("Mine"), nullptr);

  // A real second process writing at the same time as this one.
  constexpr int kEach = 40;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TRegistry r(RegRoot::LocalMachine);
    bool ok = r.OpenKey(kKey, true);
    for (int i = 0; ok && i < kEach; ++i) ok = r.WriteInteger("child" + std::to_string(i), i);
    _exit(ok ? 0 : 1);
  }
  for (int i = 0; i < kEach; ++i) ASSERT_TRUE(reg.WriteInteger("parent" + std::to_string(i), i));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int i = 0; i < kEach; ++i) {
    EXPECT_EQ(reg.ReadInteger("child" + std::to_string(i)), i);
    EXPECT_EQ(reg.ReadInteger("parent" + std::to_string(i)), i);
  }
}

TEST_F(RegistryTest, PreviousFileIsKeptAsBackup) {
  TRegistry reg(RegRoot::LocalMachine);
  ASSERT_TRUE(reg.OpenKey(kKey, true));
  EXPECT_FALSE(fs::exists(File().string() + ".bak"));  // nothing to keep yet
  ASSERT_TRUE(reg.WriteInteger("n", 1));
  const std::string before = ReadText(File());
  ASSERT_TRUE(reg.WriteInteger("n", 2));
  EXPECT_EQ(ReadText(File().string() + ".bak"), before);
  // Unchanged data writes nothing.
  const std::string now = ReadText(File());
  ASSERT_TRUE(reg.WriteInteger("n", 2));
  EXPECT_EQ(ReadText(File().string() + ".bak"), before);
  EXPECT_EQ(ReadText(File()), now);
}

TEST_F(RegistryTest, FolderThatCannotBeCreatedFailsWrites) {
  // The folder's parent is a regular file: no one, root included, can write.
  std::ofstream(dir_ / "plain") << "x";
  SetRegistryLocation(RegistryLocation::InFolder((dir_ / "plain" / "registry").string()));
  TRegistry reg(RegRoot::LocalMachine);
  EXPECT_FALSE(reg.OpenKey(kKey, true));
  EXPECT_NE(reg.LastError().find("registry folder"), std::string::npos) << reg.LastError();
  EXPECT_FALSE(reg.OpenKeyReadOnly(kKey));  // reads as empty
  EXPECT_EQ(reg.LastError().find("folder"), std::string::npos);
}

TEST_F(RegistryTest, FailedReplacementKeepsTheStoredFile) {
  TRegistry reg(RegRoot::LocalMachine);
  ASSERT_TRUE(reg.OpenKey(kKey, true));
  ASSERT_TRUE(reg.WriteInteger("kept", 1));
  const std::string before = ReadText(File());
  // The temporary file cannot be made, whoever runs the test.
  const fs::path tmp = File().string() + ".tmp" + std::to_string(getpid());
  fs::create_directory(tmp);
  EXPECT_FALSE(reg.WriteInteger("kept", 2));
  EXPECT_FALSE(reg.LastError().empty());
  EXPECT_EQ(ReadText(File()), before);
  EXPECT_EQ(reg.ReadInteger("kept"), 1);
  fs::remove(tmp);
  EXPECT_TRUE(reg.WriteInteger("kept", 2));
}

TEST_F(RegistryTest, ReadOnlyFileOrFolderFailsWrites) {
  if (geteuid() == 0) GTEST_SKIP() << "permission bits do not stop root";
  TRegistry reg(RegRoot::LocalMachine);
  ASSERT_TRUE(reg.OpenKey(kKey, true));
  ASSERT_TRUE(reg.WriteInteger("kept", 1));
  const std::string before = ReadText(File());
  fs::permissions(File(), fs::perms::owner_read);
  EXPECT_FALSE(reg.WriteInteger("kept", 2));
  fs::permissions(File(), fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_FALSE(reg.WriteInteger("kept", 3));
  EXPECT_FALSE(reg.LastError().empty());
  EXPECT_FALSE(reg.OpenKey("New", true));
  EXPECT_EQ(ReadText(File()), before);
  EXPECT_EQ(reg.ReadInteger("kept"), 1);
}

TEST_F(RegistryTest, MalformedLinesAreReportedOnceAndKeptByWrites) {
  const std::string bad[] = {
      "garbage before any key",
      "\"NoEquals\" dword:1",
      "\"BadDword\"=dword:xyz",
      "\"BadHex\"=hex(2):4",
      "[HKEY_LOCAL_MACHINE\\Broken",
      "\"UnderBroken\"=\"lost?\"",
      "[HKEY_CURRENT_USER\\Wrong]",
  };
  WriteText(File(), "Windows Registry Editor Version 5.00\n\n" + bad[0] +
                        "\n\n[HKEY_LOCAL_MACHINE\\Good]\n\"A\"=\"a\"\n" + bad[1] + "\n; a comment\n" +
                        bad[2] + "\n\"B\"=dword:00000002\n" + bad[3] + "\n" + bad[4] + "\n" + bad[5] +
                        "\n" + bad[6] + "\n\"C\"=\"c\"\n");
  TRegistry reg(RegRoot::LocalMachine);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(reg.OpenKey("Good", false));
  EXPECT_EQ(reg.ReadString("A"), "a");
  EXPECT_EQ(reg.ReadInteger("B"), 2);
  EXPECT_FALSE(reg.ValueExists("UnderBroken"));  // its key is unknown
  ASSERT_TRUE(reg.WriteString("New", "n"));
  ASSERT_TRUE(reg.WriteString("Newer", "n"));
  const std::string err = testing::internal::GetCapturedStderr();
  for (const std::string& line : {bad[0], bad[2], bad[4], bad[5], bad[6]}) {
    const size_t first = err.find(line);
    EXPECT_NE(first, std::string::npos) << line;
    EXPECT_EQ(err.find(line, first + 1), std::string::npos) << line;  // once
  }
  const std::string after = ReadText(File());
  for (const std::string& line : bad) EXPECT_NE(after.find(line + "\n"), std::string::npos) << line;
  EXPECT_NE(after.find("; a comment\n"), std::string::npos);
  // Lines of the broken block stay together, after their header.
  EXPECT_NE(after.find(bad[4] + "\n" + bad[5] + "\n"), std::string::npos);
  EXPECT_NE(after.find(bad[6] + "\n\"C\"=\"c\"\n"), std::string::npos);
}

TEST(RegDocumentTest, RewritingKeptLinesIsAFixedPoint) {
  // Each save rereads the file and writes it again: kept text must neither
  // grow, lose a character nor join the lines around it (which could even
  // turn two kept lines into a value).
  const std::string inputs[] = {
      "\\",
      "\\\\\n\t",
      "W\r\r",
      "; note\r\r\n[HKEY_LOCAL_MACHINE\\K]\n\"Bad\"=dword:x\r\r\n",
      "\"Pre\"=hex:zz,\\\n\n  zz\n",
      "[HKEY_LOCAL_MACHINE\\K]\n\"Cut\"=hex:01,\\\n\n  02\n\"A\"=\"a\"\n",
      "[HKEY_LOCAL_MACHINE\\K]\n\"Cut\"=hex:01,\\\n  02,\\\n",
  };
  for (const std::string& in : inputs) {
    SCOPED_TRACE(testing::PrintToString(in));
    std::vector<RegBadLine> bad1, bad2;
    const std::string once = RegDocument::Parse(in, "HKEY_LOCAL_MACHINE", &bad1).Serialize();
    const std::string twice = RegDocument::Parse(once, "HKEY_LOCAL_MACHINE", &bad2).Serialize();
    EXPECT_EQ(twice, once);
    const auto texts = [](const std::vector<RegBadLine>& bad) {
      std::vector<std::string> t;
      for (const RegBadLine& b : bad) t.push_back(b.text);
      return t;
    };
    EXPECT_EQ(texts(bad2), texts(bad1));
  }
  const std::string text =
      RegDocument::Parse("W\r\r\n\\", "HKEY_LOCAL_MACHINE", nullptr).Serialize();
  EXPECT_EQ(text, "Windows Registry Editor Version 5.00\n\nW\n\\\n\n");
}

TEST(RegDocumentTest, HexDataContinuesOnlyOntoItsOwnLines) {
  const std::string in =
      "[HKEY_LOCAL_MACHINE\\K]\n"
      "\"Cut\"=hex:01,\\\n"
      "[HKEY_LOCAL_MACHINE\\L]\n"
      "\"A\"=\"a\"\n"
      "\"Cut2\"=hex(2):41,00,\\\n"
      "\n"
      "\"B\"=dword:00000002\n"
      "\"Str\"=\"x\\\\\"\n"
      "\"Multi\"=hex(7):41,00,\\\n"
      "00,00\n"
      "\"Wide\"=hex(1):41,00,\\\n"
      "\t42,00\n";
  std::vector<RegBadLine> bad;
  const RegDocument doc = RegDocument::Parse(in, "HKEY_LOCAL_MACHINE", &bad);
  ASSERT_NE(doc.FindKey("K"), nullptr);
  EXPECT_TRUE(doc.FindKey("K")->ValueNames().empty());
  const RegKey* l = doc.FindKey("L");
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(l->ValueNames(), (std::vector<std::string>{"A", "B", "Str", "Multi", "Wide"}));
  EXPECT_EQ(l->FindValue("Str")->text, "x\\");
  EXPECT_EQ(l->FindValue("Multi")->raw, "hex(7):41,00,00,00");
  EXPECT_EQ(l->FindValue("Wide")->text, "AB");
  ASSERT_EQ(bad.size(), 2u);
  EXPECT_EQ(bad[0].text, "\"Cut\"=hex:01,\\");
  EXPECT_EQ(bad[1].line, 5);
}

TEST(RegistryLocationTest, FollowsTheEnvironment) {
  const auto setOrUnset = [](const char* name, const char* value) {
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  };
  const auto saved = [](const char* name) -> std::optional<std::string> {
    const char* v = std::getenv(name);
    return v ? std::optional<std::string>(v) : std::nullopt;
  };
  const auto dirEnv = saved("NORVOOPC_REGISTRY_DIR"), xdg = saved("XDG_CONFIG_HOME"), home = saved("HOME");

  setenv("NORVOOPC_REGISTRY_DIR", "/srv/reg", 1);
  RegistryLocation l = RegistryLocation::FromEnvironment();
  EXPECT_EQ(l.localMachineDir, "/srv/reg");
  EXPECT_EQ(l.currentUserDir, "/srv/reg");
  EXPECT_EQ(l.classesRootDir, "/srv/reg");

  unsetenv("NORVOOPC_REGISTRY_DIR");
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  l = RegistryLocation::FromEnvironment();
  EXPECT_EQ(l.localMachineDir, "/var/lib/norvoopc/registry");
  EXPECT_EQ(l.classesRootDir, "/var/lib/norvoopc/registry");
  EXPECT_EQ(l.currentUserDir, "/cfg/norvoopc");
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", "/home/op", 1);
  EXPECT_EQ(RegistryLocation::FromEnvironment().currentUserDir, "/home/op/.config/norvoopc");

  setOrUnset("NORVOOPC_REGISTRY_DIR", dirEnv ? dirEnv->c_str() : nullptr);
  setOrUnset("XDG_CONFIG_HOME", xdg ? xdg->c_str() : nullptr);
  setOrUnset("HOME", home ? home->c_str() : nullptr);
}
