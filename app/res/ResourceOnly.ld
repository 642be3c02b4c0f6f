/* A resource-only module: the resource section and nothing else. The default script
   would add an empty import list, an export directory and a code section even without
   any code; none of them belongs in a module that only holds resources. */
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .rsrc __image_base__ + (__section_alignment__ < 0x1000 ? . : __section_alignment__) :
  {
    *(.rsrc)
    *(SORT(.rsrc$*))
  }
  /DISCARD/ : { *(.text*) *(.data*) *(.rdata*) *(.bss*) *(.idata*) *(.edata*) *(.CRT*) *(.tls*) }
}
