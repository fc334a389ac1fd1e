// The release check: reads the payload streams back out of a finished setup executable, through its own payload
// table, inflates them with zlib and compares them byte for byte with the build's input files.
//
//   qmt-payload-check Quillmart-Setup.exe WebView2Loader.dll Quillmart.exe
//
// The table is found the way the program finds it: the PE image is mapped by its section headers, the entry whose
// fileName points at "WebView2Loader.dll" is located, and the data pointers and lengths are followed from there.
// Prints one line per entry (file name, compressed size, unpacked size, first two bytes, Adler-32 trailer), then
// the folder of the input files and each input's SHA-256: the report names the files the user meant, so a build
// from other files cannot pass unnoticed. Exits 0 only when both streams are intact, lie back to back in read-only
// data, begin with 78 DA and inflate to exactly the input files; 1 when any of that does not hold; 2 when a file
// cannot be read.

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tool_support.h"

namespace qmt::tools {
namespace {

constexpr std::uint32_t kScnMemWrite = 0x80000000;
constexpr std::uint32_t kScnMemRead = 0x40000000;
const char* const kEntryNames[2] = {"WebView2Loader.dll", "Quillmart.exe"};

std::uint64_t readLe(const Bytes& bytes, std::size_t offset, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | bytes[offset + static_cast<std::size_t>(i)];
  return value;
}

struct Section {
  std::string name;
  std::uint32_t virtualAddress;
  std::uint32_t virtualSize;
  std::uint32_t rawSize;
  std::uint32_t rawOffset;
  std::uint32_t characteristics;
};

class PeImage {
 public:
  // nullopt with `why` set when the file is not a PE32+ image.
  static std::optional<PeImage> parse(const Bytes& file, std::string& why) {
    PeImage image{file};
    if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') return (why = "no MZ header"), std::nullopt;
    const std::size_t pe = readLe(file, 0x3C, 4);
    if (pe + 24 > file.size() || std::memcmp(&file[pe], "PE\0\0", 4) != 0)
      return (why = "no PE signature"), std::nullopt;
    const std::size_t sectionCount = readLe(file, pe + 6, 2);
    const std::size_t optionalSize = readLe(file, pe + 20, 2);
    const std::size_t optional = pe + 24;
    if (optional + optionalSize > file.size() || optionalSize < 32 || readLe(file, optional, 2) != 0x20B)
      return (why = "not a PE32+ image"), std::nullopt;
    image.imageBase_ = readLe(file, optional + 24, 8);
    const std::size_t table = optional + optionalSize;
    if (table + sectionCount * 40 > file.size()) return (why = "section table cut off"), std::nullopt;
    for (std::size_t i = 0; i < sectionCount; ++i) {
      const std::size_t at = table + i * 40;
      Section section;
      section.name.assign(reinterpret_cast<const char*>(&file[at]), strnlen(reinterpret_cast<const char*>(&file[at]), 8));
      section.virtualSize = static_cast<std::uint32_t>(readLe(file, at + 8, 4));
      section.virtualAddress = static_cast<std::uint32_t>(readLe(file, at + 12, 4));
      section.rawSize = static_cast<std::uint32_t>(readLe(file, at + 16, 4));
      section.rawOffset = static_cast<std::uint32_t>(readLe(file, at + 20, 4));
      section.characteristics = static_cast<std::uint32_t>(readLe(file, at + 36, 4));
      if (std::uint64_t{section.rawOffset} + section.rawSize > file.size())
        return (why = "section " + section.name + " beyond the end of the file"), std::nullopt;
      image.sections_.push_back(section);
    }
    return image;
  }

  // The section holding `length` bytes at virtual address `va` in the file, or null.
  const Section* sectionOf(std::uint64_t va, std::uint64_t length) const {
    if (va < imageBase_) return nullptr;
    const std::uint64_t rva = va - imageBase_;
    for (const Section& s : sections_)
      if (rva >= s.virtualAddress && rva - s.virtualAddress + length <= s.rawSize) return &s;
    return nullptr;
  }
  std::optional<std::size_t> fileOffset(std::uint64_t va, std::uint64_t length) const {
    const Section* s = sectionOf(va, length);
    if (s == nullptr) return std::nullopt;
    return s->rawOffset + (va - imageBase_ - s->virtualAddress);
  }
  std::optional<std::uint64_t> virtualAddressOf(std::size_t offset) const {
    for (const Section& s : sections_)
      if (offset >= s.rawOffset && offset < std::uint64_t{s.rawOffset} + s.rawSize)
        return imageBase_ + s.virtualAddress + (offset - s.rawOffset);
    return std::nullopt;
  }
  bool isNulTerminated(std::uint64_t va, const char* text) const {
    const std::size_t length = std::strlen(text) + 1;
    const auto at = fileOffset(va, length);
    return at && std::memcmp(&file_[*at], text, length) == 0;
  }
  const std::vector<Section>& sections() const { return sections_; }

 private:
  explicit PeImage(const Bytes& file) : file_(file) {}
  const Bytes& file_;
  std::uint64_t imageBase_ = 0;
  std::vector<Section> sections_;
};

// The folder part of a path as given ("." for a bare name).
std::string folderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

void printInputs(const std::string inputPaths[2], const Bytes inputs[2]) {
  const std::string dll = folderOf(inputPaths[0]);
  const std::string exe = folderOf(inputPaths[1]);
  if (dll == exe) std::printf("payload folder: %s\n", dll.c_str());
  else std::printf("payload folders: %s, %s\n", dll.c_str(), exe.c_str());
  for (int i = 0; i < 2; ++i) std::printf("%-20s sha256 %s\n", kEntryNames[i], sha256Hex(inputs[i]).c_str());
}

struct Entry {
  std::uint64_t dataVa;
  std::uint64_t size;
};

// Every place where a two-entry table {name, data, size} x 2 with the two file names lies in the image.
std::vector<std::pair<Entry, Entry>> findTables(const Bytes& file, const PeImage& image) {
  std::vector<std::pair<Entry, Entry>> tables;
  for (const Section& s : image.sections()) {
    for (std::size_t at = s.rawOffset; at + 48 <= std::uint64_t{s.rawOffset} + s.rawSize; at += 8) {
      const std::uint64_t name1 = readLe(file, at, 8);
      const std::uint64_t name2 = readLe(file, at + 24, 8);
      if (!image.isNulTerminated(name1, kEntryNames[0]) || !image.isNulTerminated(name2, kEntryNames[1])) continue;
      tables.push_back({{readLe(file, at + 8, 8), readLe(file, at + 16, 8)},
                        {readLe(file, at + 32, 8), readLe(file, at + 40, 8)}});
    }
  }
  return tables;
}

int check(const std::string& setupPath, const std::string inputPaths[2]) {
  std::string why;
  const auto setup = readFile(setupPath, why);
  if (!setup) return std::fprintf(stderr, "cannot read %s: %s\n", setupPath.c_str(), why.c_str()), 2;
  Bytes inputs[2];
  for (int i = 0; i < 2; ++i) {
    auto bytes = readFile(inputPaths[i], why);
    if (!bytes) return std::fprintf(stderr, "cannot read %s: %s\n", inputPaths[i].c_str(), why.c_str()), 2;
    inputs[i] = std::move(*bytes);
  }
  const auto image = PeImage::parse(*setup, why);
  if (!image) return std::printf("FAIL %s: %s\n", setupPath.c_str(), why.c_str()), 1;
  const auto tables = findTables(*setup, *image);
  if (tables.size() != 1)
    return std::printf("FAIL %s: %zu payload tables found, expected one\n", setupPath.c_str(), tables.size()), 1;
  const Entry entries[2] = {tables[0].first, tables[0].second};

  bool intact = true;
  std::printf("%-20s %10s %10s %6s %12s  %s\n", "name", "compressed", "unpacked", "first", "adler", "section");
  for (int i = 0; i < 2; ++i) {
    const Section* section = image->sectionOf(entries[i].dataVa, entries[i].size);
    const auto at = image->fileOffset(entries[i].dataVa, entries[i].size);
    if (section == nullptr || !at || entries[i].size < 6) {
      std::printf("FAIL %s: stream %d lies outside the file's sections\n", kEntryNames[i], i + 1);
      intact = false;
      continue;
    }
    const Bytes stream(setup->begin() + static_cast<std::ptrdiff_t>(*at),
                       setup->begin() + static_cast<std::ptrdiff_t>(*at + entries[i].size));
    const auto unpacked = inflateExactly(stream);
    std::printf("%-20s %10zu %10s %6s %12s  %s\n", kEntryNames[i], stream.size(),
                unpacked ? std::to_string(unpacked->size()).c_str() : "damaged", hexBytes(stream.data(), 2).c_str(),
                trailerHex(stream).c_str(), section->name.c_str());
    const auto fault = [&](const char* what) {
      std::printf("FAIL %s: %s\n", kEntryNames[i], what);
      intact = false;
    };
    if ((section->characteristics & kScnMemWrite) != 0 || (section->characteristics & kScnMemRead) == 0)
      fault("stream is not in read-only data");
    if (stream[0] != 0x78 || stream[1] != 0xDA) fault("stream does not begin with 78 DA");
    if (!unpacked) fault("stream does not inflate (damaged, truncated or with trailing bytes)");
    else if (*unpacked != inputs[i]) fault("inflated stream differs from the input file");
  }
  printInputs(inputPaths, inputs);
  if (entries[0].dataVa + entries[0].size != entries[1].dataVa) {
    std::printf("FAIL: stream 2 does not follow stream 1 directly\n");
    intact = false;
  }
  std::printf("%s\n", intact ? "payload intact" : "payload DIFFERS from its input files");
  return intact ? 0 : 1;
}

}  // namespace
}  // namespace qmt::tools

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: qmt-payload-check SETUP.exe WebView2Loader.dll Quillmart.exe\n");
    return 2;
  }
  const std::string inputs[2] = {argv[2], argv[3]};
  return qmt::tools::check(argv[1], inputs);
}
