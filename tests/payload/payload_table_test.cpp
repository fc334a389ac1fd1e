// The payload table of the default setup, as linked into this test: its order and names, where the streams lie in
// memory, and that each unpacks to exactly the input file of the build.
#include "payload/payload_table.h"

#include <windows.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "payload/unpack.h"

namespace qmt {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes readInput(const char* unixPath) {
  std::ifstream in(std::string("Z:") + unixPath, std::ios::binary);
  EXPECT_TRUE(in.good()) << unixPath;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Input {
  const char* fileName;
  const char* path;
};
const Input kInputs[kPayloadEntryCount] = {{"WebView2Loader.dll", QMT_TEST_PAYLOAD_DLL},
                                           {"Quillmart.exe", QMT_TEST_PAYLOAD_EXE}};

unsigned expectedGrowths(std::uint64_t compressedSize, std::size_t size) {
  unsigned growths = 0;
  for (std::uint64_t length = 2 * compressedSize; length < size; length *= 2) ++growths;
  return growths;
}

// The name of this module's section that holds `address`.
std::string sectionOf(const void* address) {
  const auto* base = reinterpret_cast<const std::uint8_t*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  const auto rva = static_cast<std::uintptr_t>(static_cast<const std::uint8_t*>(address) - base);
  for (unsigned i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section)
    if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->Misc.VirtualSize)
      return std::string(reinterpret_cast<const char*>(section->Name), strnlen(reinterpret_cast<const char*>(section->Name), 8));
  return "";
}

TEST(PayloadTable, HoldsTheLoaderFirstAndTheApplicationSecond) {
  ASSERT_EQ(std::size(payloadTable), 2u);
  EXPECT_STREQ(payloadTable[0].fileName, "WebView2Loader.dll");
  EXPECT_STREQ(payloadTable[1].fileName, "Quillmart.exe");
}

TEST(PayloadTable, StreamsLieBackToBackInReadOnlyData) {
  EXPECT_EQ(payloadTable[0].compressedData + payloadTable[0].compressedSize, payloadTable[1].compressedData);
  for (const PayloadEntry& entry : payloadTable) {
    EXPECT_EQ(sectionOf(entry.compressedData), ".rdata") << entry.fileName;
    EXPECT_EQ(sectionOf(entry.compressedData + entry.compressedSize - 1), ".rdata") << entry.fileName;
    MEMORY_BASIC_INFORMATION info{};
    ASSERT_NE(VirtualQuery(entry.compressedData, &info, sizeof info), 0u);
    EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READONLY)) << entry.fileName;
  }
}

TEST(PayloadTable, EachStreamUnpacksToItsInputFile) {
  for (std::size_t i = 0; i < kPayloadEntryCount; ++i) {
    const PayloadEntry& entry = payloadTable[i];
    const Bytes input = readInput(kInputs[i].path);
    ASSERT_FALSE(input.empty()) << kInputs[i].path;
    ASSERT_GE(entry.compressedSize, 6u);
    const std::uint8_t* stream = entry.compressedData;
    EXPECT_EQ(stream[0], 0x78) << entry.fileName;
    EXPECT_EQ(stream[1], 0xDA) << entry.fileName;
    EXPECT_EQ((stream[0] * 256 + stream[1]) % 31, 0) << entry.fileName;
    const std::uint32_t adler = static_cast<std::uint32_t>(
        adler32(adler32(0, nullptr, 0), input.data(), static_cast<uInt>(input.size())));
    const std::uint8_t* trailer = stream + entry.compressedSize - 4;
    EXPECT_EQ(std::uint32_t{trailer[0]} << 24 | std::uint32_t{trailer[1]} << 16 | std::uint32_t{trailer[2]} << 8 |
                  trailer[3],
              adler)
        << entry.fileName;

    UnpackStats stats;
    const auto unpacked = unpack({stream, static_cast<std::size_t>(entry.compressedSize)}, &stats);
    ASSERT_TRUE(unpacked.has_value()) << entry.fileName;
    EXPECT_TRUE(unpacked->size() == input.size() && std::memcmp(unpacked->data(), input.data(), input.size()) == 0)
        << entry.fileName << " differs from " << kInputs[i].path;
    EXPECT_EQ(stats.growths, expectedGrowths(entry.compressedSize, input.size())) << entry.fileName;
    std::printf("%s: %llu compressed bytes, first buffer %llu, grew %u time(s) to %zu, %zu bytes unpacked\n",
                entry.fileName, static_cast<unsigned long long>(entry.compressedSize),
                static_cast<unsigned long long>(2 * entry.compressedSize), stats.growths, stats.bufferLength,
                unpacked->size());
  }
}

}  // namespace
}  // namespace qmt
