// The build's payload packer. For one setup executable it compresses the two input files, each into one zlib
// stream at the highest level (78 DA header, 32 KiB window, no dictionary, Adler-32 trailer), and writes:
//   stream1.zlib, stream2.zlib  the streams, in table order
//   payload_streams.cpp         assembler .incbin of both into .rdata, back to back, with the table's symbols
//   payload_streams.h           their exact lengths, for the constant-initialised payload table
//   streams.tsv                 one line per stream: name, sizes, first two bytes, Adler-32 trailer (also
//                               copied to --tsv FILE when given)
// Every stream is inflated again and compared with its input before anything is written, so a faulty compressor
// cannot produce a setup.
//
//   qmt-payload-pack --out-dir DIR [--zopfli] [--damage N] [--tsv FILE] WebView2Loader.dll Quillmart.exe
//
// --damage N (tests only) changes one byte in the middle of stream N, to build a setup that must refuse it.

#include <zlib.h>
#include <zopfli/zopfli.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tool_support.h"

namespace qmt::tools {
namespace {

struct Options {
  std::string outDir;
  std::string tsvPath;
  bool zopfli = false;
  int damage = 0;  // 0: none; 1 or 2: the entry whose stream is damaged
  std::vector<std::string> inputs;
};

const char* const kEntryNames[2] = {"WebView2Loader.dll", "Quillmart.exe"};

[[noreturn]] void fail(const std::string& text) {
  std::fprintf(stderr, "qmt-payload-pack: %s\n", text.c_str());
  std::exit(1);
}

Options parseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--out-dir" && i + 1 < argc) {
      options.outDir = argv[++i];
    } else if (arg == "--tsv" && i + 1 < argc) {
      options.tsvPath = argv[++i];
    } else if (arg == "--damage" && i + 1 < argc) {
      options.damage = std::atoi(argv[++i]);
      if (options.damage != 1 && options.damage != 2) fail("--damage takes 1 or 2");
    } else if (arg == "--zopfli") {
      options.zopfli = true;
    } else if (!arg.empty() && arg[0] == '-') {
      fail("unknown option " + arg);
    } else {
      options.inputs.push_back(arg);
    }
  }
  if (options.outDir.empty() || options.inputs.size() != 2)
    fail("usage: qmt-payload-pack --out-dir DIR [--zopfli] [--damage N] [--tsv FILE] DLL EXE");
  return options;
}

Bytes compressWithZlib(const Bytes& input) {
  z_stream z{};
  // Level 9, 32 KiB window (15), zlib's default memory level (8; level 9 with memory level 9 came out larger on
  // executables) and strategy: the header becomes 78 DA.
  if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    fail("deflateInit2 failed");
  Bytes out(deflateBound(&z, static_cast<uLong>(input.size())));
  z.next_in = const_cast<Bytef*>(input.data());
  z.avail_in = static_cast<uInt>(input.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (result != Z_STREAM_END) fail("deflate did not finish");
  return out;
}

Bytes compressWithZopfli(const Bytes& input) {
  ZopfliOptions options;
  ZopfliInitOptions(&options);
  unsigned char* out = nullptr;
  size_t outSize = 0;
  ZopfliCompress(&options, ZOPFLI_FORMAT_ZLIB, input.data(), input.size(), &out, &outSize);
  Bytes stream(out, out + outSize);
  std::free(out);
  return stream;
}

// The properties every stream must have before it may go into a setup.
void verifyStream(const std::string& path, const Bytes& input, const Bytes& stream) {
  if (stream.size() < 6 || stream[0] != 0x78 || stream[1] != 0xDA || (stream[0] * 256 + stream[1]) % 31 != 0)
    fail("stream of " + path + " does not begin with 78 DA");
  const std::uint32_t adler = adler32Of(input);
  const std::uint8_t* tail = stream.data() + stream.size() - 4;
  const std::uint32_t trailer = std::uint32_t{tail[0]} << 24 | std::uint32_t{tail[1]} << 16 |
                                std::uint32_t{tail[2]} << 8 | std::uint32_t{tail[3]};
  if (trailer != adler) fail("stream of " + path + " does not end with its Adler-32");
  const auto back = inflateExactly(stream);
  if (!back || *back != input) fail("stream of " + path + " does not inflate to the file");
}

// Flips a byte in the middle of the deflate data; if that happened to leave a stream that still inflates to the
// input, the trailer is changed as well, so the result is certain to be refused.
void damage(Bytes& stream, const Bytes& input) {
  stream[stream.size() / 2] ^= 0xFF;
  const auto back = inflateExactly(stream);
  if (back && *back == input) stream.back() ^= 0xFF;
}

// `text` as a string literal for the assembler, and that as a C++ string literal: backslashes and quotes escaped.
std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

std::string incbinLine(const std::string& path) {
  return "    \"  .incbin " + escaped("\"" + escaped(path) + "\"") + "\\n\"\n";
}

// A top-level assembler block (compiled by the C++ compiler, so the build needs no assembler language of its own)
// that places both streams into .rdata, back to back, with the symbols the payload table refers to. The file holds
// nothing else, and the block ends in .text, where the compiler expects to be (PE assemblers lack .pushsection).
std::string streamsSource(const std::string& stream1, const std::string& stream2) {
  return "// Generated by qmt-payload-pack. The two payload streams in the executable's read-only data, entry 2\n"
         "// directly after the last byte of entry 1.\n"
         "asm(\"  .section .rdata,\\\"dr\\\"\\n\"\n"
         "    \"  .globl qmtPayloadStream1\\n\"\n"
         "    \"qmtPayloadStream1:\\n\"\n" +
         incbinLine(stream1) +
         "    \"  .globl qmtPayloadStream2\\n\"\n"
         "    \"qmtPayloadStream2:\\n\"\n" +
         incbinLine(stream2) +
         "    \"  .text\\n\");\n";
}

std::string sizesHeader(std::size_t size1, std::size_t size2) {
  return "// Generated by qmt-payload-pack: the exact lengths of the streams in payload_streams.cpp.\n"
         "#pragma once\n"
         "#include <cstdint>\n"
         "namespace qmt::payload_streams {\n"
         "inline constexpr std::uint64_t kStream1Size = " + std::to_string(size1) + "u;\n"
         "inline constexpr std::uint64_t kStream2Size = " + std::to_string(size2) + "u;\n"
         "}  // namespace qmt::payload_streams\n";
}

std::string tsvLine(const char* name, const Bytes& stream, std::size_t unpacked) {
  return std::string(name) + '\t' + std::to_string(stream.size()) + '\t' + std::to_string(unpacked) + '\t' +
         hexBytes(stream.data(), 2) + '\t' + trailerHex(stream) + '\n';
}

void write(const std::string& path, const std::string& text) {
  std::string why;
  if (!writeText(path, text, why)) fail("cannot write " + path + ": " + why);
}

int run(int argc, char** argv) {
  const Options options = parseOptions(argc, argv);
  Bytes streams[2];
  std::size_t unpacked[2] = {};
  for (int i = 0; i < 2; ++i) {
    const std::string& path = options.inputs[i];
    std::string why;
    const auto input = readFile(path, why);
    if (!input) fail("cannot read payload file " + path + ": " + why);
    if (input->size() > 0xFFFFFFFFu) fail("payload file " + path + " is too large for one pass");
    streams[i] = options.zopfli ? compressWithZopfli(*input) : compressWithZlib(*input);
    verifyStream(path, *input, streams[i]);
    if (options.damage == i + 1) damage(streams[i], *input);
    unpacked[i] = input->size();
  }
  const std::string stream1 = options.outDir + "/stream1.zlib";
  const std::string stream2 = options.outDir + "/stream2.zlib";
  std::string why;
  if (!writeFile(stream1, streams[0], why)) fail("cannot write " + stream1 + ": " + why);
  if (!writeFile(stream2, streams[1], why)) fail("cannot write " + stream2 + ": " + why);
  write(options.outDir + "/payload_streams.cpp", streamsSource(stream1, stream2));
  write(options.outDir + "/payload_streams.h", sizesHeader(streams[0].size(), streams[1].size()));
  const std::string tsv = "name\tcompressedSize\tunpackedSize\tfirstTwoBytes\tadler\n" +
                          tsvLine(kEntryNames[0], streams[0], unpacked[0]) +
                          tsvLine(kEntryNames[1], streams[1], unpacked[1]);
  write(options.outDir + "/streams.tsv", tsv);
  if (!options.tsvPath.empty()) write(options.tsvPath, tsv);
  std::fputs(tsv.c_str(), stdout);
  return 0;
}

}  // namespace
}  // namespace qmt::tools

int main(int argc, char** argv) { return qmt::tools::run(argc, argv); }
