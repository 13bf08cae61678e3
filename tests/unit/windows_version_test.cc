#include "system/windows_version.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/setup_context.h"
#include "fakes/fake_platform.h"

namespace lexoria {
namespace {

using ::lexoria::testing::FakePlatform;
using ::lexoria::testing::View;
using platform::kHkeyLocalMachine;

constexpr char kCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr char kProductOptions[] = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";
constexpr char kQ246009[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009";
constexpr char kTemp[] = "C:\\Users\\u\\Temp";

// The path of the `n`-th CreateFileA call so far.
std::string CreatedFile(const ::lexoria::testing::FakeFileSystem& files, size_t n = 0) {
  for (const std::string& call : files.Calls()) {
    if (call.rfind("CreateFileA ", 0) == 0 && n-- == 0) {
      return call.substr(12, call.find(" access=") - 12);
    }
  }
  return {};
}

class WindowsVersionTest : public ::testing::Test {
 protected:
  // The interpreter starts and writes `output` to the standard output it has.
  void StageVer(const std::string& output) {
    p_->processes.process_starts = true;
    p_->processes.on_create_process = [this, output](const auto& call) {
      uint32_t written = 0;
      p_->files.WriteFile(call.child_output, output.data(), output.size(), &written);
    };
  }
  void SetVersion(uint32_t major, uint32_t minor, uint8_t product_type, uint16_t suite = 0,
                  uint16_t architecture = 0, uint32_t platform_id = 2) {
    p_->system.version =
        platform::OsVersionInfo{major, minor, 1000, platform_id, "", suite, product_type};
    p_->system.native_architecture = architecture;
  }
  std::string Edition() {
    std::string edition = "untouched", service_pack = "untouched";
    EXPECT_TRUE(QueryWindowsEdition(p_->os, random_, &edition, &service_pack));
    return edition;
  }
  size_t VerRuns() const { return p_->processes.create_process_calls.size(); }
  void TearDown() override {
    EXPECT_EQ(p_->registry.OpenKeyCount(), 0u) << "a registry key was left open";
    EXPECT_EQ(p_->files.OpenHandleCount(), 0u) << "a file was left open";
    EXPECT_EQ(p_->processes.OpenHandles(), 0u) << "a process handle was left open";
    EXPECT_TRUE(p_->files.List(kTemp).empty()) << "a temporary file was left in Temp";
  }

  // A fresh platform for the next row of a table, with an empty Temp.
  static std::unique_ptr<FakePlatform> Fresh() {
    auto platform = std::make_unique<FakePlatform>();
    platform->files.AddDirectory(kTemp);
    return platform;
  }
  void Reset() {
    holder_ = Fresh();
    p_ = holder_.get();
  }

  std::unique_ptr<FakePlatform> holder_ = Fresh();
  FakePlatform* p_ = holder_.get();
  RandomGenerator random_{42};
  SetupContext ctx_;
};

// Tests every row of the NT version words: the edition for each version and
// product type, and whether the "ver" probe ran.
TEST_F(WindowsVersionTest, NtVersionWordsTable) {
  struct Row {
    uint32_t major, minor;
    uint8_t type;
    uint16_t suite, arch;
    int server_r2;
    const char* ver;  // output of "ver", null: it must not run
    const char* expected;
  };
  // Major-6 rows use architecture 6, after which nothing is appended.
  const Row rows[] = {
      {3, 51, 1, 0, 0, 0, nullptr, "Microsoft Windows NT Unknown Workstation"},
      {4, 0, 1, 0, 0, 0, nullptr, "Microsoft Windows NT Workstation"},
      {5, 0, 1, 0, 0, 0, nullptr, "Microsoft Windows 2000 Professional"},
      {5, 1, 1, 0, 0, 0, nullptr, "Microsoft Windows XP Professional"},
      {5, 2, 3, 0, 0, 1, nullptr, "Microsoft Windows Server 2003 R2 Standard"},
      {5, 2, 3, 0x2000, 0, 1, nullptr, "Microsoft Windows Server 2003 R2 Standard"},
      {5, 2, 3, 0x2000, 0, 0, nullptr, "Microsoft Windows Storage Server 2003Standard"},
      {5, 2, 3, 0x2002, 0, 0, nullptr, "Microsoft Windows Server 2003 Enterprise"},
      {5, 2, 1, 0, 9, 0, nullptr, "Microsoft Windows XP Professional x64"},
      {5, 2, 3, 0, 9, 0, nullptr, "Microsoft Windows Server 2003 Standard x64"},
      {5, 2, 1, 0, 0, 0, nullptr, "Microsoft Windows Server 2003 Professional"},
      {5, 3, 1, 0, 0, 0, nullptr, "Microsoft Windows Unknown version Professional"},
      {6, 0, 1, 0, 6, 0, nullptr, "Microsoft Windows Vista "},
      {6, 0, 3, 0, 6, 0, nullptr, "Microsoft Windows Server 2008 "},
      {6, 1, 1, 0, 6, 0, nullptr, "Microsoft Windows 7 "},
      {6, 1, 2, 0, 6, 0, nullptr, "Microsoft Windows Server 2008 R2 "},
      {6, 2, 1, 0, 6, 0, "\r\nMicrosoft Windows [Version 6.2.9200]\r\n", "Microsoft Windows 8 "},
      {6, 2, 3, 0, 6, 0, "\r\nMicrosoft Windows [Version 6.2.9200]\r\n",
       "Microsoft Windows Server 2012 "},
      {6, 2, 1, 0, 6, 0, "\r\nMicrosoft Windows [Version 6.3.9600]\r\n", "Microsoft Windows 8.1 "},
      {6, 2, 3, 0, 6, 0, "Microsoft Windows [Version 6.3.9600] 10",
       "Microsoft Windows Server 2012 R2 "},
      {6, 2, 1, 0, 6, 0, "\r\nMicrosoft Windows [Version 10.0.19045.3803]\r\n",
       "Microsoft Windows 10 "},
      {6, 2, 3, 0, 6, 0, "Microsoft Windows [Version 10.0.20348]", "Microsoft Windows Server 10 "},
      {6, 2, 1, 0, 6, 0, "Microsoft Windows [Version 6.4.9841]", "Microsoft Windows 6 "},
      {6, 2, 2, 0, 6, 0, "Microsoft Windows [Version 6.4.9841]", "Microsoft Windows Server 6 "},
      {6, 3, 1, 0, 6, 0, nullptr, "Microsoft Windows 8.1 "},
      {6, 3, 3, 0, 6, 0, nullptr, "Microsoft Windows Server 2012 R2 "},
      {6, 4, 1, 0, 6, 0, nullptr, "Microsoft Windows "},
      {10, 0, 1, 0, 9, 0, nullptr, "Microsoft Windows 10 Unknown Workstation"},
      {10, 0, 3, 0, 9, 0, nullptr, "Microsoft Windows Server 2016 Unknown Server"},
      {10, 0, 2, 0, 9, 0, nullptr, "Microsoft Windows Server 2016 Unknown Domain controller"},
      {10, 1, 1, 0, 9, 0, nullptr, "Microsoft Windows Unknown Workstation"},
      {2, 0, 1, 0, 0, 0, "Microsoft Windows [Version 2.1]",
       "Microsoft Windows 2 Unknown Workstation"},
      {0, 0, 1, 0, 0, 0, "Microsoft Windows [Version 0.1]",
       "Microsoft Windows 0 Unknown Workstation"},
      {7, 0, 3, 0, 0, 0, "Microsoft Windows [Version 7.0.1]",
       "Microsoft Windows Server 7 Unknown Server"},
      {9, 5, 1, 0, 0, 0, "Version 9.5", "Microsoft Windows 9 Unknown Workstation"},
      {11, 0, 2, 0, 9, 0, "Microsoft Windows [Version 11.0.1]",
       "Microsoft Windows Server 11 Unknown Domain controller"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.expected) + " (" + std::to_string(row.major) + "." +
                 std::to_string(row.minor) + ")");
    Reset();
    SetVersion(row.major, row.minor, row.type, row.suite, row.arch);
    p_->system.metrics[89] = row.server_r2;
    if (row.ver != nullptr) StageVer(row.ver);
    EXPECT_EQ(Edition(), row.expected);
    EXPECT_EQ(VerRuns(), row.ver != nullptr ? 1u : 0u);
    EXPECT_TRUE(p_->files.List(kTemp).empty());
  }
}

// Tests every row of the product-type table (extended information, major
// version other than 6), with the version words before it.
TEST_F(WindowsVersionTest, ProductTypeTable) {
  struct Row {
    uint32_t major, minor;
    uint8_t type;
    uint16_t suite, arch;
    std::map<int, int> metrics;
    const char* expected;
  };
  const Row rows[] = {
      {4, 0, 1, 0, 0, {}, "Microsoft Windows NT Workstation"},
      {5, 2, 1, 0x0200, 9, {{88, 1}}, "Microsoft Windows XP Professional x64"},
      {5, 1, 1, 0x0200, 0, {{88, 1}, {87, 1}}, "Microsoft Windows XP Starter"},
      {5, 1, 1, 0x0200, 0, {{87, 1}, {86, 1}}, "Microsoft Windows XP Media Center"},
      {5, 1, 1, 0x0200, 0, {{86, 1}}, "Microsoft Windows XP Tablet PC"},
      {5, 1, 1, 0x0240, 0, {}, "Microsoft Windows XP Home"},
      {5, 1, 1, 0x0040, 0, {}, "Microsoft Windows XP Embedded"},
      {5, 1, 1, 0x0100, 0, {}, "Microsoft Windows XP Professional"},
      {5, 0, 1, 0, 0, {{88, 0}}, "Microsoft Windows 2000 Professional"},
      {3, 51, 1, 0, 0, {}, "Microsoft Windows NT Unknown Workstation"},
      {4, 0, 3, 0x0002, 0, {}, "Microsoft Windows NT Server 4.0 Enterprise"},
      {4, 0, 2, 0x0080, 0, {}, "Microsoft Windows NT Server 4.0"},
      {5, 0, 3, 0x0082, 0, {}, "Microsoft Windows 2000 Datacenter Server"},
      {5, 0, 2, 0x0002, 0, {}, "Microsoft Windows 2000 Advanced Server"},
      {5, 0, 3, 0, 0, {}, "Microsoft Windows 2000 Server"},
      {5, 2, 3, 0x4082, 0, {}, "Microsoft Windows Server 2003 Computer Cluster"},
      {5, 2, 3, 0x0082, 0, {}, "Microsoft Windows Server 2003 Datacenter"},
      {5, 2, 2, 0x0402, 0, {}, "Microsoft Windows Server 2003 Enterprise"},
      {5, 2, 3, 0x0400, 0, {}, "Microsoft Windows Server 2003 Web"},
      {5, 2, 3, 0x0410, 0, {}, "Microsoft Windows Server 2003 Standard"},
      {5, 2, 3, 0, 0, {}, "Microsoft Windows Server 2003 Standard"},
      {5,
       2,
       3,
       0x0082,
       6,
       {},
       "Microsoft Windows Server 2003 Datacenter for Itanium-based Systems"},
      {5,
       2,
       3,
       0x0002,
       6,
       {},
       "Microsoft Windows Server 2003 Enterprise for Itanium-based Systems"},
      {5, 2, 2, 0x4000, 6, {}, "Microsoft Windows Server 2003 Standard Itanium-based"},
      {5, 2, 3, 0x0082, 9, {}, "Microsoft Windows Server 2003 Datacenter x64"},
      {5, 2, 3, 0x0002, 9, {}, "Microsoft Windows Server 2003 Enterprise x64"},
      {5, 2, 3, 0x4400, 9, {}, "Microsoft Windows Server 2003 Standard x64"},
      {5, 2, 3, 0, 5, {}, "Microsoft Windows Server 2003 Unknown on Architecture 0x5"},
      {5, 2, 2, 0, 12, {}, "Microsoft Windows Server 2003 Unknown on Architecture 0xC"},
      {5, 2, 3, 0, 0xABCD, {}, "Microsoft Windows Server 2003 Unknown on Architecture 0xABCD"},
      {5, 1, 3, 0, 0, {}, "Microsoft Windows XP Unknown Server"},
      {5, 1, 2, 0, 0, {}, "Microsoft Windows XP Unknown Domain controller"},
      {5, 3, 3, 0, 0, {}, "Microsoft Windows Unknown version Unknown Server"},
      {5, 7, 2, 0, 0, {}, "Microsoft Windows Unknown version Unknown Domain controller"},
      {3, 51, 3, 0, 0, {}, "Microsoft Windows NT Unknown Server"},
      {3, 51, 2, 0, 0, {}, "Microsoft Windows NT Unknown Domain controller"},
      {5, 1, 0, 0, 0, {}, "Microsoft Windows XP Unknown"},
      {5, 1, 4, 0, 0, {}, "Microsoft Windows XP Unknown"},
      {4, 0, 255, 0, 0, {}, "Microsoft Windows NT Unknown"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.expected);
    Reset();
    SetVersion(row.major, row.minor, row.type, row.suite, row.arch);
    p_->system.metrics = row.metrics;
    EXPECT_EQ(Edition(), row.expected);
  }
}

// Tests the 9x table top to bottom, with its service-pack letter and build
// (low 16 bits only).
TEST_F(WindowsVersionTest, NineXTable) {
  struct Row {
    uint32_t major, minor, build;
    const char* csd;
    const char* expected;
  };
  const Row rows[] = {
      {4, 0, 1111, " C", "95 OSR 2.0"}, {4, 3, 1212, "", "95 OSR 2.1"},
      {4, 0, 1213, " C", "95 OSR 2.1"}, {4, 0, 0x04000000 | 1214, " C", "95 OSR 2.5"},
      {4, 0, 1214, " B", "95 OSR 2.1"}, {4, 0, 1081, " A", "95 OSR 2.x"},
      {4, 0, 1080, " A", "95 OSR 1"},   {4, 3, 950, " W", "95 OSR 1"},
      {4, 0, 950, " B", "95"},          {4, 0, 950, "", "95"},
      {4, 10, 1998, "", "98"},          {4, 10, 2222, "", "98 SE"},
      {4, 10, 1998, " A", "98 SE"},     {4, 10, 1998, " B", "98 SE"},
      {4, 10, 1998, " C", "98"},        {4, 90, 3000, "", "Millennium"},
      {4, 20, 0, "", "Unknown 9x"},     {5, 0, 0, "", "Unknown 9x"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.expected) + " build " + std::to_string(row.build));
    Reset();
    p_->system.version = platform::OsVersionInfo{row.major, row.minor, row.build, 1, row.csd, 0, 0};
    std::string edition, service_pack;
    ASSERT_TRUE(QueryWindowsEdition(p_->os, random_, &edition, &service_pack));
    EXPECT_EQ(edition, std::string("Microsoft Windows ") + row.expected);
    EXPECT_EQ(service_pack, row.csd);
    EXPECT_EQ(VerRuns(), 0u);
    EXPECT_TRUE(p_->registry.Calls().empty());
  }
}

// Tests the Vista-family edition words: the 64-bit view's ProductName
// replaces the name, and the architecture adds its bitness.
TEST_F(WindowsVersionTest, VistaFamilyProductNameAndBitness) {
  struct Row {
    uint16_t arch;
    const char* product_name;  // null: no value
    const char* expected;
  };
  const Row rows[] = {
      {9, "Windows 7 Ultimate", "Windows 7 Ultimate 64-bit"},
      {0, "Windows 7 Ultimate", "Windows 7 Ultimate 32-bit"},
      {6, "Windows Server 2008 R2", "Windows Server 2008 R2"},
      {12, "Windows 7 Ultimate", "Windows 7 Ultimate"},
      {9, nullptr, "Microsoft Windows 7  64-bit"},
      {9, "", " 64-bit"},  // a zero-byte value reads as empty text and empties the name
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.expected);
    Reset();
    SetVersion(6, 1, 1, 0, row.arch);
    p_->registry.AddKey(kHkeyLocalMachine, kCurrentVersion, View::k64);
    p_->registry.SetString(kHkeyLocalMachine, kCurrentVersion, "ProductName", "Wrong view",
                           View::k32);
    if (row.product_name != nullptr && *row.product_name != '\0') {
      p_->registry.SetString(kHkeyLocalMachine, kCurrentVersion, "ProductName", row.product_name);
    } else if (row.product_name != nullptr) {
      p_->registry.SetValue(kHkeyLocalMachine, kCurrentVersion, "ProductName", platform::kRegSz,
                            {});
    }
    EXPECT_EQ(Edition(), row.expected);
    EXPECT_EQ(p_->registry.Calls().front(),
              "RegOpenKeyExA HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION sam=0x000F013F");
  }
}

// Tests that a ProductName that is not text, a refused key and a missing key
// all leave the words built so far, and start-up goes on.
TEST_F(WindowsVersionTest, UnreadableProductNameKeepsName) {
  for (int variant = 0; variant < 4; ++variant) {
    SCOPED_TRACE(variant);
    Reset();
    SetVersion(6, 0, 1, 0, 9);
    switch (variant) {
      case 0:
        p_->registry.SetDword(kHkeyLocalMachine, kCurrentVersion, "ProductName", 7);
        break;
      case 1:
        p_->registry.SetString(kHkeyLocalMachine, kCurrentVersion, "ProductName", "X");
        p_->registry.FailDataQuery(kHkeyLocalMachine, kCurrentVersion, "ProductName",
                                   platform::kErrorAccessDenied);
        break;
      case 2:
        p_->registry.SetString(kHkeyLocalMachine, kCurrentVersion, "ProductName", "X");
        p_->registry.MakeReadOnly(kHkeyLocalMachine, kCurrentVersion);
        break;
      case 3:
        break;
    }
    EXPECT_EQ(Edition(), "Microsoft Windows Vista  64-bit");
  }
}

// Tests that the probe runs for 6.2 even when ProductName then replaces the
// name, and only once.
TEST_F(WindowsVersionTest, VerRunsOnceEvenWhenProductNameWins) {
  SetVersion(6, 2, 1, 0x0100, 9);
  p_->registry.SetString(kHkeyLocalMachine, kCurrentVersion, "ProductName", "Windows 10 Pro");
  StageVer("\r\nMicrosoft Windows [Version 10.0.19045.3803]\r\n");
  p_->system.version.csd_version = "";
  EXPECT_EQ(IdentifyWindows(ctx_, p_->os, random_), "Windows 10 Pro 64-bit");
  EXPECT_TRUE(ctx_.Is64BitWindows);
  EXPECT_EQ(VerRuns(), 1u);
}

// Tests the ProductOptions words used without extended information, each
// row a stored ProductType.
TEST_F(WindowsVersionTest, ProductOptionsWithoutExtendedInformation) {
  struct Row {
    bool key;
    uint32_t type;
    const char* text;
    const char* expected;
  };
  const Row rows[] = {
      {true, platform::kRegSz, "WinNT", "Microsoft Windows NT Workstation"},
      {true, platform::kRegSz, "LanmanNt", "Microsoft Windows NT Server"},
      {true, platform::kRegSz, "SERVERNT", "Microsoft Windows NT Advanced Server"},
      {true, platform::kRegSz, "Terminal", "Microsoft Windows NT Unknown"},
      {true, platform::kRegSz, "", "Microsoft Windows NT Unknown"},
      {true, platform::kRegExpandSz, "WinNT", "Microsoft Windows NT "},
      {true, platform::kRegNone, nullptr, "Microsoft Windows NT "},
      {false, 0, nullptr, "Microsoft Windows NT "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.expected);
    Reset();
    SetVersion(4, 0, 1);
    p_->system.version.suite_mask = 0x0002;
    p_->system.extended_version_fails = true;
    if (row.key) p_->registry.AddKey(kHkeyLocalMachine, kProductOptions);
    if (row.text != nullptr) {
      std::vector<uint8_t> data(row.text, row.text + std::char_traits<char>::length(row.text));
      data.push_back(0);
      data.push_back('X');  // bytes after the NUL are not part of the text
      p_->registry.SetValue(kHkeyLocalMachine, kProductOptions, "ProductType", row.type, data);
    }
    EXPECT_EQ(Edition(), row.expected);
    if (row.key) {
      EXPECT_EQ(p_->registry.Calls().front(),
                "RegOpenKeyExA HKLM\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\PRODUCTOPTIONS "
                "sam=0x00000001");
    }
  }
  // A value longer than the 256-byte buffer does not fit: nothing appended.
  Reset();
  SetVersion(6, 1, 1, 0, 9);
  p_->system.extended_version_fails = true;
  p_->registry.SetString(kHkeyLocalMachine, kProductOptions, "ProductType", std::string(300, 'W'));
  // Without the extended record the product type reads 0: not a workstation.
  EXPECT_EQ(Edition(), "Microsoft Windows Server 2008 R2 ") << "no product type, no bitness";
}

// Tests that both version queries failing, or an unknown platform, fail the
// identification as "unknown" and leave Is64BitWindows as it was.
TEST_F(WindowsVersionTest, FailedIdentification) {
  p_->system.extended_version_fails = true;
  p_->system.plain_version_fails = true;
  EXPECT_EQ(IdentifyWindows(ctx_, p_->os, random_), "unknown");
  EXPECT_FALSE(ctx_.Is64BitWindows);

  for (uint32_t platform_id : {0u, 3u}) {
    Reset();
    SetVersion(6, 1, 1, 0, 9, platform_id);
    ctx_.Is64BitWindows = true;
    std::string edition = "kept", service_pack = "kept";
    EXPECT_FALSE(QueryWindowsEdition(p_->os, random_, &edition, &service_pack));
    EXPECT_EQ(edition, "kept");
    EXPECT_EQ(IdentifyWindows(ctx_, p_->os, random_), "unknown");
    EXPECT_TRUE(ctx_.Is64BitWindows) << "untouched";
  }
}

// Tests the joined text and the " 64" rule over the cases that matter.
TEST_F(WindowsVersionTest, IdentifyJoinsServicePackAndSets64Bit) {
  struct Row {
    uint32_t major, minor;
    uint8_t type;
    uint16_t arch;
    const char* product_name;
    const char* csd;
    const char* expected;
    bool is_64;
  };
  const Row rows[] = {
      {6, 1, 1, 0, "Windows 7 Professional", "Service Pack 1",
       "Windows 7 Professional 32-bit Service Pack 1", false},
      {6, 1, 1, 9, nullptr, "", "Microsoft Windows 7  64-bit", true},
      {5, 2, 1, 9, nullptr, "Service Pack 2",
       "Microsoft Windows XP Professional x64 Service Pack 2", false},
      {5, 2, 3, 9, nullptr, "", "Microsoft Windows Server 2003 Standard x64", false},
      {10, 0, 1, 9, "Windows 10 Pro", "", "Microsoft Windows 10 Unknown Workstation", false},
      {6, 0, 1, 6, "Windows Vista", "", "Windows Vista", false},
      {6, 0, 1, 12, "Windows Vista", "", "Windows Vista", false},
      {6, 1, 1, 9, "Windows 7", " \t\r\n", "Windows 7 64-bit", true},
      {6, 1, 1, 0, "Windows 7", " SP1 ", "Windows 7 32-bit  SP1 ", false},
      {6, 1, 1, 0, "Server 64", "", "Server 64 32-bit", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.expected);
    Reset();
    SetVersion(row.major, row.minor, row.type, 0, row.arch);
    p_->system.version.csd_version = row.csd;
    if (row.product_name != nullptr) {
      p_->registry.SetString(kHkeyLocalMachine, kCurrentVersion, "ProductName", row.product_name);
    }
    ctx_.Is64BitWindows = !row.is_64;
    EXPECT_EQ(IdentifyWindows(ctx_, p_->os, random_), row.expected);
    EXPECT_EQ(ctx_.Is64BitWindows, row.is_64);
  }
}

// Tests that the architecture comes from GetNativeSystemInfo when kernel32
// has it, and from GetSystemInfo otherwise.
TEST_F(WindowsVersionTest, ArchitectureSource) {
  SetVersion(6, 1, 1, 0, 9);
  p_->system.architecture = 0;
  EXPECT_EQ(Edition(), "Microsoft Windows 7  64-bit");
  p_->system.has_native_system_info = false;
  EXPECT_EQ(Edition(), "Microsoft Windows 7  32-bit");
}

// Tests the Service Pack 6a rule of NT 4.0.
TEST_F(WindowsVersionTest, NtFourServicePack6a) {
  struct Row {
    uint32_t major;
    const char* csd;
    bool hotfix;
    const char* expected;
  };
  const Row rows[] = {
      {4, "Service Pack 6", true, "Service Pack 6a"},
      {4, "Service Pack 6", false, "Service Pack 6"},
      {4, "service pack 6", true, "service pack 6"},
      {4, "Service Pack 5", true, "Service Pack 5"},
      {5, "Service Pack 6", true, "Service Pack 6"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.csd) + (row.hotfix ? " with hotfix" : ""));
    Reset();
    SetVersion(row.major, 0, 1);
    p_->registry.windows_64bit = false;  // NT 4.0 and 2000 exist only as 32-bit systems
    p_->system.version.csd_version = row.csd;
    if (row.hotfix) p_->registry.AddKey(kHkeyLocalMachine, kQ246009);
    std::string edition, service_pack;
    ASSERT_TRUE(QueryWindowsEdition(p_->os, random_, &edition, &service_pack));
    EXPECT_EQ(service_pack, row.expected);
  }
}

// Tests the generic words from "ver" output: the text between the fourth
// character after the first "ion" and the first ".".
TEST_F(WindowsVersionTest, GenericWordsFromVerOutput) {
  struct Row {
    uint8_t type;
    const char* ver;
    const char* expected;
  };
  const Row rows[] = {
      {1, "Microsoft Windows [Version 6.4.9841]", "Microsoft Windows 6 "},
      {3, "Microsoft Windows [Version 6.4.9841]", "Microsoft Windows Server 6 "},
      {1, "abcdefg.h", "Microsoft Windows defg "},  // no "ion": from the 4th character
      {1, ".ion 7.0", "Microsoft Windows  "},       // the first "." lies before the start
      {1, "Version 7", "Microsoft Windows  "},      // no "."
      {1, "Version.7", "Microsoft Windows  "},
      {1, "Version .7", "Microsoft Windows  "},  // "." right at the start: empty
      {1, "Version 6.4 Beta.", "Microsoft Windows 6 "},
      {1, "", "Microsoft Windows  "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.ver);
    Reset();
    SetVersion(6, 2, row.type, 0, 6);
    StageVer(row.ver);
    EXPECT_EQ(Edition(), row.expected);
  }
}

// Tests 6.2 with "ComSpec" unset: nothing is started and only the blank (and
// "Server " for a server) is added.
TEST_F(WindowsVersionTest, NoComSpecStartsNothing) {
  for (uint8_t type : {1, 3}) {
    Reset();
    p_->system.environment.erase("COMSPEC");
    SetVersion(6, 2, type, 0, 6);
    EXPECT_EQ(Edition(), type == 1 ? "Microsoft Windows  " : "Microsoft Windows Server  ");
    EXPECT_EQ(VerRuns(), 0u);
  }
}

class CaptureCommandOutputTest : public WindowsVersionTest {};

// Tests the command line, flags and start-up information of the probe, the
// bounded wait, the closed handles and the deleted file.
TEST_F(CaptureCommandOutputTest, RunsHiddenAndCleansUp) {
  StageVer("\r\nMicrosoft Windows [Version 10.0.19045.3803]\r\n");
  EXPECT_EQ(CaptureCommandOutput(p_->os, random_, "ver"),
            "\r\nMicrosoft Windows [Version 10.0.19045.3803]\r\n");
  ASSERT_EQ(p_->processes.create_process_calls.size(), 1u);
  const auto& call = p_->processes.create_process_calls[0];
  const std::string file = CreatedFile(p_->files);
  EXPECT_EQ(call.application, "C:\\Windows\\system32\\cmd.exe");
  EXPECT_EQ(call.command_line, "C:\\Windows\\system32\\cmd.exe /d /v:off /c ver");
  const std::string prefix = std::string(kTemp) + "\\";
  ASSERT_EQ(file.size(), prefix.size() + 8) << file;
  EXPECT_EQ(file.substr(0, prefix.size()), prefix);
  for (char c : file.substr(prefix.size())) EXPECT_TRUE(c >= 'a' && c <= 'z') << file;
  EXPECT_EQ(call.creation_flags, 0x210u);
  EXPECT_EQ(call.startup.flags, 0x101u);
  EXPECT_EQ(call.startup.show_window, 0);
  EXPECT_EQ(call.startup.std_error, call.startup.std_output);
  ASSERT_EQ(p_->processes.waits.size(), 1u);
  EXPECT_EQ(p_->processes.waits[0].milliseconds, 10000u);
  EXPECT_TRUE(p_->processes.terminated.empty());
  EXPECT_FALSE(p_->files.Exists(file));
  EXPECT_EQ(p_->processes.bad_closes, 0);
}

// Tests which interpreter runs for each "ComSpec": the value only when it is
// cmd.exe in the system directory (any letter case), else that cmd.exe; the
// accepted path is the application name and starts the command line.
TEST_F(CaptureCommandOutputTest, InterpreterIsTheSystemsCmd) {
  struct Row {
    const char* system_dir;
    const char* comspec;
    const char* application;  // null: nothing is run
  };
  const Row rows[] = {
      {"C:\\Windows\\system32", "C:\\Windows\\system32\\cmd.exe", "C:\\Windows\\system32\\cmd.exe"},
      {"C:\\Windows\\system32", "c:\\WINDOWS\\SYSTEM32\\CMD.EXE", "c:\\WINDOWS\\SYSTEM32\\CMD.EXE"},
      {"C:\\Windows\\system32", "C:\\Users\\u\\Downloads\\cmd.exe",
       "C:\\Windows\\system32\\cmd.exe"},
      {"C:\\Windows\\system32", "C:\\Users\\u\\planted.exe", "C:\\Windows\\system32\\cmd.exe"},
      {"C:\\Windows\\system32", "cmd.exe", "C:\\Windows\\system32\\cmd.exe"},
      {"C:\\Windows\\system32", "\"C:\\Windows\\system32\\cmd.exe\"",
       "C:\\Windows\\system32\\cmd.exe"},
      {"C:\\Windows\\system32", "C:\\Windows\\system32\\cmd.exe /k x.bat",
       "C:\\Windows\\system32\\cmd.exe"},
      {"C:\\Windows\\system32", "C:\\Windows\\system32\\cmd.exe.exe",
       "C:\\Windows\\system32\\cmd.exe"},
      {"C:\\Windows\\system32\\", "C:\\Windows\\system32\\cmd.exe",
       "C:\\Windows\\system32\\cmd.exe"},
      {"", "C:\\Windows\\system32\\cmd.exe", nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.system_dir) + " | " + row.comspec);
    Reset();
    p_->system.system_dir = row.system_dir;
    p_->system.environment["COMSPEC"] = row.comspec;
    StageVer("v");
    const std::string output = CaptureCommandOutput(p_->os, random_, "ver");
    if (row.application == nullptr) {
      EXPECT_EQ(output, "");
      EXPECT_EQ(VerRuns(), 0u);
      continue;
    }
    EXPECT_EQ(output, "v\r\n");
    ASSERT_EQ(VerRuns(), 1u);
    const auto& call = p_->processes.create_process_calls[0];
    EXPECT_EQ(call.application, row.application);
    EXPECT_EQ(call.command_line, std::string(row.application) + " /d /v:off /c ver");
  }
}

// Tests that a "Temp" holding a double quote or a percent sign is never put
// into the command line: nothing is run, and the result is that of a
// command that did not start.
TEST_F(CaptureCommandOutputTest, TempUnfitForTheCommandLineRunsNothing) {
  for (const char* temp : {"C:\\T\" & evil & \"", "C:\\%USERPROFILE%", "C:\\100%", "C:\\a\"b"}) {
    SCOPED_TRACE(temp);
    Reset();
    p_->system.environment["TEMP"] = temp;
    StageVer("v");
    EXPECT_EQ(CaptureCommandOutput(p_->os, random_, "ver"), "\r\n");
    EXPECT_EQ(VerRuns(), 0u);
  }
}

// Tests an interpreter that does not end: after 10 seconds it is terminated,
// given a moment to go, its handles are closed and whatever it wrote is
// neither used nor left behind.
TEST_F(CaptureCommandOutputTest, HungInterpreterIsTerminated) {
  StageVer("Microsoft Windows [Version 10.0.1]");
  p_->processes.wait_result = platform::kWaitTimeout;
  EXPECT_EQ(CaptureCommandOutput(p_->os, random_, "ver"), "\r\n");
  ASSERT_EQ(p_->processes.waits.size(), 2u);
  EXPECT_EQ(p_->processes.waits[0].milliseconds, 10000u);
  EXPECT_EQ(p_->processes.terminated, std::vector<platform::Handle>{p_->processes.waits[0].handle});
  EXPECT_EQ(p_->processes.waits[1].handle, p_->processes.waits[0].handle);
  EXPECT_LE(p_->processes.waits[1].milliseconds, 5000u);
  EXPECT_EQ(p_->processes.bad_closes, 0);
}

// Tests that at most the first 64 KiB of the output file are read.
TEST_F(CaptureCommandOutputTest, ReadsAtMost64KiB) {
  StageVer(std::string(64 * 1024 - 1, 'v') + "\nw" + std::string(100000, 'x'));
  EXPECT_EQ(CaptureCommandOutput(p_->os, random_, "ver"), std::string(64 * 1024 - 1, 'v') + "\r\n");
}

// Tests the line reading: each line followed by CR LF, at least one line.
TEST_F(CaptureCommandOutputTest, LinesEndInCrLf) {
  struct Row {
    const char* content;
    const char* expected;
  };
  const Row rows[] = {
      {"", "\r\n"},
      {"one", "one\r\n"},
      {"one\n", "one\r\n"},
      {"one\ntwo", "one\r\ntwo\r\n"},
      {"one\r\n\r\n", "one\r\n\r\n"},
      {"\r\n\r\nx\r\n", "\r\n\r\nx\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.content);
    Reset();
    StageVer(row.content);
    EXPECT_EQ(CaptureCommandOutput(p_->os, random_, "ver"), row.expected);
  }
  // Longer than one read.
  Reset();
  const std::string line(5000, 'v');
  StageVer(line + "\r\n" + line);
  EXPECT_EQ(CaptureCommandOutput(p_->os, random_, "ver"), line + "\r\n" + line + "\r\n");
}

// Tests that the whole output goes through the conversion, also what follows
// a NUL byte.
TEST_F(CaptureCommandOutputTest, ConvertsFromOemCodePage) {
  StageVer(std::string("\x8F\0\xE0\xA8", 4));  // "П", NUL, "ри" in code page 866
  p_->system.oem_to_char = [](std::string text) {
    const std::map<unsigned char, char> code_page_866_to_1251 = {
        {0x8F, '\xCF'}, {0xE0, '\xF0'}, {0xA8, '\xE8'}};
    for (char& c : text) {
      auto it = code_page_866_to_1251.find(static_cast<unsigned char>(c));
      if (it != code_page_866_to_1251.end()) c = it->second;
    }
    return text;
  };
  EXPECT_EQ(CaptureCommandOutput(p_->os, random_, "ver"), std::string("\xCF\0\xF0\xE8\r\n", 6));
  EXPECT_EQ(p_->system.oem_to_char_inputs,
            std::vector<std::string>{std::string("\x8F\0\xE0\xA8\r\n", 6)});
}

// Tests the failure paths: each still ends with the file gone and no handle
// open.
TEST_F(CaptureCommandOutputTest, FailurePaths) {
  // ComSpec missing, empty, or too long for its 260-character buffer.
  for (const char* comspec : {static_cast<const char*>(nullptr), "", "long"}) {
    SCOPED_TRACE(comspec == nullptr ? "unset" : comspec);
    Reset();
    if (comspec == nullptr) {
      p_->system.environment.erase("COMSPEC");
    } else {
      p_->system.environment["COMSPEC"] =
          std::string(comspec) == "long" ? "C:\\" + std::string(256, 'c') + ".exe" : comspec;
    }
    StageVer("x");
    EXPECT_EQ(CaptureCommandOutput(p_->os, random_, "ver"), "");
    EXPECT_EQ(VerRuns(), 0u);
  }
  // 259 characters still fit.
  Reset();
  p_->system.environment["COMSPEC"] = "C:\\" + std::string(252, 'c') + ".exe";
  StageVer("x");
  EXPECT_EQ(CaptureCommandOutput(p_->os, random_, "ver"), "x\r\n");

  // The interpreter does not start: one empty line.
  Reset();
  EXPECT_EQ(CaptureCommandOutput(p_->os, random_, "ver"), "\r\n");
  ASSERT_EQ(VerRuns(), 1u);
  EXPECT_TRUE(p_->processes.waits.empty());

  // The wait fails: the handles are closed all the same.
  Reset();
  StageVer("y");
  p_->processes.wait_result = 0xFFFFFFFF;
  EXPECT_EQ(CaptureCommandOutput(p_->os, random_, "ver"), "y\r\n");

  // The file cannot be read.
  Reset();
  StageVer("z");
  p_->processes.on_create_process = [this](const auto&) {
    p_->files.FailReadsOf(CreatedFile(p_->files));
  };
  EXPECT_EQ(CaptureCommandOutput(p_->os, random_, "ver"), "\r\n");
}

// Tests that a name already taken in Temp, by a link planted there, is left
// as it is for a new one: nothing is made where the link leads.
TEST_F(CaptureCommandOutputTest, TakenNameIsLeftForANewOne) {
  RandomGenerator same_draws{42};
  std::string taken;
  for (int i = 0; i < 8; ++i) taken.push_back(static_cast<char>('a' + same_draws.Below(26)));
  p_->files.AddFileLink(std::string(kTemp) + "\\" + taken, "C:\\Users\\u\\evil");
  p_->processes.process_starts = true;
  p_->processes.on_create_process = [this](const auto& call) {
    EXPECT_FALSE(p_->files.Exists("C:\\Users\\u\\evil")) << "made through the link";
    uint32_t written = 0;
    p_->files.WriteFile(call.child_output, "v", 1, &written);
  };
  EXPECT_EQ(CaptureCommandOutput(p_->os, random_, "ver"), "v\r\n");
  EXPECT_EQ(p_->files.List(kTemp), std::vector<std::string>{taken});
  Reset();  // the fixture checks Temp is empty; the link is meant to stay
}

// Tests where the file lies for each "Temp": with a backslash added, as is,
// or in the current directory when "Temp" is unset.
TEST_F(CaptureCommandOutputTest, TemporaryFileDirectory) {
  struct Row {
    const char* temp;  // null: unset
    const char* directory;
  };
  const Row rows[] = {{"D:\\T", "D:\\T\\"}, {"D:\\T\\", "D:\\T\\"}, {nullptr, ""}, {"", ""}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.directory);
    Reset();
    if (row.temp == nullptr) {
      p_->system.environment.erase("TEMP");
    } else {
      p_->system.environment["TEMP"] = row.temp;
    }
    CaptureCommandOutput(p_->os, random_, "ver");
    const std::string file = CreatedFile(p_->files);
    ASSERT_EQ(file.size(), std::string(row.directory).size() + 8) << file;
    EXPECT_EQ(file.substr(0, file.size() - 8), row.directory);
  }
}

// Tests that successive names differ: the letters come from the generator.
TEST_F(CaptureCommandOutputTest, NamesComeFromGenerator) {
  CaptureCommandOutput(p_->os, random_, "ver");
  CaptureCommandOutput(p_->os, random_, "ver");
  ASSERT_EQ(VerRuns(), 2u);
  EXPECT_NE(CreatedFile(p_->files, 0), CreatedFile(p_->files, 1));
}

}  // namespace
}  // namespace lexoria
