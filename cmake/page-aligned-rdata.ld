/* Augments the linker's default script (ld -T with INSERT): the read-only data, which holds the payload streams,
   starts at a page boundary of the file, not only of memory.

   Wine maps a section of an image straight from the file only when its bytes start at a page boundary of the
   file; otherwise it reads the whole section into fresh memory when the process starts, one page fault per page.
   Mapped, the streams cost a page fault per 16 pages as inflate reads them (the kernel maps the pages around a
   fault too): on a 5 MB stream that is about 1,000 faults and a tenth of the whole run fewer. Windows maps every
   image page by page whatever its layout, so there this changes nothing.

   The sections before .rdata are .text and .data, each taking its size rounded up to the file alignment in the
   file, after the headers. A section of zero bytes between .data and .rdata takes up the rest of the page: at least
   one byte, so it is kept and has bytes in the file, and so a whole page when nothing would be missing. */
SECTIONS
{
  .rdpad BLOCK(__section_alignment__) :
  {
    BYTE(0)
    . += ((0x1000 - ((ALIGN(SIZEOF_HEADERS, __file_alignment__) + ALIGN(SIZEOF(.text), __file_alignment__)
                       + ALIGN(SIZEOF(.data), __file_alignment__)) & 0xFFF) - 1) & 0xFFF);
  }
}
INSERT AFTER .data;
