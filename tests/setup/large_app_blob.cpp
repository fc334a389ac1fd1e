// Several megabytes of generated, poorly compressible data in the read-only data of a test build of the demo
// application, so that unpacking and writing that Quillmart.exe takes long enough for two setups to overlap. The
// link keeps it through --undefined=qmtLargeBlob; the application never reads it.
asm("  .section .rdata,\"dr\"\n"
    "  .globl qmtLargeBlob\n"
    "qmtLargeBlob:\n"
    "  .incbin \"" QMT_LARGE_BLOB "\"\n"
    "  .text\n");
