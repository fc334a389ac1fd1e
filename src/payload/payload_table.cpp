// The payload table of one setup executable. The streams themselves are placed into .rdata by the generated
// payload_streams.cpp (an assembler .incbin of each stream), and their exact lengths come from the generated
// payload_streams.h; both are written by the build's payload packer for this executable, so this file is compiled
// once per setup.

#include "payload/payload_table.h"

#include "payload_streams.h"

extern "C" {
// Defined by payload_streams.cpp, entry 2 directly after the last byte of entry 1.
extern const std::uint8_t qmtPayloadStream1[];
extern const std::uint8_t qmtPayloadStream2[];
}

namespace qmt {

constinit const PayloadEntry payloadTable[kPayloadEntryCount] = {
    {"WebView2Loader.dll", qmtPayloadStream1, payload_streams::kStream1Size},
    {"Quillmart.exe", qmtPayloadStream2, payload_streams::kStream2Size},
};

}  // namespace qmt
