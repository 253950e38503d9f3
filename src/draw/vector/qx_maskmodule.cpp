// The OpenCV module of the rasteriser (maskcv/), carried inside the player
// as bytes: a copied player (a linked applet) needs no file beside it.
// The build passes the module's path; the object is rebuilt when it changes.
#ifndef QX_MASK_MODULE
#error "QX_MASK_MODULE names the built OpenCV module"
#endif

__asm__(".pushsection .rodata\n"
        ".balign 64\n"
        ".globl qxMaskModuleStart\n"
        ".hidden qxMaskModuleStart\n"
        "qxMaskModuleStart:\n"
        ".incbin \"" QX_MASK_MODULE "\"\n"
        ".globl qxMaskModuleEnd\n"
        ".hidden qxMaskModuleEnd\n"
        "qxMaskModuleEnd:\n"
        ".popsection\n");
