// sdk/host/c_abi.h - calling convention and export markers for everything
// that crosses the binary boundary with the host.
//
// KORVO_CDECL (the C calling convention, spelled out on 32-bit x86 so a
// compiler default can never change it) and KORVO_EXPORT (the one symbol the
// plug-in library exports, with C linkage) are spelled once, in the
// contract header, for GCC, Clang and Microsoft's compiler alike.
#pragma once

#include "sdk/contract/korvo_plugin.h"
