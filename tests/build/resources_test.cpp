// Reads the resources back out of the built Quillmart-Setup.exe and checks each of them: only an icon group and a
// version resource are present, the group holds the four 32-bit images, and every version field is exact.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// The executable's Unix path (from the build) as Wine shows it: Z: and backslashes.
std::wstring setupPath() {
  std::wstring path = L"Z:";
  for (const char* p = QMT_SETUP_EXE; *p != '\0'; ++p) path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return path;
}

struct ResourceBytes {
  const std::uint8_t* data = nullptr;
  DWORD size = 0;
};

class SetupResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(setupPath().c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << "GetLastError " << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }

  ResourceBytes resource(LPCWSTR type, LPCWSTR name) const {
    HRSRC found = FindResourceW(module_, name, type);
    if (found == nullptr) return {};
    HGLOBAL loaded = LoadResource(module_, found);
    return {static_cast<const std::uint8_t*>(LockResource(loaded)), SizeofResource(module_, found)};
  }

  std::vector<ULONG_PTR> names(LPCWSTR type) const {
    std::vector<ULONG_PTR> found;
    EnumResourceNamesW(
        module_, type,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR list) -> BOOL {
          reinterpret_cast<std::vector<ULONG_PTR>*>(list)->push_back(
              IS_INTRESOURCE(name) ? reinterpret_cast<ULONG_PTR>(name) : ULONG_PTR(-1));
          return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&found));
    return found;
  }

  HMODULE module_ = nullptr;
};

TEST_F(SetupResources, HoldOnlyIconsIconGroupAndVersion) {
  std::set<ULONG_PTR> types;
  EnumResourceTypesW(
      module_,
      [](HMODULE, LPWSTR type, LONG_PTR set) -> BOOL {
        // A named type would show up as -1 and fail the comparison.
        reinterpret_cast<std::set<ULONG_PTR>*>(set)->insert(IS_INTRESOURCE(type) ? reinterpret_cast<ULONG_PTR>(type)
                                                                                 : ULONG_PTR(-1));
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&types));
  const std::set<ULONG_PTR> expected = {reinterpret_cast<ULONG_PTR>(RT_ICON),
                                        reinterpret_cast<ULONG_PTR>(RT_GROUP_ICON),
                                        reinterpret_cast<ULONG_PTR>(RT_VERSION)};
  EXPECT_EQ(types, expected) << "no manifest, no other resource";
  EXPECT_EQ(names(RT_GROUP_ICON).size(), 1u);
  EXPECT_EQ(names(RT_ICON).size(), 4u);
  EXPECT_EQ(names(RT_VERSION).size(), 1u);
}

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colorCount, reserved;
  WORD planes, bitCount;
  DWORD bytesInRes;
  WORD id;
};
#pragma pack(pop)
static_assert(sizeof(GroupIconEntry) == 14);

std::uint32_t bigEndian32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

TEST_F(SetupResources, IconGroupHoldsFourThirtyTwoBitImages) {
  std::vector<ULONG_PTR> groups = names(RT_GROUP_ICON);
  ASSERT_EQ(groups.size(), 1u);
  ResourceBytes group = resource(RT_GROUP_ICON, MAKEINTRESOURCEW(groups[0]));
  ASSERT_GE(group.size, 6u);
  WORD header[3];
  std::memcpy(header, group.data, sizeof header);
  EXPECT_EQ(header[0], 0) << "reserved";
  EXPECT_EQ(header[1], 1) << "type: icon";
  ASSERT_EQ(header[2], 4) << "image count";
  ASSERT_EQ(group.size, 6u + 4 * sizeof(GroupIconEntry));

  std::set<int> sizes;
  for (int i = 0; i < 4; ++i) {
    GroupIconEntry entry;
    std::memcpy(&entry, group.data + 6 + i * sizeof entry, sizeof entry);
    const int side = entry.width == 0 ? 256 : entry.width;  // 0 stands for 256
    SCOPED_TRACE(side);
    sizes.insert(side);
    EXPECT_EQ(entry.height, entry.width);
    EXPECT_EQ(entry.bitCount, 32);
    EXPECT_EQ(entry.planes, 1);
    EXPECT_EQ(entry.colorCount, 0);

    ResourceBytes image = resource(RT_ICON, MAKEINTRESOURCEW(entry.id));
    ASSERT_NE(image.data, nullptr);
    ASSERT_EQ(image.size, entry.bytesInRes);
    ASSERT_GE(image.size, 40u);
    static constexpr std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (std::memcmp(image.data, kPng, sizeof kPng) == 0) {
      // IHDR: width, height, bit depth 8, colour type 6 (RGBA): 32 bits per pixel.
      EXPECT_EQ(std::memcmp(image.data + 12, "IHDR", 4), 0);
      EXPECT_EQ(bigEndian32(image.data + 16), std::uint32_t(side));
      EXPECT_EQ(bigEndian32(image.data + 20), std::uint32_t(side));
      EXPECT_EQ(image.data[24], 8);
      EXPECT_EQ(image.data[25], 6);
    } else {
      BITMAPINFOHEADER bitmap;
      std::memcpy(&bitmap, image.data, sizeof bitmap);
      EXPECT_EQ(bitmap.biSize, sizeof bitmap);
      EXPECT_EQ(bitmap.biWidth, side);
      EXPECT_EQ(bitmap.biHeight, 2 * side) << "colour and mask rows";
      EXPECT_EQ(bitmap.biBitCount, 32);
      EXPECT_EQ(bitmap.biCompression, DWORD(BI_RGB));
    }
  }
  EXPECT_EQ(sizes, (std::set<int>{16, 32, 48, 256}));
}

// One node of a version resource: length, value length, type, key, then the value and the child nodes, each
// aligned to four bytes.
struct VersionNode {
  std::wstring key;
  const std::uint8_t* children = nullptr;
  const std::uint8_t* end = nullptr;
};

std::size_t alignFour(std::size_t n) { return (n + 3) & ~std::size_t(3); }

// The nodes between first and end; an empty list when the structure is malformed.
std::vector<VersionNode> versionChildren(const std::uint8_t* first, const std::uint8_t* end, bool& malformed) {
  std::vector<VersionNode> nodes;
  const std::uint8_t* p = first;
  while (p + 6 <= end) {
    WORD length, valueLength, type;
    std::memcpy(&length, p, 2);
    std::memcpy(&valueLength, p + 2, 2);
    std::memcpy(&type, p + 4, 2);
    if (length < 6 || p + length > end) {
      malformed = true;
      return {};
    }
    const std::uint8_t* nodeEnd = p + length;
    VersionNode node;
    std::size_t offset = 6;
    for (;;) {
      if (offset + 2 > length) {
        malformed = true;
        return {};
      }
      wchar_t unit;
      std::memcpy(&unit, p + offset, 2);
      offset += 2;
      if (unit == L'\0') break;
      node.key += unit;
    }
    offset = alignFour(offset);
    // Text values count UTF-16 units, binary values bytes.
    offset += type == 1 ? std::size_t(valueLength) * 2 : valueLength;
    offset = alignFour(offset);
    node.children = p + std::min<std::size_t>(offset, length);
    node.end = nodeEnd;
    nodes.push_back(node);
    p = p + alignFour(length);
  }
  return nodes;
}

TEST_F(SetupResources, VersionStringTableHoldsExactlyTheEightFields) {
  ResourceBytes version = resource(RT_VERSION, MAKEINTRESOURCEW(1));
  ASSERT_NE(version.data, nullptr);
  bool malformed = false;
  std::vector<VersionNode> root = versionChildren(version.data, version.data + version.size, malformed);
  ASSERT_EQ(root.size(), 1u);
  EXPECT_EQ(root[0].key, L"VS_VERSION_INFO");
  std::map<std::wstring, VersionNode> blocks;
  for (const VersionNode& n : versionChildren(root[0].children, root[0].end, malformed)) blocks[n.key] = n;
  ASSERT_EQ(blocks.size(), 2u);
  ASSERT_EQ(blocks.count(L"StringFileInfo"), 1u);
  ASSERT_EQ(blocks.count(L"VarFileInfo"), 1u);
  const VersionNode& strings = blocks[L"StringFileInfo"];
  std::vector<VersionNode> tables = versionChildren(strings.children, strings.end, malformed);
  ASSERT_EQ(tables.size(), 1u) << "one string table";
  EXPECT_EQ(tables[0].key, L"040904B0");
  std::set<std::wstring> keys;
  for (const VersionNode& n : versionChildren(tables[0].children, tables[0].end, malformed)) keys.insert(n.key);
  EXPECT_FALSE(malformed);
  EXPECT_EQ(keys, (std::set<std::wstring>{L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName",
                                          L"LegalCopyright", L"OriginalFilename", L"ProductName",
                                          L"ProductVersion"}));
}

class SetupVersionInfo : public ::testing::Test {
 protected:
  void SetUp() override {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(setupPath().c_str(), &ignored);
    ASSERT_NE(size, 0u) << "GetLastError " << GetLastError();
    block_.resize(size);
    ASSERT_TRUE(GetFileVersionInfoW(setupPath().c_str(), 0, size, block_.data()));
  }

  // The value at `path`; its length as VerQueryValueW reports it.
  const void* query(const std::wstring& path, UINT& length) {
    void* value = nullptr;
    length = 0;
    if (!VerQueryValueW(block_.data(), path.c_str(), &value, &length)) return nullptr;
    return value;
  }

  std::vector<std::uint8_t> block_;
};

TEST_F(SetupVersionInfo, FixedVersionsAreOneZeroZeroZero) {
  UINT length = 0;
  auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query(L"\\", length));
  ASSERT_NE(fixed, nullptr);
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "no debug, pre-release or patched flag";
}

TEST_F(SetupVersionInfo, TranslationIsUsEnglishUnicode) {
  UINT length = 0;
  auto* translation = static_cast<const WORD*>(query(L"\\VarFileInfo\\Translation", length));
  ASSERT_NE(translation, nullptr);
  ASSERT_EQ(length, 4u) << "exactly one language and code page";
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 1200);
}

TEST_F(SetupVersionInfo, StringFieldsAreExact) {
  struct Field {
    const wchar_t* name;
    const wchar_t* value;
  };
  static constexpr Field kFields[] = {
      {L"CompanyName", L"Farrowind"},
      {L"FileDescription", L"Quillmart Setup"},
      {L"FileVersion", L"1.0.0"},
      {L"InternalName", L"Quillmart-Setup"},
      {L"LegalCopyright", L"\u00A9 2026 Farrowind"},  // one unit for the sign: the script was read as UTF-8
      {L"OriginalFilename", L"Quillmart-Setup.exe"},
      {L"ProductName", L"Quillmart"},
      {L"ProductVersion", L"1.0.0"},
  };
  for (const Field& field : kFields) {
    SCOPED_TRACE(field.name);
    UINT length = 0;
    auto* text = static_cast<const wchar_t*>(query(std::wstring(L"\\StringFileInfo\\040904B0\\") + field.name, length));
    ASSERT_NE(text, nullptr);
    const std::size_t units = std::wcslen(field.value);
    // The length counts the terminating NUL; the text must end there, with nothing after it.
    ASSERT_EQ(length, units + 1);
    EXPECT_EQ(std::wstring(text, units), field.value);
    EXPECT_EQ(text[units], L'\0');
  }
}

}  // namespace
